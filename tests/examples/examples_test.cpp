// Every patch in examples/, rendered through the built quorvel.sem by our
// own host exactly as a host plays it, and judged by a property of its sound.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "examples/source_files.h"
#include "quorvel_host.h"

namespace {

using namespace quorvel::module;

using quorvel::host::Instance;
using quorvel::host::Library;

constexpr double kPi = 3.14159265358979323846;

const Library& plugIn() {
    return quorvel::host::Library::nextToExecutable();
}

std::string example(const std::string& name) {
    std::string text;
    if (!quorvel_test::readSourceFile("examples/" + name, text)) {
        ADD_FAILURE() << "cannot read examples/" << name;
        return {};
    }
    return text;
}

using Signal = std::function<float(int64_t)>;

struct Sound {
    std::vector<float> out[3];
};

// Renders through the plug-in in blocks of 256, as a host does; inputs
// that no signal feeds stay 0.
Sound render(const std::string& expr, const std::string* init, int64_t samples, float rate = 48000.0f,
             const Signal& u = {}) {
    Sound sound;
    auto instance = Instance::create(plugIn());
    if (!instance) {
        ADD_FAILURE() << "the plug-in made no instance";
        return sound;
    }
    instance->setSampleRate(rate);
    instance->setBlockSize(256);
    instance->open();
    if (init) instance->setText(kInitPin, *init);
    instance->setText(kExprPin, expr);
    for (auto& channel : sound.out) channel.assign(static_cast<std::size_t>(samples), 0.0f);
    std::vector<float> inputU(256, 0.0f), silence(256, 0.0f);
    for (int64_t done = 0; done < samples; done += 256) {
        const int32_t count = static_cast<int32_t>(std::min<int64_t>(256, samples - done));
        for (int32_t i = 0; i < count; ++i) inputU[i] = u ? u(done + i) : 0.0f;
        const float* in[6] = {inputU.data(),  silence.data(), silence.data(),
                              silence.data(), silence.data(), silence.data()};
        float* out[3];
        for (int k = 0; k < 3; ++k) out[k] = sound.out[k].data() + done;
        instance->processBlock(in, out, count);
    }
    return sound;
}

Sound render(const std::string& expr, int64_t samples, float rate = 48000.0f, const Signal& u = {}) {
    return render(expr, nullptr, samples, rate, u);
}

double peak(const std::vector<float>& x, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    double p = 0.0;
    for (std::size_t i = from; i < std::min(to, x.size()); ++i) p = std::max(p, std::fabs(static_cast<double>(x[i])));
    return p;
}

double rms(const std::vector<float>& x, std::size_t from = 0, std::size_t to = SIZE_MAX) {
    to = std::min(to, x.size());
    double sum = 0.0;
    for (std::size_t i = from; i < to; ++i) sum += static_cast<double>(x[i]) * x[i];
    return to > from ? std::sqrt(sum / static_cast<double>(to - from)) : 0.0;
}

// Frequency from the upward zero crossings, placed between samples by
// linear interpolation: (crossings - 1) periods between the first and last.
double frequencyByZeroCrossings(const std::vector<float>& x, double rate, std::size_t from = 0) {
    double first = -1.0, last = -1.0;
    int crossings = 0;
    for (std::size_t i = std::max<std::size_t>(from, 1); i < x.size(); ++i) {
        if (x[i - 1] < 0.0f && x[i] >= 0.0f) {
            const double t = static_cast<double>(i - 1) + x[i - 1] / (x[i - 1] - x[i]);
            if (crossings == 0) first = t;
            last = t;
            ++crossings;
        }
    }
    if (crossings < 2) return 0.0;
    return (crossings - 1) * rate / (last - first);
}

Signal sine(double frequency, double amplitude, double rate = 48000.0) {
    return [=](int64_t n) { return static_cast<float>(amplitude * std::sin(2.0 * kPi * frequency * n / rate)); };
}

// ---- Every example has a header and a test --------------------------------

const std::set<std::string> kExamples = {
    "sine.expr.txt",     "waveshaper.expr.txt", "lowpass.expr.txt", "sample_and_hold.expr.txt",
    "additive.expr.txt", "bell.expr.txt",       "bell.init.txt",    "chaotic.expr.txt",
};

TEST(Examples, EveryFileOpensWithACommentHeaderAndIsTested) {
    std::string text, found;
    ASSERT_TRUE(quorvel_test::readSourceFile("examples/sine.expr.txt", text, &found)) << "examples/ not found";
    const std::filesystem::path directory = std::filesystem::path(found).parent_path();
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(directory))
        if (entry.is_regular_file()) files.insert(entry.path().filename().string());
    EXPECT_EQ(files, kExamples) << "an example without a test here, or a test without its example";
    for (const std::string& name : files) {
        const std::string body = example(name);
        ASSERT_FALSE(body.empty()) << name;
        EXPECT_EQ(body[0], '<') << name << " does not open with a comment header";
        // The header closes before the first statement.
        const std::size_t close = body.find('>');
        ASSERT_NE(close, std::string::npos) << name;
        EXPECT_NE(body.find(';', close), std::string::npos) << name << " has no statement after its header";
    }
}

