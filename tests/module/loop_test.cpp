// The per-sample loop through the plug-in: which sample of which buffer each
// evaluation reads and writes, however blocks, starts and missing buffers
// fall, and the narrowing of outputs at the edges of the float range.
#include <cfloat>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "module_support.h"

namespace quorvel_test {
namespace {

// A block of `count` samples from `start`, with the buffers whose bit is set
// in the masks left out (bit k: input k, or output k).
struct RunCase {
    int32_t start;
    int32_t count;
    unsigned missingInputs;
    unsigned missingOutputs;
};

class Runs : public testing::TestWithParam<RunCase> {};

float inputAt(int32_t k, int32_t i) {
    return static_cast<float>((i * (k + 3)) % 101) * 0.001f - 0.05f;
}

// Multiplying by powers of two only, the expectation is exact in any
// evaluation order or contraction.
constexpr const char* kMixText = "out1 = u + v * 2 + w * 4; out2 = x - y * 8 + z * 16; out3 = sample;";

TEST_P(Runs, EverySampleReadsAndWritesItsOwnIndex) {
    const RunCase& c = GetParam();
    const int32_t size = c.start + c.count + 3;
    Rig rig(48000.0f, {}, size);
    rig.expr(kMixText);
    for (int32_t k = 0; k < 6; ++k)
        for (int32_t i = 0; i < size; ++i) rig.inputs[k][i] = inputAt(k, i);

    for (int32_t block = 0; block < 2; ++block) {
        for (auto& buffer : rig.outputs) buffer.assign(size, kUntouched);
        for (int32_t k = 0; k < 6; ++k)
            rig.host().writeVariable(k, (c.missingInputs >> k & 1) ? nullptr : rig.inputs[k].data());
        for (int32_t k = 0; k < 3; ++k)
            rig.host().writeVariable(kFirstOutputPin + k,
                                     (c.missingOutputs >> k & 1) ? nullptr : rig.outputs[k].data());
        rig.host().process(c.start, c.count);

        auto in = [&](int32_t k, int32_t i) {
            return (c.missingInputs >> k & 1) ? 0.0 : static_cast<double>(inputAt(k, i)) * 10.0;
        };
        for (int32_t i = 0; i < size; ++i) {
            const bool inside = i >= c.start && i < c.start + c.count;
            const double sample = static_cast<double>(block * c.count + i - c.start);
            const float expected[3] = {
                scaled(in(0, i) + in(1, i) * 2 + in(2, i) * 4),
                scaled(in(3, i) - in(4, i) * 8 + in(5, i) * 16),
                scaled(sample),
            };
            for (int32_t k = 0; k < 3; ++k) {
                if (c.missingOutputs >> k & 1) continue;
                ASSERT_EQ(rig.out(k, i), inside ? expected[k] : kUntouched)
                    << "block " << block << " output " << k << " sample " << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(StartsLengthsAndMissingBuffers, Runs,
                         testing::Values(RunCase{0, 1, 0, 0}, RunCase{3, 255, 0, 0}, RunCase{0, 256, 0b111000, 0},
                                         RunCase{1, 257, 0b000111, 0b010}, RunCase{7, 1000, 0b101010, 0b101},
                                         RunCase{100, 2048, 0b010101, 0b011}, RunCase{255, 513, 0b111111, 0b110},
                                         RunCase{2, 300, 0, 0b111}));

// A runaway evaluation in the third run of samples silences the rest of the
// block; the next block evaluates again with the counter run on.
TEST(Runs, AStopInALaterRunSilencesOnlyFromThere) {
    Rig rig(48000.0f, {}, 1000);
    rig.expr("n = n + 1; out1 = n; out2 = sample; for(i = 0, and(equal(sample, 600), 1), i = i + 1, k = i);");
    rig.runAt(5, 900);
    for (int32_t i = 5; i < 605; ++i) ASSERT_EQ(rig.out(0, i), scaled(i - 4.0)) << i;
    for (int32_t i = 605; i < 905; ++i) {
        ASSERT_EQ(rig.out(0, i), 0.0f) << i;
        ASSERT_EQ(rig.out(1, i), 0.0f) << i;
    }
    EXPECT_EQ(rig.out(0, 905), kUntouched);
    rig.runAt(0, 2);
    EXPECT_EQ(rig.out(0, 0), scaled(602.0)) << "601 evaluations before, none after the stop";
    EXPECT_EQ(rig.out(1, 1), scaled(901.0));
}

// ---- Narrowing --------------------------------------------------------------------------

// An output whose engine value times 0.1 is exactly `scaled`: the value is
// found next to scaled / 0.1 and written, for want of exponents in the
// language, as an integer times a power of two (both products exact).
struct NarrowCase {
    double scaled;
    float expected;
};

class Narrowing : public testing::TestWithParam<NarrowCase> {};

bool engineValueFor(double scaledValue, double* value) {
    double candidate = scaledValue / 0.1;
    for (int step = 0; step < 8; ++step) candidate = std::nextafter(candidate, -INFINITY);
    for (int step = 0; step < 16; ++step, candidate = std::nextafter(candidate, INFINITY))
        if (candidate * 0.1 == scaledValue) {
            *value = candidate;
            return true;
        }
    return false;
}

TEST_P(Narrowing, AsIeeeRoundToNearestDoesIt) {
    const NarrowCase& c = GetParam();
    double value = 0;
    ASSERT_TRUE(engineValueFor(c.scaled, &value)) << c.scaled;
    int exponent = 0;
    const double mantissa = std::ldexp(std::frexp(value, &exponent), 53);
    char text[160];
    std::snprintf(text, sizeof text, "out2 = %.0f * pow(2, %d); out1 = 0 - out2; out3 = out2;", mantissa,
                  exponent - 53);
    Rig rig;
    rig.expr(text);
    rig.run(2);
    uint32_t bits[3], expectedBits, negatedBits;
    const float negated = -c.expected;
    std::memcpy(&expectedBits, &c.expected, 4);
    std::memcpy(&negatedBits, &negated, 4);
    for (int32_t k = 0; k < 3; ++k) std::memcpy(&bits[k], &rig.outputs[k][1], 4);
    EXPECT_EQ(bits[1], expectedBits) << text;
    EXPECT_EQ(bits[2], expectedBits) << text;
    EXPECT_EQ(bits[0], negatedBits) << text;
}

constexpr double kHalfUlpAboveMax = 0x1.ffffffp127;  // the tie between FLT_MAX and infinity
constexpr double kSmallestSubnormal = 0x1p-149;

INSTANTIATE_TEST_SUITE_P(FloatRangeEdges, Narrowing,
                         testing::Values(NarrowCase{1.0, 1.0f}, NarrowCase{static_cast<double>(FLT_MAX), FLT_MAX},
                                         NarrowCase{std::nextafter(kHalfUlpAboveMax, 0.0), FLT_MAX},
                                         NarrowCase{kHalfUlpAboveMax, INFINITY}, NarrowCase{0x1p200, INFINITY},
                                         NarrowCase{0x1.fffffe8p127, FLT_MAX},  // a quarter unit above FLT_MAX
                                         NarrowCase{0x1.000001p0,
                                                    1.0f},  // the tie between 1 and its successor, to even
                                         NarrowCase{0x1.000003p0, 0x1.000004p0f},   // the tie above it, to even
                                         NarrowCase{kSmallestSubnormal / 2, 0.0f},  // ties to even: zero
                                         NarrowCase{kSmallestSubnormal * 0.75, 0x1p-149f},
                                         NarrowCase{kSmallestSubnormal * 1.5, 0x1p-148f},  // tie, to even
                                         NarrowCase{0x1p-1000, 0.0f}));

}  // namespace
}  // namespace quorvel_test
