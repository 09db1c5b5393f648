// The benchmark cases of bench/cases.h through the module's engine, in
// blocks of 256 with inputs u, v, w from a buffer, as bench/module_bench.cpp
// drives the plug-in. The same file is built twice: for WebAssembly, where
// the caller times bench_blocks, and natively with a main of its own, so the
// two figures come from one code.
#include <cstddef>
#include <cstdint>

#include "cases.h"
#include "module_engine.h"

#if defined(__wasm__)
#define BENCH_EXPORT(name) extern "C" __attribute__((export_name(#name)))
#else
#define BENCH_EXPORT(name) extern "C"
#endif

using namespace quorvel::module;

namespace {

constexpr std::size_t kBlock = 256;
constexpr int32_t kCaseCount = static_cast<int32_t>(sizeof quorvel_bench::kCases / sizeof quorvel_bench::kCases[0]);

}  // namespace

struct BenchRun {
    ModuleEngine engine;
    float in[3][kBlock];
    float out[3][kBlock];
    const float* inputs[6];
    float* outputs[3];

    BenchRun() : inputs{in[0], in[1], in[2], nullptr, nullptr, nullptr}, outputs{out[0], out[1], out[2]} {
        // Inputs in [-0.1, 0.1): the module scales them by 10.
        unsigned state = 777;
        for (auto& block : in)
            for (float& x : block) {
                state = state * 1103515245u + 12345u;
                x = static_cast<float>((state >> 8) & 0xFFFF) / 327680.0f - 0.1f;
            }
    }
};

BENCH_EXPORT(bench_case_count) int32_t benchCaseCount() {
    return kCaseCount;
}
BENCH_EXPORT(bench_block) int32_t benchBlock() {
    return static_cast<int32_t>(kBlock);
}

BENCH_EXPORT(bench_case_name) const char* benchCaseName(int32_t index) {
    return index >= 0 && index < kCaseCount ? quorvel_bench::kCases[index].name : "";
}

// An instance opened at 48 kHz with the case's text; null when it fails.
BENCH_EXPORT(bench_open) BenchRun* benchOpen(int32_t index) {
    if (index < 0 || index >= kCaseCount) return nullptr;
    auto* run = new BenchRun;
    run->engine.restart(48000.0f);
    if (run->engine.parseExpr(quorvel_bench::kCases[index].ours) != EXPR_OK) {
        delete run;
        return nullptr;
    }
    return run;
}

BENCH_EXPORT(bench_close) void benchClose(BenchRun* run) {
    delete run;
}

// `blocks` blocks; out1's last sample, so nothing is optimised away.
BENCH_EXPORT(bench_blocks) float benchBlocks(BenchRun* run, int32_t blocks) {
    for (int32_t b = 0; b < blocks; ++b) run->engine.process(run->inputs, run->outputs, 0, kBlock, true);
    return run->out[0][kBlock - 1];
}

#if !defined(__wasm__)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

// Prints "name ns-per-sample" for every case: the median of `repetitions`
// timings of enough blocks to take about 0.1 s each.
int main() {
    constexpr int repetitions = 7;
    for (int32_t index = 0; index < kCaseCount; ++index) {
        BenchRun* run = benchOpen(index);
        if (!run) return 1;
        int32_t blocks = 16;
        auto time = [&] {
            const auto start = std::chrono::steady_clock::now();
            volatile float sink = benchBlocks(run, blocks);
            (void)sink;
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        };
        while (time() < 0.1) blocks *= 2;
        std::vector<double> seconds;
        for (int r = 0; r < repetitions; ++r) seconds.push_back(time());
        std::sort(seconds.begin(), seconds.end());
        const double ns = seconds[repetitions / 2] * 1e9 / (static_cast<double>(blocks) * kBlock);
        std::printf("%s %.2f\n", benchCaseName(index), ns);
        benchClose(run);
    }
    return 0;
}
#endif