// ---- The patches --------------------------------------------------------------

TEST(Examples, SineIs440HzAtHalfScaleAndKeepsItsPitch) {
    for (const float rate : {48000.0f, 44100.0f}) {
        SCOPED_TRACE(rate);
        const int64_t samples = static_cast<int64_t>(rate) * 20;
        const Sound sound = render(example("sine.expr.txt"), samples, rate);
        const auto& out1 = sound.out[0];
        EXPECT_NEAR(frequencyByZeroCrossings(out1, rate), 440.0, 0.01);
        // The wrapping phase keeps the pitch over the last second too.
        EXPECT_NEAR(frequencyByZeroCrossings(out1, rate, static_cast<std::size_t>(samples - rate)), 440.0, 0.05);
        EXPECT_NEAR(peak(out1), 0.5, 1e-4);
        EXPECT_LE(peak(out1), 0.5);
        EXPECT_NEAR(rms(out1), 0.5 / std::sqrt(2.0), 1e-4);
        EXPECT_EQ(peak(sound.out[1]), 0.0);
    }
}

TEST(Examples, WaveshaperStaysBoundedHoweverLoudTheInput) {
    // Twice full scale on u.
    const Sound loud = render(example("waveshaper.expr.txt"), 48000, 48000.0f, sine(100.0, 2.0));
    EXPECT_LT(peak(loud.out[0]), 1.0);
    EXPECT_GT(peak(loud.out[0]), 0.99);
    EXPECT_FLOAT_EQ(peak(loud.out[1]), 0.5);
    EXPECT_LE(peak(loud.out[2]), 1.0);
    // Quiet signals pass drive (3) times louder, hardly bent.
    const Sound quiet = render(example("waveshaper.expr.txt"), 48000, 48000.0f, sine(100.0, 0.01));
    EXPECT_NEAR(peak(quiet.out[0]), 0.03, 0.03 * 0.01);
    EXPECT_NEAR(peak(quiet.out[1]), 0.01, 1e-6);
}

TEST(Examples, LowpassPassesLowsAndRemovesHighs) {
    const std::string text = example("lowpass.expr.txt");
    // A constant settles on out1 and vanishes from out2.
    const Sound dc = render(text, 9600, 48000.0f, [](int64_t) { return 0.5f; });
    EXPECT_NEAR(dc.out[0].back(), 0.5, 1e-4);
    EXPECT_NEAR(dc.out[1].back(), 0.0, 1e-4);
    // At the cutoff the low-pass gives 1/sqrt(2) of the level, -3 dB.
    const Sound atCutoff = render(text, 48000, 48000.0f, sine(500.0, 0.5));
    const double inputRms = 0.5 / std::sqrt(2.0);
    EXPECT_NEAR(rms(atCutoff.out[0], 4800) / inputRms, 0.7072, 0.01);
    // At half the sample rate almost nothing is left.
    const Sound nyquist = render(text, 48000, 48000.0f, [](int64_t n) { return n % 2 ? -0.5f : 0.5f; });
    EXPECT_LT(rms(nyquist.out[0], 4800) / 0.5, 0.035);
    EXPECT_NEAR(rms(nyquist.out[1], 4800) / 0.5, 1.0, 0.05);
}

TEST(Examples, SampleAndHoldRepeatsItsSeededPattern) {
    const std::string text = example("sample_and_hold.expr.txt");
    const int64_t step = 48000 / 8;
    const int64_t pattern = 16 * step;
    const Sound sound = render(text, 2 * pattern + step);
    const auto& level = sound.out[0];
    std::set<float> levels;
    for (int64_t s = 0; s < 2 * pattern + step; s += step) {
        for (int64_t i = s; i < s + step; ++i)
            ASSERT_EQ(level[i], level[s]) << "the level changed inside a step at " << i;
        EXPECT_LE(std::fabs(level[s]), 0.5f);
        if (s < pattern) levels.insert(level[s]);
    }
    EXPECT_GE(levels.size(), 12u) << "16 random levels, hardly any alike";
    // The stream restarts from its seed: the second pattern is the first.
    for (int64_t i = 0; i < pattern + step; ++i) ASSERT_EQ(level[i], level[i + pattern]) << i;
    // And a new instance draws the same stream.
    const Sound again = render(text, pattern);
    for (int64_t i = 0; i < pattern; ++i) ASSERT_EQ(again.out[0][i], level[i]) << i;
    // The gate is high for the first half of each step.
    EXPECT_FLOAT_EQ(sound.out[1][0], 0.5f);
    EXPECT_FLOAT_EQ(sound.out[1][step / 2], 0.0f);
    EXPECT_NEAR(rms(sound.out[1]), 0.5 / std::sqrt(2.0), 1e-3);
}

