// Fuzz target: the real quorvel.sem, loaded through host/, driven by a byte
// stream decoded into host calls: instances, sample rates, block sizes,
// opens, texts on both text pins, pin updates for any index, events,
// dispatcher calls, blocks of audio and closes. Output blocks sit between
// guard zones; a write outside them, or an input written, is a finding.
// The byte 0xFF starts (or stops) a second thread that processes blocks
// back to back while the host calls that follow arrive on this one, as a
// host with a separate audio thread sends them.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "quorvel_host.h"

namespace {

using quorvel::host::Instance;
using quorvel::host::InstanceOptions;
using quorvel::host::Library;

constexpr int32_t kGuard = 16;
constexpr uint32_t kGuardBits = 0x7FC0DEADu;
constexpr int32_t kLargestBlock = 64;
// A runaway text costs the module's whole budget once per block, so the
// samples of one input are limited to keep executions fast.
constexpr int32_t kSamplesPerInput = 160;
// Blocks the second thread processes at most in one stretch.
constexpr int32_t kConcurrentBlocks = 24;
constexpr int32_t kConcurrentBlock = 16;

const Library& plugIn() {
    return quorvel::host::Library::nextToExecutable();
}

[[noreturn]] void finding() {
    __builtin_trap();
}

class Bytes {
public:
    Bytes(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    int32_t word() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(byte()) << (8 * i);
        return static_cast<int32_t>(value);
    }
    float real() {
        const int32_t bits = word();
        float value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    // A text: up to the next NUL byte or the end of the input.
    std::string text() {
        std::string result;
        while (at_ < size_ && data_[at_] != 0) result += static_cast<char>(data_[at_++]);
        if (at_ < size_) ++at_;
        return result;
    }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

constexpr float kRates[] = {8000.0f, 44100.0f, 48000.0f, 192000.0f, 768000.0f, 1234.5678f, 1.0f, 0.0f};

// Processes blocks of one instance on a thread of its own until stopped. Its
// buffers are written into the pins before it starts; from then on it only
// calls the process entry, which may overlap any control call but close.
class AudioThread {
public:
    explicit AudioThread(Instance& instance) {
        for (auto& buffer : outputs_) buffer.assign(kConcurrentBlock + 2 * kGuard, kGuardBits);
        input_.assign(kConcurrentBlock, 0.25f);
        for (int k = 0; k < 6; ++k) instance.writeVariable(k, input_.data());
        for (int k = 0; k < 3; ++k) instance.writeVariable(8 + k, outputs_[k].data() + kGuard);
        thread_ = std::thread([this, &instance] {
            for (int32_t n = 0; n < kConcurrentBlocks && !stop_.load(); ++n) instance.process(0, kConcurrentBlock);
        });
    }
    // Joins the thread; the guard zones must be whole.
    ~AudioThread() {
        stop_.store(true);
        thread_.join();
        for (const auto& buffer : outputs_)
            for (int32_t i = 0; i < kGuard; ++i)
                if (buffer[static_cast<std::size_t>(i)] != kGuardBits ||
                    buffer[static_cast<std::size_t>(kGuard + kConcurrentBlock + i)] != kGuardBits)
                    finding();
    }

private:
    std::vector<float> input_;
    std::vector<uint32_t> outputs_[3];
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

struct Player {
    std::unique_ptr<Instance> instance;
    std::unique_ptr<AudioThread> audio;  // declared after instance: ends first
    std::vector<float> inputs[6];
    int32_t samplesLeft = kSamplesPerInput;

    // Before a call that may end the instance or write the pins' buffers.
    void stopAudio() {
        if (!audio) return;
        audio.reset();
        const float* none[6] = {};
        float* noOut[3] = {};
        for (int k = 0; k < 6; ++k) instance->writeVariable(k, none[k]);
        for (int k = 0; k < 3; ++k) instance->writeVariable(8 + k, noOut[k]);
    }

    void block(Bytes& bytes, bool viaStart) {
        if (!instance) return;
        int32_t count = bytes.byte() % (kLargestBlock + 1);
        if (count > samplesLeft) count = samplesLeft;
        samplesLeft -= count;
        const int32_t start = viaStart ? bytes.byte() % 8 : 0;
        const uint8_t missing = bytes.byte();  // bit k: buffer k absent
        const float level = static_cast<float>(static_cast<int8_t>(bytes.byte())) / 16.0f;
        for (auto& input : inputs) input.assign(static_cast<std::size_t>(start + count), level);
        const std::vector<float> before = inputs[0];
        std::vector<uint32_t> outputs[3];
        const float* in[6];
        float* out[3];
        for (int k = 0; k < 6; ++k) in[k] = (missing >> k) & 1 ? nullptr : inputs[k].data();
        for (int k = 0; k < 3; ++k) {
            outputs[k].assign(static_cast<std::size_t>(start + count + 2 * kGuard), kGuardBits);
            out[k] = (missing >> (6 + k % 2)) & 1 ? nullptr : reinterpret_cast<float*>(outputs[k].data() + kGuard);
        }
        if (viaStart) {
            for (int k = 0; k < 6; ++k) instance->writeVariable(k, in[k]);
            for (int k = 0; k < 3; ++k) instance->writeVariable(8 + k, out[k]);
            instance->process(start, count);
        } else {
            instance->processBlock(in, out, count);
        }
        for (int k = 0; k < 3; ++k) {
            for (int32_t i = 0; i < kGuard + start; ++i)
                if (outputs[k][static_cast<std::size_t>(i)] != kGuardBits) finding();
            for (int32_t i = 0; i < kGuard; ++i)
                if (outputs[k][static_cast<std::size_t>(kGuard + start + count + i)] != kGuardBits) finding();
        }
        if (inputs[0] != before) finding();
        // The host keeps no dangling buffer addresses in the module's pins.
        const float* none[6] = {};
        float* noOut[3] = {};
        for (int k = 0; k < 6; ++k) instance->writeVariable(k, none[k]);
        for (int k = 0; k < 3; ++k) instance->writeVariable(8 + k, noOut[k]);
    }

    void step(Bytes& bytes) {
        const uint8_t op = bytes.byte();
        if (!instance && op % 16 != 0) {
            instance = Instance::create(plugIn());
            return;
        }
        if (op == 0xFF) {
            if (audio)
                stopAudio();
            else
                audio = std::make_unique<AudioThread>(*instance);
            return;
        }
        // Ending the instance or processing on this thread: the second thread stops first.
        const uint8_t kind = op % 16;
        if (kind == 0 || kind == 9 || kind == 10 || kind == 11) stopAudio();
        switch (kind) {
            case 0: {
                InstanceOptions options;
                options.pinCount = bytes.byte() % 20;
                options.withCallback = (bytes.byte() & 7) != 0;
                instance.reset();
                instance = Instance::create(plugIn(), options);
                break;
            }
            case 1: instance->setSampleRate(kRates[bytes.byte() % 8]); break;
            case 2: instance->setSampleRate(bytes.real()); break;
            case 3: instance->setBlockSize(bytes.word()); break;
            case 4: instance->open(); break;
            case 5: instance->setText(7, bytes.text()); break;
            case 6: instance->setText(6, bytes.text()); break;
            case 7: {
                const int32_t pin = bytes.byte() % 12;
                // A text written into an audio pin would be the second
                // thread's buffer: a host never hands over a buffer shorter
                // than the block, so that thread stops first.
                if (pin < quorvel::module::kPinCount && quorvel::module::kPins[pin].datatype == DATATYPE_AUDIO)
                    stopAudio();
                instance->setText(pin, bytes.text(), false);
                break;
            }
            case 8: instance->pinUpdate(static_cast<intptr_t>(bytes.word()), bytes.byte() % 4); break;
            case 9: block(bytes, false); break;
            case 10: block(bytes, true); break;
            case 11:
                instance->close();
                instance.reset();
                break;
            case 12: {
                const int32_t opcode = bytes.byte() % 16;
                if (opcode == DISPATCH_CLOSE) {
                    stopAudio();
                    instance->close();
                    instance.reset();
                    break;
                }
                PinProperties props{};
                char scratch[64] = {};
                void* ptr = opcode == DISPATCH_GET_PIN_PROPERTIES ? static_cast<void*>(&props)
                            : opcode == DISPATCH_PIN_REQUEST      ? static_cast<void*>(scratch)
                                                                  : nullptr;
                const int32_t index = bytes.word();
                const int32_t value = bytes.word();
                instance->dispatch(opcode, index, value, ptr, bytes.real());
                break;
            }
            case 13: {
                // Any event but EVENT_CALL, whose word is a code address the host vouches for.
                HostEvent event{};
                event.data = bytes.word();
                event.eventType = bytes.byte() % 24;
                if (event.eventType == EVENT_CALL) event.eventType = EVENT_DATA;
                event.value = bytes.word();
                event.extra = bytes.word();
                event.pinIndex = static_cast<intptr_t>(bytes.word());
                instance->sendEvent(event);
                break;
            }
            case 14: instance->setPinCount(bytes.byte() % 20); break;
            case 15: instance->setPinValue(bytes.byte() % Instance::kMaxPins, bytes.word()); break;
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    Bytes bytes(data, size);
    Player player;
    for (int steps = 0; !bytes.empty() && steps < 256; ++steps) player.step(bytes);
    return 0;
}
