// The module's engine copies into a variable at every sample only the inputs
// its texts name, and narrows once per run an output they do not name. What
// the texts compute and the outputs carry must not tell the difference, and
// the variables, as watched between blocks, hold what a copy at every
// sample would have left.
#include <gtest/gtest.h>

#include <vector>

#include "module/module_engine.h"

namespace {

using quorvel::module::ModuleEngine;

constexpr std::size_t kSamples = 600;  // more than two runs of the loop

float inputAt(int k, std::size_t i) {
    return static_cast<float>((static_cast<int>(i) * (k + 5)) % 97) * 0.01f - 0.4f;
}

class EngineInputs : public testing::Test {
protected:
    EngineInputs() {
        engine.restart(48000.0f);
        for (int k = 0; k < 6; ++k) {
            inputs[k].resize(kSamples);
            for (std::size_t i = 0; i < kSamples; ++i) inputs[k][i] = inputAt(k, i);
            in[k] = inputs[k].data();
        }
        for (int k = 0; k < 3; ++k) {
            outputs[k].assign(kSamples, -1.0f);
            out[k] = outputs[k].data();
        }
    }
    double variable(const char* name) { return valueIn(engine.variables(), name); }
    double constant(const char* name) { return valueIn(engine.constants(), name); }
    static double valueIn(NameTable* table, const char* name) {
        double* value = nullptr;
        EXPECT_EQ(exprFindVariable(table, name, &value), EXPR_OK) << name;
        return value ? *value : -1.0;
    }
    static double scaledIn(int k, std::size_t i) { return static_cast<double>(inputAt(k, i)) * 10.0; }

