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
// The memory outlives every block that entered the process entry before
// DISPATCH_CLOSE returned: the entry announces the block library-wide before
// it reads the object, and close frees the instance only once the blocks
// announced before it have left; a later one leaves it alone (see
// instance_lifetime.h). The handshake above guards the engine, not the memory.
//
// Time, counter and time step belong to the audio side alone: open leaves a
// restart for the next block that may evaluate, so the first sample evaluated
// after every open has counter 0 and runs Init, whatever overlapped the open.
//
// The engine itself, with its set-up and per-sample step, is ModuleEngine;
// the pins are the rows of pins.h.
#pragma once

#include <atomic>
#include <cstdint>

#include "module_base.h"
#include "module_engine.h"
#include "pins.h"

namespace quorvel::module {

class ExpressionModule final : public ModuleBase {
public:
    ExpressionModule(HostCallback callback, void* hostData) noexcept;
    ~ExpressionModule() override;

    // Control side (event entry or dispatcher).
    void onPinUpdate(ModulePin* pin) noexcept override;
    void open() noexcept override;
    void close() noexcept override;
    bool getPinProperties(int32_t index, PinProperties* props) noexcept override;

    // Audio side: the process operation open installs.
    void processSamples(int32_t start, int32_t count) noexcept;

private:
    // Stops the audio side from touching the engine and waits until it has.
    void stopAudio() noexcept;
    void waitForAudio() const noexcept;

    // Written by the host through the addresses the pins report.
    const float* inputs[kInputCount] = {};
    float* outputs[kOutputCount] = {};
    const char* exprText = nullptr;
    const char* initText = nullptr;

    std::atomic<int32_t> ready{0};
    std::atomic<int32_t> suspended{0};
    std::atomic<int32_t> closing{0};     // set by close: blocks touch nothing but their outputs
    std::atomic<int32_t> evaluating{0};  // raised by the audio side for a whole block
    static_assert(std::atomic<int32_t>::is_always_lock_free);

    // Waits for a block that began while the module was being destroyed;
    // declared before the engine, it goes after it, last but the flags.
    struct BlockDrain {
        const std::atomic<int32_t>& evaluating;
        ~BlockDrain();
    } drain{evaluating};

    // Reads `suspended` at every sample and abort poll; declared after it.
    ModuleEngine engine{&suspended};
};

}  // namespace quorvel::module
