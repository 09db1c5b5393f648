// Every patch, at every sample rate and block grouping a host may use: no
// write outside the output buffers and, because the per-sample loop must not
// depend on how samples are grouped, the same output bits as one big block.
#include <string>
#include <vector>

#include "matrix/matrix_support.h"

namespace quorvel_matrix {
namespace {

constexpr float kRates[] = {8000.0f,  11025.0f,  22050.0f,  44100.0f,  48000.0f,
                            96000.0f, 192000.0f, 384000.0f, 768000.0f, 1234.5678f};
constexpr int32_t kBlockSizes[] = {0, 1, 17, 64, 256, 1024, 2027, 8192};
constexpr int32_t kRandomSizes = -1;

std::string testName(std::string text) {
    for (char& c : text)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) c = '_';
    return text;
}

void expectSame(const Outputs& reference, const Outputs& grouped, const std::string& what) {
    int32_t channel = 0;
    const int64_t at = firstDifference(reference, grouped, &channel);
    EXPECT_EQ(at, -1) << what << ": out" << (channel + 1) << " differs from one-block rendering at sample " << at;
}

// ---- Block sizes -------------------------------------------------------------

class BlockSizes : public testing::TestWithParam<Patch> {};

TEST_P(BlockSizes, SameOutputWhateverTheGrouping) {
    const Patch& patch = GetParam();
    constexpr int64_t kLength = 9000;  // more than the largest fixed block
    const Inputs inputs(kLength, 1);
    const Outputs reference = render(patch, 48000.0f, inputs, {static_cast<int32_t>(kLength)});
    ASSERT_EQ(reference.channel[0].size(), static_cast<std::size_t>(kLength));
    for (int32_t size : kBlockSizes)
        expectSame(reference, render(patch, 48000.0f, inputs, fixedBlocks(kLength, size)),
                   patch.name + ", blocks of " + std::to_string(size));
    for (uint64_t seed = 1; seed <= 2; ++seed)
        expectSame(reference, render(patch, 48000.0f, inputs, randomBlocks(kLength, seed)),
                   patch.name + ", random blocks " + std::to_string(seed));
}

INSTANTIATE_TEST_SUITE_P(EveryPatch, BlockSizes, testing::ValuesIn(allPatches()),
                         [](const testing::TestParamInfo<Patch>& info) { return testName(info.param.name); });

// ---- Sample rates -----------------------------------------------------------

struct RateCase {
    float rate;
    int32_t blockSize;  // kRandomSizes: random sizes changing every block
};

class SampleRates : public testing::TestWithParam<RateCase> {};

TEST_P(SampleRates, EveryPatchSameOutputWhateverTheGrouping) {
    const RateCase& param = GetParam();
    constexpr int64_t kLength = 2500;
    const Inputs inputs(kLength, 2);
    for (const Patch& patch : allPatches()) {
        const Outputs reference = render(patch, param.rate, inputs, {static_cast<int32_t>(kLength)});
        const Grouping grouping = param.blockSize == kRandomSizes
                                      ? randomBlocks(kLength, static_cast<uint64_t>(param.rate), 700)
                                      : fixedBlocks(kLength, param.blockSize);
        expectSame(reference, render(patch, param.rate, inputs, grouping),
                   patch.name + " at " + std::to_string(param.rate) + " Hz");
    }
}

std::vector<RateCase> rateCases() {
    std::vector<RateCase> cases;
    // Each rate once with random blocks and once with a fixed size, the
    // fixed sizes taken in turn so that every one meets several rates.
    std::size_t next = 0;
    for (float rate : kRates) {
        cases.push_back({rate, kRandomSizes});
        cases.push_back({rate, kBlockSizes[next++ % std::size(kBlockSizes)]});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Rates, SampleRates, testing::ValuesIn(rateCases()),
                         [](const testing::TestParamInfo<RateCase>& info) {
                             const std::string size = info.param.blockSize == kRandomSizes
                                                          ? std::string("random")
                                                          : std::to_string(info.param.blockSize);
                             return testName(std::to_string(info.param.rate)) + "_Hz_blocks_" + size;
                         });

// ---- Text swaps between blocks ------------------------------------------------

std::vector<Swap> randomSwaps(int64_t length, uint64_t seed) {
    const std::vector<Patch> patches = allPatches();
    Noise noise(seed);
    std::vector<Swap> swaps;
    for (int64_t at = noise.below(300); at < length; at += 1 + noise.below(900)) {
        const Patch& patch = patches[static_cast<std::size_t>(noise.below(static_cast<int32_t>(patches.size())))];
        // Mostly Expr; sometimes Init (only parsed, run again only when the counter wraps).
        if (noise.below(4) == 0 && !patch.init.empty())
            swaps.push_back({at, kInitPin, patch.init});
        else
            swaps.push_back({at, kExprPin, patch.expr});
    }
    return swaps;
}

class TextSwaps : public testing::TestWithParam<uint64_t> {};

TEST_P(TextSwaps, SameOutputWhateverTheGrouping) {
    const uint64_t seed = GetParam();
    constexpr int64_t kLength = 12000;
    const Inputs inputs(kLength, seed);
    const std::vector<Swap> swaps = randomSwaps(kLength, seed);
    const float rate = kRates[seed % std::size(kRates)];
    const Patch start = allPatches()[static_cast<std::size_t>(seed % allPatches().size())];
    const Outputs reference = render(start, rate, inputs, {static_cast<int32_t>(kLength)}, swaps);
    ASSERT_EQ(reference.channel[0].size(), static_cast<std::size_t>(kLength));
    expectSame(reference, render(start, rate, inputs, randomBlocks(kLength, seed + 100), swaps),
               "random blocks, seed " + std::to_string(seed));
    expectSame(reference, render(start, rate, inputs, fixedBlocks(kLength, 64), swaps),
               "blocks of 64, seed " + std::to_string(seed));
}

INSTANTIATE_TEST_SUITE_P(Seeds, TextSwaps, testing::Range<uint64_t>(1, 9));

// ---- The harness itself -------------------------------------------------------

TEST(Harness, FindsEveryExamplePatch) {
    const std::vector<Patch> patches = examplePatches();
    ASSERT_GE(patches.size(), 6u);
    bool bellHasInit = false;
    for (const Patch& patch : patches) {
        EXPECT_FALSE(patch.expr.empty()) << patch.name;
        if (patch.name == "bell") bellHasInit = !patch.init.empty();
    }
    EXPECT_TRUE(bellHasInit);
}

TEST(Harness, ExamplesAreAudibleSoTheComparisonMeansSomething) {
    const Inputs inputs(2000, 3);
    for (const Patch& patch : examplePatches()) {
        const Outputs out = render(patch, 48000.0f, inputs, {2000});
        bool nonzero = false;
        for (uint32_t bits : out.channel[0]) nonzero = nonzero || (bits & 0x7FFFFFFFu) != 0;
        EXPECT_TRUE(nonzero) << patch.name << " is silent on out1";
    }
}

TEST(Harness, GroupingsCoverTheLength) {
    for (int32_t size : kBlockSizes) {
        int64_t total = 0;
        for (int32_t count : fixedBlocks(5000, size)) total += count;
        EXPECT_EQ(total, 5000) << size;
    }
    int64_t total = 0;
    bool empty = false;
    for (int32_t count : randomBlocks(5000, 9)) {
        total += count;
        empty = empty || count == 0;
    }
    EXPECT_EQ(total, 5000);
    EXPECT_TRUE(empty) << "random groupings include empty blocks";
}

}  // namespace
}  // namespace quorvel_matrix