TEST(Examples, AdditiveVoiceSumsItsOddPartialsAt110Hz) {
    const Sound sound = render(example("additive.expr.txt"), 48000);
    const auto& out1 = sound.out[0];
    EXPECT_NEAR(frequencyByZeroCrossings(out1, 48000.0), 110.0, 0.01);
    EXPECT_LT(peak(out1), 0.5);
    EXPECT_GT(peak(out1), 0.4);
    // Sample for sample the sum the loop describes.
    double phase = 0.0;
    for (std::size_t n = 0; n < out1.size(); ++n) {
        double whole;
        phase = std::modf(phase + 110.0 / 48000.0, &whole);
        double sum = 0.0;
        for (int k = 1; k < 16; k += 2) sum += std::sin(2.0 * kPi * k * phase) / k;
        ASSERT_NEAR(out1[n], 0.5 * sum, 1e-6) << "sample " << n;
    }
}

TEST(Examples, BellNeedsItsInitAndDiesAway) {
    const std::string init = example("bell.init.txt");
    const std::string expr = example("bell.expr.txt");
    const Sound bell = render(expr, &init, 48000);
    const auto& envelope = bell.out[1];
    EXPECT_NEAR(envelope[0], 1.0, 1e-4);
    // Down to 1/e in 0.4 s.
    EXPECT_NEAR(envelope[19200] / envelope[0], std::exp(-1.0), 1e-4);
    EXPECT_GT(peak(bell.out[0], 0, 4800), 0.5);
    EXPECT_LE(peak(bell.out[0]), 0.8);
    EXPECT_LT(peak(bell.out[0], 43200), 0.8 * std::exp(-2.0));
    // Without its Init every variable it needs is 0: silence.
    const Sound silent = render(expr, 48000);
    for (const auto& channel : silent.out) EXPECT_EQ(peak(channel), 0.0);
}

// The chaotic patch, whose feedback turns any difference in the last bit of
// one computation into a different sound: ten seconds at 48 kHz must give
// the bits recorded in tests/examples/chaotic.digest (a digest of each
// second's three outputs, one line per second), on every build. After a
// deliberate change of the engine's mathematics, the native build records
// the new digests: QUORVEL_RECORD_DIGESTS=1 examples_tests
// --gtest_filter=Examples.Chaotic*.
uint64_t digestOf(const Sound& sound, std::size_t from, std::size_t to) {
    uint64_t hash = 0xCBF29CE484222325;  // FNV-1a over the samples' bits
    for (const auto& channel : sound.out)
        for (std::size_t i = from; i < to; ++i) {
            uint32_t bits;
            std::memcpy(&bits, &channel[i], sizeof bits);
            for (int byte = 0; byte < 4; ++byte) hash = (hash ^ (bits >> 8 * byte & 0xFF)) * 0x100000001B3;
        }
    return hash;
}

TEST(Examples, ChaoticGivesTheRecordedTenSecondsBitForBit) {
    constexpr int kSeconds = 10;
    constexpr int64_t kRate = 48000;
    const Sound sound = render(example("chaotic.expr.txt"), kSeconds * kRate);
    std::string recorded;
    for (int s = 0; s < kSeconds; ++s) {
        char line[24];
        std::snprintf(line, sizeof line, "%016" PRIX64 "\n", digestOf(sound, s * kRate, (s + 1) * kRate));
        recorded += line;
    }
    // Chaotic indeed: it does not settle into a cycle of a few values.
    std::set<float> values(sound.out[0].end() - 4800, sound.out[0].end());
    EXPECT_GT(values.size(), 1000u);

    std::string expected, path;
    ASSERT_TRUE(quorvel_test::readSourceFile("tests/examples/chaotic.digest", expected, &path));
    if (std::getenv("QUORVEL_RECORD_DIGESTS")) {
        std::FILE* file = std::fopen(path.c_str(), "wb");
        ASSERT_NE(file, nullptr) << path;
        std::fputs(recorded.c_str(), file);
        std::fclose(file);
        expected = recorded;
    }
    ASSERT_GE(expected.size(), recorded.size()) << "tests/examples/chaotic.digest holds fewer seconds";
    for (int s = 0; s < kSeconds; ++s)
        EXPECT_EQ(recorded.substr(s * 17, 16), expected.substr(s * 17, 16)) << "second " << s << " differs";
}

}  // namespace
