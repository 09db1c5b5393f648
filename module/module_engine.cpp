// The engine of one module instance: its set-up from the pin table, the
// budgets of both texts, and the per-sample step with its scaling,
// narrowing and silence.
#include "module_engine.h"

#include <cfloat>
#include <cmath>

namespace quorvel::module {

namespace {

// Constants the module binds besides the fourteen mathematical ones.
const char* const kTimeName = "time";
const char* const kSampleName = "sample";
const char* const kRateName = "rate";

// The engine name of the n-th pin with the role.
const char* pinName(PinRole role, int32_t n) {
    return kPins[pinIndex(role, n)].name;
}

void writeSilence(float* const* out, std::size_t i) noexcept {
    for (int32_t k = 0; k < kOutputCount; ++k)
        if (out[k]) out[k][i] = 0.0f;
}

}  // namespace

// The abort callback of both contexts.
extern "C" int32_t moduleAbortCheck(ExprContext* context) {
    auto* engine = static_cast<ModuleEngine*>(exprUserData(context));
    return engine ? engine->abortCheck(context) : 1;
}

float narrowToFloat(double value) noexcept {
    constexpr double kMax = static_cast<double>(FLT_MAX);
    // FLT_MAX plus half a unit in its last place: from here on the value
    // rounds to infinity (the tie goes to the even neighbour, infinity).
    constexpr double kOverflow = 0x1.ffffffp127;
    static_assert(kOverflow > kMax && kOverflow - kMax == 0x1p103);
    if (std::fabs(value) <= kMax) [[likely]]
        return static_cast<float>(value);
    if (value >= kOverflow) return INFINITY;
    if (value <= -kOverflow) return -INFINITY;
    if (value > kMax) return FLT_MAX;
    if (value < -kMax) return -FLT_MAX;
    return static_cast<float>(value);  // in range, or NaN
}

ModuleEngine::ModuleEngine(const std::atomic<int32_t>* stop) noexcept : stop_(stop) {
    ready_ = setUp();
}

bool ModuleEngine::setUp() noexcept {
    if (exprNewTable(&functions_) != EXPR_OK || exprRegisterBuiltins(functions_) != EXPR_OK ||
        exprNewTable(&constants_) != EXPR_OK || exprRegisterConstants(constants_) != EXPR_OK ||
        exprNewTable(&variables_) != EXPR_OK)
        return false;

    // Results are judged by the lookups: a failed insertion shows as a null address.
    for (int32_t k = 0; k < kInputCount; ++k) exprSetVariable(variables_, pinName(PinRole::Input, k), 0.0);
    for (int32_t k = 0; k < kOutputCount; ++k) exprSetVariable(variables_, pinName(PinRole::Output, k), 0.0);
    for (const char* name : {kTimeName, kSampleName, kRateName}) exprSetVariable(constants_, name, 0.0);

    auto bind = [](NameTable* table, const char* name, double** value) {
        return exprFindVariable(table, name, value) == EXPR_OK && *value != nullptr;
    };
    bool found = true;
    for (int32_t k = 0; k < kInputCount; ++k) found &= bind(variables_, pinName(PinRole::Input, k), &inputValues_[k]);
    for (int32_t k = 0; k < kOutputCount; ++k)
        found &= bind(variables_, pinName(PinRole::Output, k), &outputValues_[k]);
    found &= bind(constants_, kTimeName, &timeValue_);
    found &= bind(constants_, kSampleName, &sampleValue_);
    found &= bind(constants_, kRateName, &rateValue_);
    if (!found) return false;

    for (ExprContext** context : {&exprContext_, &initContext_}) {
        if (exprNewContext(context, functions_, variables_, constants_, 0, &moduleAbortCheck, this) != EXPR_OK) {
            *context = nullptr;
            return false;
        }
        exprSetZeroOnMathError(*context, 1);
    }
    return true;
}

ModuleEngine::~ModuleEngine() {
    // The contexts first: their trees point into the tables.
    exprFreeContext(exprContext_);
    exprFreeContext(initContext_);
    exprFreeFunctionTable(functions_);
    exprFreeVarTable(variables_);
    exprFreeVarTable(constants_);
}

namespace {
int32_t parseInto(bool ready, ExprContext* context, const char* text, ExprParseReport* report) noexcept {
    if (!ready) {
        if (report) *report = ExprParseReport{EXPR_ERR_MEMORY, -1, 0, -1};
        return EXPR_ERR_MEMORY;
    }
    exprClear(context);
    return report ? exprParseWithReport(context, text, report) : exprParse(context, text);
}
}  // namespace

int32_t ModuleEngine::parseExpr(const char* text, ExprParseReport* report) noexcept {
    return parseInto(ready_, exprContext_, text, report);
}

int32_t ModuleEngine::parseInit(const char* text, ExprParseReport* report) noexcept {
    return parseInto(ready_, initContext_, text, report);
}

void ModuleEngine::restart(float rate) noexcept {
    // A rate the time step cannot be built from leaves time standing still.
    pendingTimeStep_ = rate > 0.0f && std::isfinite(rate) ? 1.0 / static_cast<double>(rate) : 0.0;
    restartPending_ = true;
    if (ready_) *rateValue_ = static_cast<double>(rate);
}

int32_t ModuleEngine::abortCheck(ExprContext* context) noexcept {
    if (stopped()) return 1;
    const int32_t budget = context == initContext_ ? kInitPollBudget : kExprPollBudget;
    return ++pollsThisEvaluation_ >= budget ? 1 : 0;
}

void ModuleEngine::process(const float* const* in, float* const* out, std::size_t first, std::size_t end, bool evaluate,
                           int32_t* codes) noexcept {
    if (evaluate && restartPending_) {
        restartPending_ = false;
        timeStep_ = pendingTimeStep_;
        runningTime_ = 0.0;
        sampleCount_ = 0;
    }
    bool mayEvaluate = evaluate && ready_;
    const int32_t silentCode = ready_ ? EXPR_ERR_ABORTED : EXPR_ERR_NOT_READY;
    for (std::size_t i = first; i < end; ++i) {
        mayEvaluate = mayEvaluate && !stopped();
        int32_t code = silentCode;
        if (mayEvaluate) {
            code = evaluateSample(in, out, i);
            // An Expr stopped by its budget has spent a whole sample's worth
            // of real time and more: the rest of the block is silent rather
            // than paying that again at every sample. The next block tries anew.
            mayEvaluate = code != EXPR_ERR_ABORTED;
        } else {
            writeSilence(out, i);
        }
        if (codes) codes[i - first] = code;
        runningTime_ += timeStep_;
        ++sampleCount_;
    }
}

int32_t ModuleEngine::evaluateSample(const float* const* in, float* const* out, std::size_t i) noexcept {
    for (int32_t k = 0; k < kInputCount; ++k) *inputValues_[k] = (in[k] ? static_cast<double>(in[k][i]) : 0.0) * 10.0;
    *timeValue_ = runningTime_;
    *sampleValue_ = static_cast<double>(sampleCount_);
    double value;
    if (sampleCount_ == 0) [[unlikely]] {
        pollsThisEvaluation_ = 0;
        exprEvaluate(initContext_, &value);
    }
    pollsThisEvaluation_ = 0;
    const int32_t code = exprEvaluate(exprContext_, &value);
    if (code != EXPR_OK) {
        writeSilence(out, i);
        return code;
    }
    // 0.1 is the double nearest one tenth; multiplying by it is not the same
    // as dividing by 10.
    for (int32_t k = 0; k < kOutputCount; ++k)
        if (out[k]) out[k][i] = narrowToFloat(*outputValues_[k] * 0.1);
    return code;
}

}  // namespace quorvel::module
