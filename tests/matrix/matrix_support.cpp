#include "matrix/matrix_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace quorvel_matrix {

const Library& plugIn() {
    return quorvel::host::Library::nextToExecutable();
}

std::vector<Patch> examplePatches() {
    std::vector<Patch> patches;
    std::string text, found;
    if (!quorvel_test::readSourceFile("examples/sine.expr.txt", text, &found)) {
        ADD_FAILURE() << "examples/ not found";
        return patches;
    }
    const std::filesystem::path directory = std::filesystem::path(found).parent_path();
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const std::string name = entry.path().filename().string();
        const std::string suffix = ".expr.txt";
        if (name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0)
            names.push_back(name.substr(0, name.size() - suffix.size()));
    }
    std::sort(names.begin(), names.end());
    for (const std::string& stem : names) {
        Patch patch{stem, {}, {}};
        if (!quorvel_test::readWholeFile((directory / (stem + ".expr.txt")).string(), patch.expr))
            ADD_FAILURE() << "cannot read " << stem;
        quorvel_test::readWholeFile((directory / (stem + ".init.txt")).string(), patch.init);
        patches.push_back(patch);
    }
    return patches;
}

std::vector<Patch> corpusPatches() {
    return {
        {"passthrough", "out1 = u; out2 = v; out3 = w;", ""},
        {"arithmetic", "out1 = (u + v) * 0.5 - w / 3; out2 = -out1 * x; out3 = y * -z + 1.25;", ""},
        {"counter", "n = n + 1; out1 = mod(n, 7); out2 = sample / 1000; out3 = time * 100;", ""},
        {"state", "acc = acc * 0.999 + u; out1 = acc; out2 = fpart(acc); out3 = ipart(acc);", "acc = 3;"},
        {"math",
         "out1 = sin(u) + cos(v) + tan(w / 20); out2 = sqrt(abs(x)) + exp(y / 10) + ln(abs(z) + 1);"
         "out3 = pow(abs(u), 1.5) + atan2(v, w) + log(abs(x) + 2) + pow10(y / 10) + logn(3, abs(z) + 2);",
         ""},
        {"hyperbolic",
         "out1 = sinh(u / 5) + cosh(v / 5) + tanh(w); out2 = asin(x / 10) + acos(y / 10) + atan(z);"
         "out3 = ceil(u) + floor(v) + deg(w) + rad(x);",
         ""},
        {"polar", "out1 = recttopolr(u, v); out2 = recttopola(u, v); out3 = poltorectx(w, x) + poltorecty(w, x);", ""},
        {"logic",
         "out1 = if(above(u, v), u, v) + select(w, 1, 2, 3); out2 = and(x, y) + or(y, z) + not(z);"
         "out3 = equal(u, u) + below(u, v) + min(u, v, w) + max(x, y, z) + avg(u, v, w, x);",
         ""},
        {"shaping",
         "out1 = clip(u, -3, 3); out2 = clamp(v, -2, 2); out3 = poly(w / 10, 1, 2, 3, 4) + pntchange(0, 1, 2, 3, "
         "fpart(x));",
         ""},
        {"random", "out1 = rand(&s) / 32768; out2 = random(-5, 5, &r); out3 = s / 1000000;", "s = 7; r = 11;"},
        {"loop", "t = 0; for(k = 0, below(k, 8), k = k + 1, t = t + sin(k * u)); out1 = t;", ""},
        {"choices in calls",
         "out1 = max(if(u, v, w), for(k = 0, below(k, 3), k = k + 1, k * x), atan2(x, y));"
         "out2 = logn(abs(y) + 2, 1) + poly(pow10(200) * z, 1, 0, 0) + 1;"
         "out3 = min(if(above(u, 0), 1, pntchange(1, 1, 2, 3, u)), 2);",
         ""},
        {"many", "out1 = many(a = u, b = v, a * b); out2 = many(c = out1 + 1); out3 = c;", ""},
        {"constants", "out1 = M_PI * u; out2 = M_E + rate / 100000; out3 = M_SQRT2 * w;", ""},
        {"math errors", "out1 = u / 0; out2 = sqrt(-1 - abs(v)); out3 = ln(0) + 1 / (w - w) + asin(5);", ""},
        {"overflow", "out1 = exp(800) * u; out2 = pow(10, 400) - pow(10, 400); out3 = -pow(10, 300) * pow(10, 300);",
         ""},
        {"pntchange failure", "out1 = pntchange(1, 1, 2, 3, u); out2 = 1;", ""},
        {"comments", "< a comment < nested > > out1 = u; < another >\nout2 = v;\r\n\tout3 = w ;", ""},
        {"parse failure", "out1 = (u + ;", "bad = ;"},
        {"bad literal", "out1 = 1e5;", ""},
        {"unknown function", "out1 = nosuch(u);", ""},
        {"constant assign", "M_PI = 3; out1 = u;", ""},
        {"empty", "", ""},
        {"only comment", "< nothing here >", ""},
        {"deep nesting", std::string(200, '(') + "u" + std::string(200, ')') + "; out1 = u;", ""},
        {"too deep", "out1 = " + std::string(400, '(') + "u" + std::string(400, ')') + ";", ""},
        {"init sets output", "out2 = out2 + 0.001;", "out1 = 3; out2 = -4; out3 = 2.5;"},
        {"huge values",
         "out1 = 1000000000000000000000000000000000000000000000; out2 = -out1; out3 = 0.0000000000000000000001;", ""},
    };
}

std::vector<Patch> allPatches() {
    std::vector<Patch> patches = examplePatches();
    for (const Patch& patch : corpusPatches()) patches.push_back(patch);
    return patches;
}

