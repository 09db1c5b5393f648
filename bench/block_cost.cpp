// What a block costs in real time, through the built quorvel.sem, for the two
// figures musicians ask about; a plain program, so that the 32-bit builds
// (Linux and Windows under wine) measure it too:
//
// - a runaway Expr (a loop that never ends): the share of a 256-sample
//   block's real-time length at 48 kHz (5.33 ms) that processing it takes;
// - a decaying feedback text, `y = y * 0.9999;`, per sample while y is
//   subnormal against while it is normal.
//
// Each figure is the median of repeated timings of many blocks.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "host/quorvel_host.h"

namespace {

using quorvel::host::Instance;
using quorvel::host::Library;
using quorvel::module::kExprPin;
using quorvel::module::kInitPin;

constexpr int32_t kBlock = 256;
constexpr float kRate = 48000.0f;

struct Rig {
    std::unique_ptr<Instance> instance;
    std::vector<float> in = std::vector<float>(kBlock, 0.01f);
    std::vector<float> out[3];

    Rig(const std::string& init, const std::string& expr) : instance(Instance::create(Library::nextToExecutable())) {
        for (auto& buffer : out) buffer.assign(kBlock, 0.0f);
        instance->setSampleRate(kRate);
        instance->open();
        instance->setText(kInitPin, init);
        instance->setText(kExprPin, expr);
    }
    void block() {
        const float* inputs[6] = {in.data(), in.data(), in.data(), nullptr, nullptr, nullptr};
        float* outputs[3] = {out[0].data(), out[1].data(), out[2].data()};
        instance->processBlock(inputs, outputs, kBlock);
    }
};

// Seconds per block: the median of `rounds` timings of `blocks` blocks each,
// every timing starting from a fresh open (Init runs again).
double secondsPerBlock(Rig& rig, int blocks, int rounds) {
    std::vector<double> timings;
    for (int round = 0; round < rounds; ++round) {
        rig.instance->open();
        const auto start = std::chrono::steady_clock::now();
        for (int b = 0; b < blocks; ++b) rig.block();
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
        timings.push_back(spent.count() / blocks);
    }
    std::sort(timings.begin(), timings.end());
    return timings[timings.size() / 2];
}

const char* build() {
#if defined(_WIN32)
    return "win32";
#elif defined(__i386__)
    return "linux32";
#else
    return "native";
#endif
}

}  // namespace

int main() {
    const double blockLength = kBlock / static_cast<double>(kRate);

    Rig runaway("", "out1 = 1; for(i = 0, 1, i = i + 1, k = i);");
    const double runawaySeconds = secondsPerBlock(runaway, 200, 9);
    std::printf("%s runaway Expr: %.1f us per 256-sample block, %.2f %% of its %.2f ms at 48 kHz\n", build(),
                runawaySeconds * 1e6, 100.0 * runawaySeconds / blockLength, blockLength * 1e3);

    // 1e-310 is subnormal; 0.9999 takes it to zero only after some 300 000 samples.
    Rig subnormal("y = pow(10, -310);", "y = y * 0.9999; out1 = y;");
    Rig normal("y = 1;", "y = y * 0.9999; out1 = y;");
    const double subnormalSeconds = secondsPerBlock(subnormal, 100, 9) / kBlock;
    const double normalSeconds = secondsPerBlock(normal, 100, 9) / kBlock;
    std::printf("%s feedback y = y * 0.9999: %.1f ns per sample while y is subnormal, %.1f ns while normal (%.1fx)\n",
                build(), subnormalSeconds * 1e9, normalSeconds * 1e9, subnormalSeconds / normalSeconds);
    return 0;
}
