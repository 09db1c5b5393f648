// The engine of one module instance: its set-up from the pin table, the
// budgets of both texts, and the per-sample step with its scaling,
// narrowing and silence.
#include "module_engine.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// An output variable times 0.1, narrowed as narrowToFloat does it. 0.1 is
// the double nearest one tenth; multiplying by it is not the same as
// dividing by 10. Where SSE2 is the floating point, its conversion is
// narrowToFloat's very operation, without a branch: the loop runs under
// rounding to nearest with every exception masked (EngineFloatState, or a
// program's default state), where it rounds out-of-range values exactly as
// narrowToFloat spells out, and an intrinsic is defined for every value.
float scaledOutput(const double* variable) noexcept {
#if defined(__SSE2__)
    const __m128d scaled = _mm_mul_sd(_mm_load_sd(variable), _mm_set_sd(0.1));
    return _mm_cvtss_f32(_mm_cvtsd_ss(_mm_setzero_ps(), scaled));
#else
    return narrowToFloat(*variable * 0.1);
#endif
}

// The sample loop runs over at most kRunLength samples at a time, with
// every buffer set up so that it tests no pointer: a missing input reads a
// run of zeros and a missing output writes to a run-long sink.
constexpr std::size_t kRunLength = 256;
constexpr float kZeros[kRunLength] = {};

// Samples start ... start + kRunLength - 1 of the block's buffers, with the
// pins' variables. Only the inputs a text names are copied into their
// variables at every sample; the others, which no text can see, get the last
// evaluated sample's value once the run is over, so that whoever watches the
// variables between blocks sees what a copy at every sample would have left.
// An output no text names keeps its value through the run: it is narrowed
// once and written over each stretch of evaluated samples at a time.
class SampleRun {
public:
    SampleRun(const float* const* in, float* const* out, std::size_t start, const PinsNamed& named,
              double* const* inputVariables, const double* const* outputVariables) noexcept {
        for (int32_t k = 0; k < kInputCount; ++k) {
            const float* source = in[k] ? in[k] + start : kZeros;
            InputCopy& copy = (named.inputs >> k) & 1 ? namedInputs_[namedInputCount_++] : otherInputs_[otherCount_++];
            copy = {source, inputVariables[k]};
        }
        // Two outputs sharing a buffer are written at every sample in pin
        // order, as the host sees them written sample by sample.
        const bool shared = sharesABuffer(out);
        for (int32_t k = 0; k < kOutputCount; ++k) {
            outputs_[k] = out[k] ? out[k] + start : sink_;
            if (shared || (named.outputs >> k) & 1)
                namedOutputs_[namedOutputCount_++] = {outputVariables[k], outputs_[k]};
            else
                steadyOutputs_[steadyCount_++] = {scaledOutput(outputVariables[k]), outputs_[k]};
        }
    }
    SampleRun(const SampleRun&) = delete;
    SampleRun& operator=(const SampleRun&) = delete;

    // One jump to as many copies as there are named inputs, rather than a
    // test after every copy.
    void readNamedInputs(std::size_t j) const noexcept {
        static_assert(kInputCount == 6, "a case for every count of named inputs");
        switch (namedInputCount_) {
            case 6: namedInputs_[5].read(j); [[fallthrough]];
            case 5: namedInputs_[4].read(j); [[fallthrough]];
            case 4: namedInputs_[3].read(j); [[fallthrough]];
            case 3: namedInputs_[2].read(j); [[fallthrough]];
            case 2: namedInputs_[1].read(j); [[fallthrough]];
            case 1: namedInputs_[0].read(j); [[fallthrough]];
            default: break;
        }
    }

    // Sample j evaluated: the named outputs now, the steady ones later.
    void write(std::size_t j) const noexcept {
        for (int32_t c = 0; c < namedOutputCount_; ++c)
            namedOutputs_[c].buffer[j] = scaledOutput(namedOutputs_[c].variable);
    }

    // Sample j silent: it ends a stretch of the steady outputs.
    void silence(std::size_t j) noexcept {
        writeSteadyOutputs(j);
        for (float* output : outputs_) output[j] = 0.0f;
        steadyFrom_ = j + 1;
    }

    // After samples 0 ... evaluated - 1 of the run.
    void finish(std::size_t evaluated) noexcept {
        writeSteadyOutputs(evaluated);
        if (evaluated == 0) return;
        for (int32_t c = 0; c < otherCount_; ++c) otherInputs_[c].read(evaluated - 1);
    }

private:
    static bool sharesABuffer(float* const* out) noexcept {
        for (int32_t k = 0; k < kOutputCount; ++k)
            for (int32_t other = k + 1; other < kOutputCount; ++other)
                if (out[k] != nullptr && out[k] == out[other]) return true;
        return false;
    }

    // Samples steadyFrom_ ... end - 1.
    void writeSteadyOutputs(std::size_t end) noexcept {
        for (int32_t c = 0; c < steadyCount_; ++c)
            std::fill(steadyOutputs_[c].buffer + steadyFrom_, steadyOutputs_[c].buffer + end, steadyOutputs_[c].level);
        steadyFrom_ = end;
    }