Inputs::Inputs(int64_t length, uint64_t seed) {
    Noise noise(seed);
    for (auto& samples : channel) {
        samples.resize(static_cast<std::size_t>(length));
        for (float& sample : samples) sample = noise.sample();
    }
    // Some exact values the texts may treat specially.
    for (int64_t i = 0; i < length; i += 97) channel[0][static_cast<std::size_t>(i)] = 0.0f;
}

Grouping fixedBlocks(int64_t length, int32_t size) {
    Grouping grouping;
    if (size <= 0) {
        // Empty blocks between blocks of one sample: they must change nothing.
        for (int64_t done = 0; done < length; ++done) {
            grouping.push_back(0);
            grouping.push_back(1);
        }
        grouping.push_back(0);
        return grouping;
    }
    for (int64_t done = 0; done < length; done += size)
        grouping.push_back(static_cast<int32_t>(std::min<int64_t>(size, length - done)));
    return grouping;
}

Grouping randomBlocks(int64_t length, uint64_t seed, int32_t largest) {
    Noise noise(seed);
    Grouping grouping;
    for (int64_t done = 0; done < length;) {
        // Mostly small blocks, now and then an empty or a large one.
        const int32_t pick = noise.below(10);
        int32_t size = pick == 0 ? 0 : pick < 7 ? 1 + noise.below(64) : 1 + noise.below(largest);
        size = static_cast<int32_t>(std::min<int64_t>(size, length - done));
        grouping.push_back(size);
        done += size;
    }
    return grouping;
}

namespace {

// Output buffers for one block: kGuard floats of guard pattern on each side.
class GuardedBlock {
public:
    explicit GuardedBlock(int32_t count) : count_(count) {
        for (auto& buffer : buffers_) {
            buffer.assign(static_cast<std::size_t>(count) + 2 * kGuard, kGuardBits);
        }
    }
    float* data(int k) { return reinterpret_cast<float*>(buffers_[k].data() + kGuard); }
    uint32_t bits(int k, int32_t i) const { return buffers_[k][static_cast<std::size_t>(kGuard + i)]; }
    // Index (relative to the block) of the first damaged guard word, or INT32_MIN.
    int32_t damagedGuard(int k) const {
        const auto& buffer = buffers_[k];
        for (int32_t i = 0; i < kGuard; ++i) {
            if (buffer[static_cast<std::size_t>(i)] != kGuardBits) return i - kGuard;
            if (buffer[static_cast<std::size_t>(kGuard + count_ + i)] != kGuardBits) return count_ + i;
        }
        return INT32_MIN;
    }

private:
    int32_t count_;
    std::vector<uint32_t> buffers_[3];
};

}  // namespace

Outputs render(const Patch& patch, float rate, const Inputs& inputs, const Grouping& grouping,
               const std::vector<Swap>& swaps) {
    Outputs result;
    auto instance = Instance::create(plugIn());
    if (!instance) {
        ADD_FAILURE() << "the plug-in made no instance";
        return result;
    }
    instance->setSampleRate(rate);
    instance->open();
    if (!patch.init.empty()) instance->setText(kInitPin, patch.init);
    instance->setText(kExprPin, patch.expr);

    const int64_t length = static_cast<int64_t>(inputs.channel[0].size());
    for (auto& channel : result.channel) channel.reserve(static_cast<std::size_t>(length));
    const std::vector<float> before[6] = {inputs.channel[0], inputs.channel[1], inputs.channel[2],
                                          inputs.channel[3], inputs.channel[4], inputs.channel[5]};
    std::size_t nextSwap = 0;
    int64_t done = 0;
    auto playBlock = [&](int32_t count) {
        GuardedBlock block(count);
        const float* in[6];
        for (int k = 0; k < 6; ++k) in[k] = inputs.channel[k].data() + done;
        float* out[3] = {block.data(0), block.data(1), block.data(2)};
        instance->processBlock(in, out, count);
        for (int k = 0; k < 3; ++k) {
            const int32_t damaged = block.damagedGuard(k);
            if (damaged != INT32_MIN)
                ADD_FAILURE() << patch.name << " at " << rate << " Hz: out" << (k + 1) << " written at " << damaged
                              << " in a block of " << count << " starting at sample " << done;
            for (int32_t i = 0; i < count; ++i) result.channel[k].push_back(block.bits(k, i));
        }
        done += count;
    };
    for (int32_t size : grouping) {
        int32_t left = size;
        if (left == 0) playBlock(0);
        while (left > 0) {
            while (nextSwap < swaps.size() && swaps[nextSwap].at <= done) {
                instance->setText(swaps[nextSwap].pin, swaps[nextSwap].text);
                ++nextSwap;
            }
            int32_t count = left;
            if (nextSwap < swaps.size())
                count = static_cast<int32_t>(std::min<int64_t>(count, swaps[nextSwap].at - done));
            playBlock(count);
            left -= count;
        }
    }
    instance->close();
    for (int k = 0; k < 6; ++k)
        if (before[k] != inputs.channel[k]) ADD_FAILURE() << patch.name << ": input " << k << " was written";
    return result;
}

int64_t firstDifference(const Outputs& a, const Outputs& b, int32_t* channel) {
    for (int32_t k = 0; k < 3; ++k) {
        const auto& x = a.channel[k];
        const auto& y = b.channel[k];
        const std::size_t common = std::min(x.size(), y.size());
        for (std::size_t i = 0; i < common; ++i) {
            if (x[i] != y[i]) {
                *channel = k;
                return static_cast<int64_t>(i);
            }
        }
        if (x.size() != y.size()) {
            *channel = k;
            return static_cast<int64_t>(common);
        }
    }
    return -1;
}

}  // namespace quorvel_matrix
