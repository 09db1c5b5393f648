#include "expression_module.h"

#include <cfloat>
#include <cmath>
#include <thread>

#include "float_state.h"

namespace {

// Engine names, also the names of the pins bound to them.
const char* const kInputNames[ExpressionModule::kInputCount] = {"u", "v", "w", "x", "y", "z"};
const char* const kOutputNames[ExpressionModule::kOutputCount] = {"out1", "out2", "out3"};
const char* const kInitName = "Init";
const char* const kExprName = "Expr";
const char* const kInputDefault = "0";

// Narrowing as IEEE round-to-nearest does it, without relying on the
// conversion of a double outside the float range.
float narrowToFloat(double value) noexcept {
    constexpr double kMax = static_cast<double>(FLT_MAX);
    // FLT_MAX plus half a unit in its last place: from here on the value
    // rounds to infinity (the tie goes to the even neighbour, infinity).
    constexpr double kOverflow = 0x1.ffffffp127;
    static_assert(kOverflow > kMax && kOverflow - kMax == 0x1p103);
    if (value >= kOverflow) return INFINITY;
    if (value <= -kOverflow) return -INFINITY;
    if (value > kMax) return FLT_MAX;
    if (value < -kMax) return -FLT_MAX;
    return static_cast<float>(value);
}

void QUORVEL_CDECL processSamplesEntry(void* object, int32_t start, int32_t count) noexcept {
    EngineFloatState floatState;
    if (ModuleBase* module = ModuleBase::fromObject(object))
        static_cast<ExpressionModule*>(module)->processSamples(start, count);
}

void writeSilence(float* const* out, std::size_t first, std::size_t end) noexcept {
    for (int32_t k = 0; k < ExpressionModule::kOutputCount; ++k)
        if (out[k])
            for (std::size_t i = first; i < end; ++i) out[k][i] = 0.0f;
}

}  // namespace

extern "C" int32_t moduleAbortCheck(ExprContext* context) {
    auto* module = static_cast<ExpressionModule*>(exprUserData(context));
    return module ? module->abortCheck(context) : 1;
}

ExpressionModule::ExpressionModule(HostCallback callback, void* hostData) noexcept : ModuleBase(callback, hostData) {
    if (setUpEngine()) ready.store(1);
}

bool ExpressionModule::setUpEngine() noexcept {
    if (exprNewTable(&functions) != EXPR_OK || exprRegisterBuiltins(functions) != EXPR_OK ||
        exprNewTable(&constants) != EXPR_OK || exprRegisterConstants(constants) != EXPR_OK ||
        exprNewTable(&variables) != EXPR_OK)
        return false;

    // Results are judged by the lookups: a failed insertion shows as a null address.
    for (const char* name : kInputNames) exprSetVariable(variables, name, 0.0);
    for (const char* name : kOutputNames) exprSetVariable(variables, name, 0.0);
    exprSetVariable(constants, "time", 0.0);
    exprSetVariable(constants, "sample", 0.0);
    exprSetVariable(constants, "rate", 0.0);

    bool found = true;
    for (int32_t k = 0; k < kInputCount; ++k) found &= exprFindVariable(variables, kInputNames[k], &inputValues[k]) == EXPR_OK && inputValues[k];
    for (int32_t k = 0; k < kOutputCount; ++k) found &= exprFindVariable(variables, kOutputNames[k], &outputValues[k]) == EXPR_OK && outputValues[k];
    found &= exprFindVariable(constants, "time", &timeValue) == EXPR_OK && timeValue;
    found &= exprFindVariable(constants, "sample", &sampleValue) == EXPR_OK && sampleValue;
    found &= exprFindVariable(constants, "rate", &rateValue) == EXPR_OK && rateValue;
    if (!found) return false;

    for (ExprContext** context : {&exprContext, &initContext}) {
        if (exprNewContext(context, functions, variables, constants, 0, &moduleAbortCheck, this) != EXPR_OK) {
            *context = nullptr;
            return false;
        }
        exprSetZeroOnMathError(*context, 1);
    }
    return true;
}

ExpressionModule::~ExpressionModule() {
    closing.store(1);
    ready.store(0);
    suspended.store(1);
    // A block in flight ends before the engine goes; one that begins from
    // here on sees `closing` and writes silence only.
    waitForAudio();
    // The contexts first: their trees point into the tables.
    exprFreeContext(exprContext);
    exprFreeContext(initContext);
    exprFreeFunctionTable(functions);
    exprFreeVarTable(variables);
    exprFreeVarTable(constants);
    // A block that began meanwhile ends before the object's memory goes.
    waitForAudio();
}

bool ExpressionModule::getPinProperties(int32_t index, PinProperties* props) noexcept {
    if (index >= 0 && index < kInputCount) {
        props->variable = &inputs[index];
        props->direction = DIRECTION_IN;
        props->datatype = DATATYPE_AUDIO;
        props->pinName = kInputNames[index];
        props->defaultValue = kInputDefault;
        return true;
    }
    if (index == kInitPin || index == kExprPin) {
        props->variable = index == kInitPin ? &initText : &exprText;
        props->direction = DIRECTION_IN;
        props->datatype = DATATYPE_TEXT;
        props->pinName = index == kInitPin ? kInitName : kExprName;
        return true;
    }
    if (index >= kFirstOutputPin && index < kFirstOutputPin + kOutputCount) {
        props->variable = &outputs[index - kFirstOutputPin];
        props->direction = DIRECTION_OUT;
        props->datatype = DATATYPE_AUDIO;
        props->pinName = kOutputNames[index - kFirstOutputPin];
        return true;
    }
    return false;
}

