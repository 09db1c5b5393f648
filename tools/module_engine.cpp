#include "module_engine.h"

#include <cfloat>
#include <cmath>

namespace quorvel::tools {

namespace {

const char* const kInputNames[ModuleEngine::kInputCount] = {"u", "v", "w", "x", "y", "z"};
const char* const kOutputNames[ModuleEngine::kOutputCount] = {"out1", "out2", "out3"};

}  // namespace

float narrowToFloat(double value) {
    constexpr double kMax = static_cast<double>(FLT_MAX);
    // FLT_MAX plus half a unit in its last place: from here on the value
    // rounds to infinity.
    constexpr double kOverflow = 0x1.ffffffp127;
    if (std::isnan(value)) return static_cast<float>(value);
    if (value >= kOverflow) return INFINITY;
    if (value <= -kOverflow) return -INFINITY;
    if (value > kMax) return FLT_MAX;
    if (value < -kMax) return -FLT_MAX;
    return static_cast<float>(value);
}

std::vector<NamedValue> tableEntries(NameTable* table) {
    std::vector<NamedValue> entries;
    if (!table) return entries;
    // In-order walk without recursion: a table filled in name order is a list.
    std::vector<VarEntry*> pending;
    VarEntry* entry = static_cast<VarEntry*>(table->root);
    while (entry || !pending.empty()) {
        while (entry) {
            pending.push_back(entry);
            entry = entry->left;
        }
        entry = pending.back();
        pending.pop_back();
        entries.push_back({entry->name, &entry->value});
        entry = entry->right;
    }
    return entries;
}

ModuleEngine::ModuleEngine() { ready_ = setUp(); }

bool ModuleEngine::setUp() {
    if (exprNewTable(&functions_) != EXPR_OK || exprRegisterBuiltins(functions_) != EXPR_OK ||
        exprNewTable(&constants_) != EXPR_OK || exprRegisterConstants(constants_) != EXPR_OK ||
        exprNewTable(&variables_) != EXPR_OK)
        return false;
    for (const char* name : kInputNames) exprSetVariable(variables_, name, 0.0);
    for (const char* name : kOutputNames) exprSetVariable(variables_, name, 0.0);
    for (const char* name : {"time", "sample", "rate"}) exprSetVariable(constants_, name, 0.0);

    bool found = true;
    for (int32_t k = 0; k < kInputCount; ++k)
        found &= exprFindVariable(variables_, kInputNames[k], &inputValues_[k]) == EXPR_OK;
    for (int32_t k = 0; k < kOutputCount; ++k)
        found &= exprFindVariable(variables_, kOutputNames[k], &outputValues_[k]) == EXPR_OK;
    found &= exprFindVariable(constants_, "time", &timeValue_) == EXPR_OK;
    found &= exprFindVariable(constants_, "sample", &sampleValue_) == EXPR_OK;
    found &= exprFindVariable(constants_, "rate", &rateValue_) == EXPR_OK;
    if (!found) return false;

    for (ExprContext** context : {&exprContext_, &initContext_}) {
        if (exprNewContext(context, functions_, variables_, constants_, 0, &ModuleEngine::abortCheck, this) !=
            EXPR_OK) {
            *context = nullptr;
            return false;
        }
        exprSetZeroOnMathError(*context, 1);
    }
    return true;
}

ModuleEngine::~ModuleEngine() {
    exprFreeContext(exprContext_);
    exprFreeContext(initContext_);
    exprFreeFunctionTable(functions_);
    exprFreeVarTable(variables_);
    exprFreeVarTable(constants_);
}

int32_t ModuleEngine::parseExpr(const std::string& text) {
    if (!ready_) return EXPR_ERR_MEMORY;
    exprClear(exprContext_);
    return exprParse(exprContext_, text.c_str());
}

int32_t ModuleEngine::parseInit(const std::string& text) {
    if (!ready_) return EXPR_ERR_MEMORY;
    exprClear(initContext_);
    return exprParse(initContext_, text.c_str());
}

void ModuleEngine::open(float rate) {
    runningTime_ = 0.0;
    sampleCount_ = 0;
    timeStep_ = rate > 0.0f && std::isfinite(rate) ? 1.0 / static_cast<double>(rate) : 0.0;
    if (ready_) *rateValue_ = static_cast<double>(rate);
}

int32_t ModuleEngine::abortCheck(ExprContext* context) {
    auto* engine = static_cast<ModuleEngine*>(exprUserData(context));
    if (!engine) return 1;
    const int32_t budget = context == engine->initContext_ ? kInitPollBudget : kExprPollBudget;
    return ++engine->pollsThisEvaluation_ >= budget ? 1 : 0;
}

int32_t ModuleEngine::processSample(const float* in, float* out) {
    int32_t code = stoppedThisBlock_ ? EXPR_ERR_ABORTED : EXPR_ERR_NOT_READY;
    if (ready_ && !stoppedThisBlock_) {
        for (int32_t k = 0; k < kInputCount; ++k) *inputValues_[k] = static_cast<double>(in[k]) * 10.0;
        *timeValue_ = runningTime_;
        *sampleValue_ = static_cast<double>(sampleCount_);
        double value;
        if (sampleCount_ == 0) {
            pollsThisEvaluation_ = 0;
            exprEvaluate(initContext_, &value);
        }
        pollsThisEvaluation_ = 0;
        code = exprEvaluate(exprContext_, &value);
        stoppedThisBlock_ = code == EXPR_ERR_ABORTED;
    }
    for (int32_t k = 0; k < kOutputCount; ++k)
        out[k] = code == EXPR_OK ? narrowToFloat(*outputValues_[k] * 0.1) : 0.0f;
    runningTime_ += timeStep_;
    ++sampleCount_;
    return code;
}

}  // namespace quorvel::tools
