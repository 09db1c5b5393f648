// The processing matrix: the built quorvel.sem driven through host/ at many
// sample rates and block groupings, with guard zones around every output
// buffer, so that a write outside a block or a result that depends on how
// samples are grouped shows up as a failure.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "examples/source_files.h"
#include "quorvel_host.h"

namespace quorvel_matrix {

// The module's own names: the pin table.
using namespace quorvel::module;

using quorvel::host::Instance;
using quorvel::host::Library;

const Library& plugIn();

inline constexpr int32_t kGuard = 64;                // floats on each side of every output block
inline constexpr uint32_t kGuardBits = 0x7FC0DEADu;  // a quiet NaN no narrowing produces

// A small deterministic generator, the same on every build.
class Noise {
public:
    explicit Noise(uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t next() {
        state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state_ >> 33);
    }
    int32_t below(int32_t bound) { return static_cast<int32_t>(next() % static_cast<uint32_t>(bound)); }
    float sample() { return static_cast<float>(static_cast<int32_t>(next() % 2001u) - 1000) / 1000.0f; }

private:
    uint64_t state_;
};

// One patch: an Expr text and an optional Init text.
struct Patch {
    std::string name;
    std::string expr;
    std::string init;  // empty: no Init update is sent
};

// Every example patch in examples/ (x.expr.txt with x.init.txt when present).
std::vector<Patch> examplePatches();
// Texts written for the matrix: every family of built-ins, variables that
// carry state, parse failures and math errors.
std::vector<Patch> corpusPatches();
std::vector<Patch> allPatches();

// A text change at a sample position (before that sample is processed).
struct Swap {
    int64_t at;
    int32_t pin;  // kInitPin or kExprPin
    std::string text;
};

// Six input signals of a fixed length, the same for every grouping.
struct Inputs {
    explicit Inputs(int64_t length, uint64_t seed);
    std::vector<float> channel[6];
};

// The three outputs of a render, as bit patterns.
struct Outputs {
    std::vector<uint32_t> channel[3];
};

// How a render splits its samples into blocks: the size of every block in
// order. Sizes of 0 are sent as empty blocks.
using Grouping = std::vector<int32_t>;

Grouping fixedBlocks(int64_t length, int32_t size);
Grouping randomBlocks(int64_t length, uint64_t seed, int32_t largest = 3000);

// Opens an instance at the rate, sends the patch, then plays the grouping
// block by block, applying every swap before the sample it names (a block
// that would straddle a swap is split there). Every output block sits
// between guard zones, which are checked after every call; failures are
// reported through gtest with the context. Inputs are checked unchanged.
Outputs render(const Patch& patch, float rate, const Inputs& inputs, const Grouping& grouping,
               const std::vector<Swap>& swaps = {});

// Index of the first differing sample, or -1 when the renders match bit for bit.
int64_t firstDifference(const Outputs& a, const Outputs& b, int32_t* channel);

}  // namespace quorvel_matrix