    struct InputCopy {
        const float* source;
        double* variable;
        void read(std::size_t j) const noexcept { *variable = static_cast<double>(source[j]) * 10.0; }
    };
    struct OutputCopy {
        const double* variable;
        float* buffer;
    };
    struct SteadyOutput {
        float level;
        float* buffer;
    };
    InputCopy namedInputs_[kInputCount];
    InputCopy otherInputs_[kInputCount];
    OutputCopy namedOutputs_[kOutputCount];
    SteadyOutput steadyOutputs_[kOutputCount];
    int32_t namedInputCount_ = 0;
    int32_t otherCount_ = 0;
    int32_t namedOutputCount_ = 0;
    int32_t steadyCount_ = 0;
    std::size_t steadyFrom_ = 0;  // the first sample whose steady outputs are not written yet
    float* outputs_[kOutputCount];
    float sink_[kRunLength];
};

// Read by a loop whose engine was given no stop flag.
constinit const std::atomic<int32_t> kNeverStopped{0};

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
    const int32_t code = parseInto(ready_, exprContext_, text, report);
    notePinsNamed();
    return code;
}

int32_t ModuleEngine::parseInit(const char* text, ExprParseReport* report) noexcept {
    const int32_t code = parseInto(ready_, initContext_, text, report);
    notePinsNamed();
    return code;
}

void ModuleEngine::notePinsNamed() noexcept {
    if (!ready_) return;
    const auto named = [this](const double* value) {
        return exprRefersToValue(exprContext_, value) || exprRefersToValue(initContext_, value);
    };
    PinsNamed pins;
    for (int32_t k = 0; k < kInputCount; ++k)
        if (named(inputValues_[k])) pins.inputs |= 1u << k;
    for (int32_t k = 0; k < kOutputCount; ++k)
        if (named(outputValues_[k])) pins.outputs |= 1u << k;
    pins.time = named(timeValue_);
    pins.sample = named(sampleValue_);
    pinsNamed_ = pins;
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
    std::size_t i = first;
    if (evaluate && ready_) {
        i = codes ? evaluateBlock<true>(in, out, first, end, codes) : evaluateBlock<false>(in, out, first, end, codes);
    }
    // A block that may not evaluate, or whose evaluation was stopped, is
    // silent from here on while time and counter run on.
    const int32_t silentCode = ready_ ? EXPR_ERR_ABORTED : EXPR_ERR_NOT_READY;
    for (; i < end; ++i) {
        writeSilence(out, i);
        if (codes) codes[i - first] = silentCode;
        runningTime_ += timeStep_;
        ++sampleCount_;
    }
}

template <bool kReport> std::size_t ModuleEngine::evaluateBlock(const float* const* in, float* const* out,
                                                                std::size_t first, std::size_t end,
                                                                int32_t* codes) noexcept {
    // Everything the loop needs, in locals: exprEvaluate may write any memory,
    // so members read through `this` would be read again after every call.
    const std::atomic<int32_t>& stop = stop_ ? *stop_ : kNeverStopped;
    ExprContext* const expr = exprContext_;
    // The text cannot change during a block: its evaluator is taken once.
    const ExprEvaluator evaluateExpr = exprEvaluator(expr);
    const PinsNamed named = pinsNamed_;
    double* const timeValue = timeValue_;
    double* const sampleValue = sampleValue_;
    const double timeStep = timeStep_;
    double time = runningTime_;
    double evaluatedTime = time;
    uint32_t count = sampleCount_;

    std::size_t i = first;
    bool halted = false;
    while (i < end && !halted) {
        SampleRun run(in, out, i, named, inputValues_, outputValues_);  // not const: its sink is written
        const std::size_t length = std::min(end - i, kRunLength);
        std::size_t j = 0;
        for (; j < length; ++j) {
            if (stop.load() != 0) [[unlikely]] {
                halted = true;
                break;
            }
            run.readNamedInputs(j);
            if (named.time) *timeValue = time;
            if (named.sample) *sampleValue = static_cast<double>(count);
            double value;
            if (count == 0) [[unlikely]] {
                pollsThisEvaluation_ = 0;
                initCode_ = exprEvaluate(initContext_, &value);
                ++initRuns_;
            }
            pollsThisEvaluation_ = 0;
            const int32_t code = evaluateExpr(expr, &value);
            if (kReport) codes[i + j - first] = code;
            if (code == EXPR_OK) [[likely]]
                run.write(j);
            else
                run.silence(j);
            evaluatedTime = time;
            time += timeStep;
            ++count;
            // An Expr stopped by its budget has spent a whole sample's worth
            // of real time and more: the rest of the block is silent rather
            // than paying that again at every sample. The next block tries anew.
            if (code == EXPR_ERR_ABORTED) [[unlikely]] {
                halted = true;
                ++j;
                break;
            }
        }
        run.finish(j);
        // The clock, where no text reads it at every sample: as the last
        // evaluated sample left it.
        if (j > 0) {
            if (!named.time) *timeValue = evaluatedTime;
            if (!named.sample) *sampleValue = static_cast<double>(count - 1);
        }
        i += j;
    }
    runningTime_ = time;
    sampleCount_ = count;
    return i;
}

}  // namespace quorvel::module
