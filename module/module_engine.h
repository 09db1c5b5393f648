// The engine of one module instance, set up and run exactly as the module
// does it: the three tables with the pins' variables and time, sample and
// rate bound, the two contexts turning math errors into 0.0, the evaluation
// budgets, and the per-sample step (inputs times 10 in, Init at counter 0,
// Expr, outputs times 0.1 narrowed to float, silence on failure, time and
// counter running on). The module owns one; the tools, benchmarks, fuzzers
// and the browser build run the same class, so what they play is what the
// module plays. Nothing here knows the host's entries or threads: the owner
// decides when a block may evaluate.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "expr.h"
#include "pins.h"

namespace quorvel::module {

// What the texts name (read, assign or reference): bit k for input or
// output k, and the clock's two constants.
struct PinsNamed {
    uint32_t inputs = 0;
    uint32_t outputs = 0;
    bool time = false;
    bool sample = false;
};

class ModuleEngine {
public:
    // Node budget of one evaluation, in abort polls (one poll per
    // EXPR_CHECK_INTERVAL + 1 node evaluations). Expr runs at every sample,
    // so its first poll is already far past what real time allows, and once
    // it has been stopped the rest of its block is silent without trying
    // again; Init runs once per open and may take longer.
    static constexpr int32_t kExprPollBudget = 1;
    static constexpr int32_t kInitPollBudget = 100;

    // stop, when given, is read at every sample and every abort poll:
    // nonzero silences the rest of the block and stops an evaluation in
    // progress. It must outlive the engine.
    explicit ModuleEngine(const std::atomic<int32_t>* stop = nullptr) noexcept;
    ~ModuleEngine();
    ModuleEngine(const ModuleEngine&) = delete;
    ModuleEngine& operator=(const ModuleEngine&) = delete;

    // False when setting up ran out of memory: the engine then stays silent.
    bool ready() const noexcept { return ready_; }

    // Clear the context and parse the text, as a pin update does (a null
    // text gives EXPR_ERR_ARGUMENT); report, when given, says where a
    // failure stands.
    int32_t parseExpr(const char* text, ExprParseReport* report = nullptr) noexcept;
    int32_t parseInit(const char* text, ExprParseReport* report = nullptr) noexcept;

    // As open: the next block that evaluates starts time and counter at 0
    // with the new step; `rate` reads the rate from now on.
    void restart(float rate) noexcept;

    // Samples first ... end - 1 of the buffers (a null input reads 0, a null
    // output is not written). With evaluate false the block is silent and
    // touches nothing but the clock. codes, when given, receives for each
    // sample the code that decided it: Expr's result, or why it was silent
    // without evaluating (EXPR_ERR_ABORTED after a stop, EXPR_ERR_NOT_READY
    // without an engine).
    void process(const float* const* in, float* const* out, std::size_t first, std::size_t end, bool evaluate,
                 int32_t* codes = nullptr) noexcept;

    NameTable* functions() const noexcept { return functions_; }
    NameTable* variables() const noexcept { return variables_; }
    NameTable* constants() const noexcept { return constants_; }
    ExprContext* exprContext() const noexcept { return exprContext_; }
    ExprContext* initContext() const noexcept { return initContext_; }

    // How often Init has run since construction, and its result code at the
    // last run (EXPR_OK before the first): the playground tells an Init that
    // was stopped from one that ran through.
    uint32_t initRuns() const noexcept { return initRuns_; }
    int32_t initCode() const noexcept { return initCode_; }

    // The abort poll of both contexts: nonzero stops the evaluation.
    int32_t abortCheck(ExprContext* context) noexcept;

private:
    bool setUp() noexcept;
    void notePinsNamed() noexcept;
    bool stopped() const noexcept { return stop_ != nullptr && stop_->load() != 0; }

    // Evaluates samples first ... end - 1 until a stop; returns the first
    // sample left to be silenced.
    template <bool kReport> std::size_t evaluateBlock(const float* const* in, float* const* out, std::size_t first,
                                                      std::size_t end, int32_t* codes) noexcept;

    const std::atomic<int32_t>* stop_;
    NameTable* functions_ = nullptr;
    NameTable* variables_ = nullptr;
    NameTable* constants_ = nullptr;
    ExprContext* exprContext_ = nullptr;
    ExprContext* initContext_ = nullptr;

    // Values inside the tables, resolved once at set-up.
    double* inputValues_[kInputCount] = {};
    double* outputValues_[kOutputCount] = {};
    double* timeValue_ = nullptr;
    double* sampleValue_ = nullptr;
    double* rateValue_ = nullptr;
    bool ready_ = false;
    // Changed only by a parse.
    PinsNamed pinsNamed_;

    // Left by restart for the next block that evaluates.
    bool restartPending_ = false;
    double pendingTimeStep_ = 0.0;

    double runningTime_ = 0.0;
    double timeStep_ = 0.0;
    uint32_t sampleCount_ = 0;
    int32_t pollsThisEvaluation_ = 0;
    uint32_t initRuns_ = 0;
    int32_t initCode_ = EXPR_OK;
};

// A double narrowed to float as IEEE round-to-nearest does it, also outside
// the float range (where a plain conversion is undefined).
float narrowToFloat(double value) noexcept;

}  // namespace quorvel::module