void ExpressionModule::open() noexcept {
    ModuleBase::open();
    setProcessFunction(&processSamplesEntry);
    stopAudio();
    // A rate the time step cannot be built from leaves time standing still.
    const float rate = getSampleRate();
    pendingTimeStep = rate > 0.0f && std::isfinite(rate) ? 1.0 / static_cast<double>(rate) : 0.0;
    restartPending = true;
    if (ready.load() == 1) *rateValue = static_cast<double>(rate);
    // Without its pins the instance stays silent until a later open succeeds.
    suspended.store(pinBlockFailed() ? 1 : 0);
}

void ExpressionModule::close() noexcept {
    closing.store(1);
    suspended.store(1);
}

void ExpressionModule::onPinUpdate(ModulePin* pin) noexcept {
    for (int32_t k = 0; k < kOutputCount; ++k) {
        // A host reporting fewer pins has no such output to report on.
        if (ModulePin* output = boundPin(kFirstOutputPin + k)) output->sendStatus(hostStamp(), PIN_STATUS_ACTIVE);
    }
    if (ready.load() == 0) return;
    suspended.store(1);
    ready.store(0);
    waitForAudio();
    if (pin->index == kInitPin) {
        exprClear(initContext);
        exprParse(initContext, initText);
    } else if (pin->index == kExprPin) {
        exprClear(exprContext);
        exprParse(exprContext, exprText);
    }
    ready.store(1);
    suspended.store(0);
}

void ExpressionModule::stopAudio() noexcept {
    suspended.store(1);
    waitForAudio();
}

void ExpressionModule::waitForAudio() const noexcept {
    while (evaluating.load() != 0) std::this_thread::yield();
}

bool ExpressionModule::running() const noexcept { return ready.load() != 0 && suspended.load() == 0; }

int32_t ExpressionModule::abortCheck(ExprContext* context) noexcept {
    if (suspended.load() != 0) return 1;
    const int32_t budget = context == initContext ? kInitPollBudget : kExprPollBudget;
    return ++pollsThisEvaluation >= budget ? 1 : 0;
}

bool ExpressionModule::claimEngine() noexcept {
    if (suspended.load() != 0) return false;
    if (restartPending) {
        restartPending = false;
        timeStep = pendingTimeStep;
        runningTime = 0.0;
        sampleCount = 0;
    }
    return ready.load() != 0;
}

void ExpressionModule::processSamples(int32_t start, int32_t count) noexcept {
    if (count <= 0 || start < 0) return;
    const std::size_t first = static_cast<std::size_t>(start);
    const std::size_t end = first + static_cast<std::size_t>(count);
    // Raised before anything else is touched, lowered as the last access:
    // whoever raised `suspended` and then saw this fall may change or free
    // the engine state. Both are sequentially consistent, so a block cannot
    // miss `suspended` while its raiser misses `evaluating`.
    evaluating.store(1);
    float* out[kOutputCount];
    for (int32_t k = 0; k < kOutputCount; ++k) out[k] = outputs[k];
    if (closing.load() != 0) {
        // The instance is going away: nothing but silence is written.
        writeSilence(out, first, end);
        evaluating.store(0);
        return;
    }
    const float* in[kInputCount];
    for (int32_t k = 0; k < kInputCount; ++k) in[k] = inputs[k];
    bool mayEvaluate = claimEngine();
    for (std::size_t i = first; i < end; ++i) {
        mayEvaluate = mayEvaluate && running();
        // An Expr stopped by its budget has spent a whole sample's worth of
        // real time and more: the rest of the block is silent rather than
        // paying that again at every sample. The next block tries anew.
        if (mayEvaluate) mayEvaluate = evaluateSample(in, out, i) != EXPR_ERR_ABORTED;
        else writeSilence(out, i, i + 1);
        advanceClock();
    }
    evaluating.store(0);
}

void ExpressionModule::advanceClock() noexcept {
    runningTime += timeStep;
    ++sampleCount;
}

int32_t ExpressionModule::evaluateSample(const float* const* in, float* const* out, std::size_t i) noexcept {
    for (int32_t k = 0; k < kInputCount; ++k)
        *inputValues[k] = (in[k] ? static_cast<double>(in[k][i]) : 0.0) * 10.0;
    *timeValue = runningTime;
    *sampleValue = static_cast<double>(sampleCount);
    double value;
    if (sampleCount == 0) {
        pollsThisEvaluation = 0;
        exprEvaluate(initContext, &value);
    }
    pollsThisEvaluation = 0;
    const int32_t code = exprEvaluate(exprContext, &value);
    for (int32_t k = 0; k < kOutputCount; ++k) {
        // 0.1 is the double nearest one tenth; multiplying by it is not the
        // same as dividing by 10.
        if (out[k]) out[k][i] = code == EXPR_OK ? narrowToFloat(*outputValues[k] * 0.1) : 0.0f;
    }
    return code;
}