    ModuleEngine engine;
    std::vector<float> inputs[6], outputs[3];
    const float* in[6];
    float* out[3];
};

TEST_F(EngineInputs, UnnamedInputsHoldTheLastEvaluatedSampleAfterEachBlock) {
    ASSERT_EQ(engine.parseExpr("out1 = v;"), EXPR_OK);
    engine.process(in, out, 0, 300, true);
    for (std::size_t i = 0; i < 300; ++i)
        ASSERT_EQ(outputs[0][i], quorvel::module::narrowToFloat(scaledIn(1, i) * 0.1));
    const char* names[6] = {"u", "v", "w", "x", "y", "z"};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(variable(names[k]), scaledIn(k, 299)) << names[k];
    engine.process(in, out, 300, 301, true);
    for (int k = 0; k < 6; ++k) EXPECT_EQ(variable(names[k]), scaledIn(k, 300)) << names[k];
}

TEST_F(EngineInputs, AnInputNamedByInitAloneReachesItAtTheFirstSample) {
    ASSERT_EQ(engine.parseInit("k = w;"), EXPR_OK);
    ASSERT_EQ(engine.parseExpr("out1 = k;"), EXPR_OK);
    engine.process(in, out, 0, 10, true);
    for (std::size_t i = 0; i < 10; ++i) ASSERT_EQ(outputs[0][i], quorvel::module::narrowToFloat(scaledIn(2, 0) * 0.1));
}

TEST_F(EngineInputs, AnInputATextAssignsKeepsTheTextsValue) {
    ASSERT_EQ(engine.parseExpr("out2 = u; u = 5;"), EXPR_OK);
    engine.process(in, out, 0, 300, true);
    for (std::size_t i = 0; i < 300; ++i)
        ASSERT_EQ(outputs[1][i], quorvel::module::narrowToFloat(scaledIn(0, i) * 0.1));
    EXPECT_EQ(variable("u"), 5.0);
}

TEST_F(EngineInputs, ANewTextNamingAnInputReadsItFromItsFirstSample) {
    ASSERT_EQ(engine.parseExpr("out1 = 1;"), EXPR_OK);
    engine.process(in, out, 0, 100, true);
    ASSERT_EQ(engine.parseExpr("out1 = z;"), EXPR_OK);
    engine.process(in, out, 100, 400, true);
    for (std::size_t i = 100; i < 400; ++i)
        ASSERT_EQ(outputs[0][i], quorvel::module::narrowToFloat(scaledIn(5, i) * 0.1)) << i;
}

TEST_F(EngineInputs, AnOutputNoTextNamesCarriesTheValueLeftInIt) {
    ASSERT_EQ(engine.parseExpr("out2 = 7; out3 = -3; out1 = 1;"), EXPR_OK);
    engine.process(in, out, 0, 10, true);
    ASSERT_EQ(engine.parseExpr("out1 = u;"), EXPR_OK);
    engine.process(in, out, 10, 600, true);
    for (std::size_t i = 10; i < 600; ++i) {
        ASSERT_EQ(outputs[0][i], quorvel::module::narrowToFloat(scaledIn(0, i) * 0.1)) << i;
        ASSERT_EQ(outputs[1][i], quorvel::module::narrowToFloat(7 * 0.1)) << i;
        ASSERT_EQ(outputs[2][i], quorvel::module::narrowToFloat(-3 * 0.1)) << i;
    }
}

TEST_F(EngineInputs, TheClockWatchedBetweenBlocksShowsTheLastEvaluatedSample) {
    ASSERT_EQ(engine.parseExpr("out1 = u;"), EXPR_OK);
    engine.process(in, out, 0, 300, true);
    double time = 0.0;
    for (int i = 1; i < 300; ++i) time += 1.0 / 48000.0;
    EXPECT_EQ(constant("time"), time);
    EXPECT_EQ(constant("sample"), 299.0);
    ASSERT_EQ(engine.parseExpr("out1 = sample; out2 = time * 1000;"), EXPR_OK);
    engine.process(in, out, 300, 302, true);
    EXPECT_EQ(outputs[0][301], quorvel::module::narrowToFloat(301 * 0.1));
    time += 1.0 / 48000.0;
    time += 1.0 / 48000.0;
    EXPECT_EQ(outputs[1][301], quorvel::module::narrowToFloat(time * 1000 * 0.1));
}

// A host may hand two outputs one buffer; what it ends up holding is what
// writing every output at every sample, in pin order, leaves there.
TEST_F(EngineInputs, OutputsSharingABufferEndWithTheLastPinsValue) {
    ASSERT_EQ(engine.parseExpr("out1 = 5; out2 = 6;"), EXPR_OK);
    engine.process(in, out, 0, 1, true);
    ASSERT_EQ(engine.parseExpr("out3 = u;"), EXPR_OK);
    float* shared[3] = {out[0], out[1], out[0]};
    engine.process(in, shared, 1, 300, true);
    for (std::size_t i = 1; i < 300; ++i) {
        ASSERT_EQ(outputs[0][i], quorvel::module::narrowToFloat(scaledIn(0, i) * 0.1)) << i;
        ASSERT_EQ(outputs[1][i], quorvel::module::narrowToFloat(6 * 0.1)) << i;
    }
}

TEST_F(EngineInputs, AStoppedBlockLeavesTheSampleItStoppedIn) {
    ASSERT_EQ(engine.parseExpr("out2 = 7;"), EXPR_OK);
    engine.process(in, out, 0, 1, true);
    // The budget stops the evaluation at sample 260, the block's index 259,
    // in its second run.
    ASSERT_EQ(engine.parseExpr("out1 = 1; for(i = 0, equal(sample, 260), i = i + 1, 0);"), EXPR_OK);
    engine.process(in, out, 0, 400, true);
    EXPECT_EQ(outputs[0][258], 0.1f);
    EXPECT_EQ(outputs[0][259], 0.0f);
    EXPECT_EQ(variable("x"), scaledIn(3, 259));
    // An output no text names is silenced alike.
    EXPECT_EQ(outputs[1][258], quorvel::module::narrowToFloat(7 * 0.1));
    EXPECT_EQ(outputs[1][259], 0.0f);
}

}  // namespace
