// Shared helpers of the module tests: the built quorvel.sem loaded once,
// an instance with its buffers, and the allocation spy.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "quorvel_host.h"

namespace quorvel_test {

// The module's own names: the pin table, the module base.
using namespace quorvel::module;

using quorvel::host::Instance;
using quorvel::host::InstanceOptions;
using quorvel::host::Library;

// quorvel.sem from next to the test program, loaded for the whole run.
const Library& moduleLibrary();

// The pin table (kInitPin, kExprPin, pinIndex, ...) comes with our host.
inline constexpr int32_t kFirstOutputPin = pinIndex(PinRole::Output);
inline constexpr float kUntouched = -12345.0f;  // written before a block, must survive where nothing is output

// The output a module gives for an engine value: times the double nearest 0.1, narrowed.
inline float scaled(double value) {
    return static_cast<float>(value * 0.1);
}

// One open instance with six input and three output buffers.
class Rig {
public:
    explicit Rig(float rate = 48000.0f, InstanceOptions options = {}, int32_t capacity = 8192);

    Instance& host() { return *instance; }
    void expr(const std::string& text) { instance->setText(kExprPin, text); }
    void init(const std::string& text) { instance->setText(kInitPin, text); }
    void fillInput(int32_t k, float value);
    // Outputs are set to kUntouched first; then processBlock of count samples.
    void run(int32_t count);
    // Same, through process(start, count) after writing the buffer addresses.
    void runAt(int32_t start, int32_t count);
    float out(int32_t k, int32_t i) const { return outputs[k][i]; }

    std::unique_ptr<Instance> instance;
    std::vector<float> inputs[6];
    std::vector<float> outputs[3];

private:
    void resetOutputs();
    void writeBuffers();
};

// Counts the heap calls of the module library while armed, and can make
// the n-th allocation fail. On Linux it interposes malloc and friends in the
// test program (not in sanitizer builds, whose runtime owns them); on
// Windows it patches the module DLL's imports of the C runtime's heap.
namespace alloc_spy {
bool available();
// failAt = n > 0: the n-th allocation while armed returns null, and with
// fromThenOn every later one too.
void arm(int64_t failAt = 0, bool fromThenOn = false);
void disarm();
int64_t allocations();  // malloc, calloc, realloc since arm
int64_t releases();     // free since arm
}  // namespace alloc_spy

}  // namespace quorvel_test
