// The module's own cost per sample through its process entry (blocks of
// 256), driven by our own host exactly as a host application drives it, and
// the memory one instance holds.

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/cases.h"
#include "host/quorvel_host.h"

namespace quorvel_bench {
namespace {

using quorvel::module::kExprPin;

constexpr int32_t kBlock = 256;

const quorvel::host::Library& library() {
    return quorvel::host::Library::nextToExecutable();
}

// Inputs u, v, w in [-0.1, 0.1): the module scales them by 10.
std::array<std::vector<float>, 3> inputBlocks() {
    std::array<std::vector<float>, 3> blocks;
    unsigned state = 777;
    for (auto& block : blocks) {
        block.resize(kBlock);
        for (float& x : block) {
            state = state * 1103515245u + 12345u;
            x = static_cast<float>((state >> 8) & 0xFFFF) / 327680.0f - 0.1f;
        }
    }
    return blocks;
}

void moduleCase(benchmark::State& state, const Case& c) {
    auto instance = quorvel::host::Instance::create(library());
    instance->setSampleRate(48000.0f);
    instance->open();
    instance->setText(kExprPin, c.ours);
    auto in = inputBlocks();
    std::array<std::vector<float>, 3> out;
    for (auto& block : out) block.assign(kBlock, 0.0f);
    const float* inputs[6] = {in[0].data(), in[1].data(), in[2].data(), nullptr, nullptr, nullptr};
    float* outputs[3] = {out[0].data(), out[1].data(), out[2].data()};
    for (auto _ : state) {
        instance->processBlock(inputs, outputs, kBlock);
        benchmark::DoNotOptimize(out[0].data());
    }
    state.counters["samples"] = kBlock;  // the table divides by it
    instance->close();
}

// Heap held by one opened instance with a text parsed, as the allocator
// counts it.
void instanceMemory(benchmark::State& state, const Case& c) {
    size_t bytes = 0;
    for (auto _ : state) {
        const size_t before = mallinfo2().uordblks;
        auto instance = quorvel::host::Instance::create(library());
        instance->open();
        instance->setText(kExprPin, c.ours);
        bytes = mallinfo2().uordblks - before;
        instance->close();
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

[[maybe_unused]] const bool registered = [] {
    for (const Case& c : kCases) benchmark::RegisterBenchmark((std::string("module/") + c.name).c_str(), moduleCase, c);
    benchmark::RegisterBenchmark("memory/filter", instanceMemory, kCases[3])->Iterations(1);
    return true;
}();

}  // namespace
}  // namespace quorvel_bench
