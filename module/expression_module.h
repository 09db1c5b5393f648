// ExpressionModule: six audio inputs become the engine variables u ... z
// (times 10), the texts Init and Expr are parsed into two contexts, and the
// variables out1 ... out3 drive three audio outputs (times 0.1), sample by
// sample.
//
// Threads. processSamples runs on the audio thread; pin updates, open and
// close may arrive on another thread while a block is processing. The audio
// side never waits, takes no lock and allocates nothing.
//
// The exclusion is a handshake of two sequentially consistent words. The
// audio side raises `evaluating` for the whole block and then reads
// `suspended`; the control side (pin update, open, close) raises `suspended`
// and then waits for `evaluating` to fall. So either the block sees
// `suspended` and leaves the engine alone, or the control side waits until
// the block has ended. A block decides at its start whether it may evaluate;
// one that began without the engine stays silent to its end, one that loses
// it midway (and an evaluation in progress, at its next abort poll) goes
// silent for the rest of the block, which is what the control side waits for.
//
// Time, counter and time step belong to the audio side alone: open leaves a
// restart for the next block that may evaluate, so the first sample evaluated
// after every open has counter 0 and runs Init, whatever overlapped the open.
#pragma once

#include <atomic>
#include <cstdint>

#include "expr.h"
#include "module_base.h"

class ExpressionModule final : public ModuleBase {
public:
    static constexpr int32_t kInputCount = 6;
    static constexpr int32_t kOutputCount = 3;
    static constexpr int32_t kInitPin = 6;
    static constexpr int32_t kExprPin = 7;
    static constexpr int32_t kFirstOutputPin = 8;

    // Node budget of one evaluation, in abort polls (one poll per
    // EXPR_CHECK_INTERVAL + 1 node evaluations). Expr runs at every sample,
    // so its first poll is already far past what real time allows, and once
    // it has been stopped the rest of its block is silent without trying
    // again; Init runs once per open and may take longer.
    static constexpr int32_t kExprPollBudget = 1;
    static constexpr int32_t kInitPollBudget = 100;

    ExpressionModule(HostCallback callback, void* hostData) noexcept;
    ~ExpressionModule() override;

    void onPinUpdate(ModulePin* pin) noexcept override;
    void open() noexcept override;
    void close() noexcept override;
    bool getPinProperties(int32_t index, PinProperties* props) noexcept override;

    void processSamples(int32_t start, int32_t count) noexcept;
    // The abort poll of both contexts: nonzero stops the evaluation.
    int32_t abortCheck(ExprContext* context) noexcept;

private:
    bool setUpEngine() noexcept;
    bool running() const noexcept;
    // Evaluates one sample and writes its outputs; the result code of Expr.
    int32_t evaluateSample(const float* const* in, float* const* out, std::size_t i) noexcept;
    // At the start of a block, with `evaluating` raised: true when the block
    // may evaluate; applies a restart left by open.
    bool claimEngine() noexcept;
    void advanceClock() noexcept;
    // Stops the audio side from touching the engine and waits until it has.
    void stopAudio() noexcept;
    void waitForAudio() const noexcept;

    // Written by the host through the addresses the pins report.
    const float* inputs[kInputCount] = {};
    float* outputs[kOutputCount] = {};
    const char* exprText = nullptr;
    const char* initText = nullptr;

    // Owned engine state.
    NameTable* functions = nullptr;
    NameTable* variables = nullptr;
    NameTable* constants = nullptr;
    ExprContext* exprContext = nullptr;
    ExprContext* initContext = nullptr;

    // Values inside the tables, resolved once at construction.
    double* inputValues[kInputCount] = {};
    double* outputValues[kOutputCount] = {};
    double* timeValue = nullptr;
    double* sampleValue = nullptr;
    double* rateValue = nullptr;

    std::atomic<int32_t> ready{0};
    std::atomic<int32_t> suspended{0};
    std::atomic<int32_t> closing{0};     // set by close: blocks touch nothing but their outputs
    std::atomic<int32_t> evaluating{0};  // raised by the audio side for a whole block
    static_assert(std::atomic<int32_t>::is_always_lock_free);

    // Written by open while the audio side is held off, read by the next
    // block that may evaluate.
    bool restartPending = false;
    double pendingTimeStep = 0.0;

    // Audio side only.
    double runningTime = 0.0;
    double timeStep = 0.0;
    uint32_t sampleCount = 0;
    int32_t pollsThisEvaluation = 0;
};
