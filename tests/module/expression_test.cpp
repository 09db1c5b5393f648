// The expression module through the binary interface: texts, statuses,
// scaling, time, silence, rates and block sizes.
#include <cfloat>
#include <climits>
#include <cmath>

#include "module_support.h"

namespace quorvel_test {
namespace {

// ---- Statuses on pin updates ---------------------------------------------------------

struct UpdateCase {
    int32_t pin;
    int32_t status;
};

class PinUpdateStatuses : public testing::TestWithParam<UpdateCase> {};

TEST_P(PinUpdateStatuses, ThreeOutputsEachWithAFreshStamp) {
    Rig rig;
    rig.host().clearCalls();
    rig.host().pinUpdate(GetParam().pin, GetParam().status);
    const auto calls = rig.host().calls();
    ASSERT_EQ(calls.size(), 6u);
    const auto stamps = rig.host().stampsIssued();
    ASSERT_EQ(stamps.size(), 3u);
    for (int32_t k = 0; k < 3; ++k) {
        EXPECT_EQ(calls[2 * k].opcode, HOST_GET_STAMP);
        const auto& status = calls[2 * k + 1];
        EXPECT_EQ(status.opcode, HOST_SET_PIN_STATUS);
        EXPECT_EQ(status.index, 8 + k);
        EXPECT_EQ(status.value, 2);
        EXPECT_EQ(static_cast<int32_t>(status.ptr), stamps[k]) << "the stamp just issued goes back";
        EXPECT_EQ(status.opt, 0.0f);
    }
}

std::vector<UpdateCase> everyPinAndStatus() {
    std::vector<UpdateCase> cases;
    for (int32_t pin = 0; pin < 11; ++pin)
        for (int32_t status : {0, 1, 2, 5}) cases.push_back({pin, status});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryPin, PinUpdateStatuses, testing::ValuesIn(everyPinAndStatus()));

TEST(PinUpdate, StatusesAlsoWhenSetupNeverRanAText) {
    Rig rig;
    rig.host().setText(kExprPin, "out1 = ;");  // fails to parse
    EXPECT_EQ(rig.host().statuses().size(), 3u);
}

// ---- Which text is parsed -------------------------------------------------------------

TEST(PinUpdate, ExprUpdateLeavesInitAlone) {
    Rig rig;
    rig.init("out2 = 7;");
    rig.expr("out1 = 1;");
    // A new Init text without its update must not be picked up by an Expr update.
    rig.host().setText(kInitPin, "out2 = 3;", /*deliver=*/false);
    rig.expr("out1 = 2;");
    rig.host().open();  // counter back to 0: Init runs
    rig.run(4);
    EXPECT_EQ(rig.out(0, 0), 0.2f);
    EXPECT_EQ(rig.out(1, 0), scaled(7.0));
}

TEST(PinUpdate, InitAndInputUpdatesLeaveExprAlone) {
    Rig rig;
    rig.expr("out1 = 1;");
    rig.host().setText(kExprPin, "out1 = 5;", /*deliver=*/false);
    rig.init("out2 = 4;");
    for (int32_t pin = 0; pin < 6; ++pin) rig.host().pinUpdate(pin);
    rig.host().pinUpdate(8);
    rig.run(4);
    EXPECT_EQ(rig.out(0, 3), 0.1f);
}

TEST(PinUpdate, ALaterValidTextResumesOutput) {
    Rig rig;
    rig.expr("out1 = 1");  // no closing semicolon
    rig.run(16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(rig.out(0, i), 0.0f);
    rig.expr("out1 = sample;");
    rig.run(4);
    EXPECT_EQ(rig.out(0, 0), scaled(16.0)) << "time and counter ran on while silent";
}

// ---- Init -----------------------------------------------------------------------------------

TEST(Init, RunsOnlyAtCounterZero) {
    Rig rig;
    rig.init("c = c + 1;");
    rig.expr("out1 = c;");
    for (int block = 0; block < 3; ++block) {
        rig.run(50);
        for (int i = 0; i < 50; ++i) ASSERT_EQ(rig.out(0, i), 0.1f) << block << ":" << i;
    }
    rig.init("c = c + 10;");  // parsed, not run
    rig.run(50);
    EXPECT_EQ(rig.out(0, 49), 0.1f);
    rig.host().open();
    rig.run(1);
    EXPECT_EQ(rig.out(0, 0), scaled(11.0));
}

TEST(Init, RunsBeforeExprInTheFirstSample) {
    Rig rig;
    rig.init("k = 4; out3 = 2;");
    rig.expr("out1 = k;");  // never assigns out3: its value from Init stays
    rig.run(3);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rig.out(0, i), scaled(4.0));
        EXPECT_EQ(rig.out(2, i), scaled(2.0));
    }
}

TEST(Init, VariableCreatedByInitIsUsedByExpr) {
    Rig rig;
    rig.init("gain = 3; offset = 0.5;");
    rig.expr("out1 = u * gain + offset;");
    rig.fillInput(0, 0.25f);
    rig.run(2);
    EXPECT_EQ(rig.out(0, 1), scaled(0.25 * 10.0 * 3.0 + 0.5));
}

// ---- Scaling -----------------------------------------------------------------------------------

class InputScaling : public testing::TestWithParam<float> {};

TEST_P(InputScaling, TimesTenInTimesPointOneOut) {
    Rig rig;
    rig.expr("out1 = u; out2 = z;");
    rig.fillInput(0, GetParam());
    rig.fillInput(5, -GetParam());
    rig.run(2);
    EXPECT_EQ(rig.out(0, 1), scaled(static_cast<double>(GetParam()) * 10.0));
    EXPECT_EQ(rig.out(1, 1), scaled(static_cast<double>(-GetParam()) * 10.0));
}

INSTANTIATE_TEST_SUITE_P(Values, InputScaling,
                         testing::Values(0.5f, 0.1f, 1.0e-3f, 3.25f, 0.3f, 1.0f / 3.0f, 1.0e30f, FLT_MIN));

TEST(Scaling, InputIsWidenedThenMultipliedByTen) {
    Rig rig;
    rig.expr("out1 = equal(u, 1.0000000149011612); out2 = equal(v, 5);");
    rig.fillInput(0, 0.1f);  // 0.1f widened is 0.100000001490116..., times 10 exactly
    rig.fillInput(1, 0.5f);
    rig.run(2);
    EXPECT_EQ(rig.out(0, 1), 0.1f);
    EXPECT_EQ(rig.out(1, 1), 0.1f);
}

struct OutputCase {
    const char* text;
    double engineValue;
};

class OutputScaling : public testing::TestWithParam<OutputCase> {};

TEST_P(OutputScaling, MultipliedByTheDoubleNearestATenthThenNarrowed) {
    Rig rig;
    rig.expr(GetParam().text);
    rig.run(1);
    EXPECT_EQ(rig.out(0, 0), scaled(GetParam().engineValue));
}

// 12.0000022649765 is a value where times 0.1 and divided by 10 narrow to
// different floats.
INSTANTIATE_TEST_SUITE_P(Values, OutputScaling,
                         testing::Values(OutputCase{"out1 = 10;", 10.0}, OutputCase{"out1 = 3;", 3.0},
                                         OutputCase{"out1 = 12.0000022649765;", 12.0000022649765},
                                         OutputCase{"out1 = -0.7;", -0.7}, OutputCase{"out1 = 0;", 0.0}));

TEST(Scaling, ValuesBeyondTheFloatRangeNarrowLikeIeee) {
    Rig rig;
    rig.expr("out1 = pow(10, 300); out2 = -pow(10, 300); out3 = sqrt(-1);");
    rig.run(1);
    EXPECT_EQ(rig.out(0, 0), INFINITY);
    EXPECT_EQ(rig.out(1, 0), -INFINITY);
    EXPECT_TRUE(std::isnan(rig.out(2, 0)));
    // Ten times FLT_MAX, scaled back, lands within half a unit of FLT_MAX;
    // so do values just above FLT_MAX itself, of either sign.
    rig.expr(
        "out1 = 3402823466385288598117041834845169254400; out2 = 3402823500000000000000000000000000000000;"
        "out3 = -out2;");
    rig.run(1);
    EXPECT_EQ(rig.out(0, 0), FLT_MAX);
    EXPECT_EQ(rig.out(1, 0), FLT_MAX);
    EXPECT_EQ(rig.out(2, 0), -FLT_MAX);
}

TEST(Scaling, OutputsNeverAssignedKeepTheirValue) {
    Rig rig;
    rig.expr("out1 = 1;");
    rig.run(3);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(rig.out(2, i), 0.0f);
    rig.expr("out3 = 6;");
    rig.run(1);
    rig.expr("out2 = 1;");
    rig.run(2);
    EXPECT_EQ(rig.out(0, 1), 0.1f);
    EXPECT_EQ(rig.out(2, 1), scaled(6.0));
}

// ---- Time and counter --------------------------------------------------------------------------

TEST(Time, RunningSumOfStepsAndTheCounter) {
    const float rate = 48000.0f;
    Rig rig(rate);
    // The difference between the running sum and n / rate, magnified.
    rig.expr("out1 = sample; out2 = (time - sample / rate) * 10000000000000000000; out3 = time;");
    const double step = 1.0 / static_cast<double>(rate);
    double time = 0.0;
    uint32_t n = 0;
    int drifted = 0;
    for (int block = 0; block < 40; ++block) {
        rig.run(17);
        for (int i = 0; i < 17; ++i, ++n, time += step) {
            const double drift = (time - static_cast<double>(n) / 48000.0) * 10000000000000000000.0;
            ASSERT_EQ(rig.out(0, i), scaled(static_cast<double>(n)));
            ASSERT_EQ(rig.out(1, i), scaled(drift)) << n;
            ASSERT_EQ(rig.out(2, i), scaled(time));
            drifted += drift != 0.0;
        }
    }
    EXPECT_GT(drifted, 0) << "the case does not tell a running sum from n / rate";
}

struct RateCase {
    float before;
    float after;  // set after open; takes effect only at the next open
};

class SampleRate : public testing::TestWithParam<RateCase> {};

TEST_P(SampleRate, ReadAtOpenOnly) {
    const RateCase& c = GetParam();
    Rig rig(c.before);
    rig.expr("out1 = rate; out3 = time;");
    rig.host().setSampleRate(c.after);
    rig.run(2);
    EXPECT_EQ(rig.out(0, 0), scaled(static_cast<double>(c.before)));
    EXPECT_EQ(rig.out(2, 1), scaled(1.0 / static_cast<double>(c.before)));
    rig.host().open();
    rig.run(2);
    EXPECT_EQ(rig.out(0, 0), scaled(static_cast<double>(c.after)));
    EXPECT_EQ(rig.out(2, 1), scaled(1.0 / static_cast<double>(c.after)));
}

INSTANTIATE_TEST_SUITE_P(Rates, SampleRate,
                         testing::Values(RateCase{48000.0f, 96000.0f}, RateCase{44100.0f, 22050.5f},
                                         RateCase{8000.0f, 768000.0f}));

TEST(SampleRate, DefaultIs44100) {
    auto instance = Instance::create(moduleLibrary());
    ASSERT_TRUE(instance);
    instance->open();
    instance->setText(kExprPin, "out1 = rate;");
    float out[1] = {kUntouched};
    float* outputs[3] = {out, nullptr, nullptr};
    instance->processBlock(nullptr, outputs, 1);
    EXPECT_EQ(out[0], scaled(44100.0));
}

class UnusableRate : public testing::TestWithParam<float> {};

TEST_P(UnusableRate, TimeStandsStill) {
    Rig rig(GetParam());
    rig.expr("out1 = time; out2 = sample;");
    rig.run(8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(rig.out(0, i), 0.0f);
        EXPECT_EQ(rig.out(1, i), scaled(i));
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, UnusableRate, testing::Values(0.0f, -48000.0f, NAN, INFINITY));

// ---- Silence -----------------------------------------------------------------------------------

TEST(Silence, OnlyTheFailingSamples) {
    Rig rig;
    // pntchange with equal positions fails: here whenever u is 0.
    rig.expr("out1 = 1; out2 = pntchange(0, u, 0, 1, 1); out3 = 2;");
    for (int i = 0; i < 64; ++i) rig.inputs[0][i] = i % 3 == 0 ? 0.0f : 0.5f;
    rig.run(64);
    for (int i = 0; i < 64; ++i) {
        const bool fails = i % 3 == 0;
        EXPECT_EQ(rig.out(0, i), fails ? 0.0f : 0.1f) << i;
        EXPECT_EQ(rig.out(1, i), fails ? 0.0f : scaled(1.0 / 5.0)) << i;
        EXPECT_EQ(rig.out(2, i), fails ? 0.0f : 0.2f) << i;
    }
}

TEST(Silence, BeforeAnyExprText) {
    Rig rig;
    rig.init("out1 = 5;");
    rig.run(8);
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 8; ++i) EXPECT_EQ(rig.out(k, i), 0.0f);
}

class FailedParse : public testing::TestWithParam<const char*> {};

TEST_P(FailedParse, SilentEverySample) {
    Rig rig;
    rig.expr("out1 = 1;");
    rig.expr(GetParam());
    rig.run(32);
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 32; ++i) ASSERT_EQ(rig.out(k, i), 0.0f) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Texts, FailedParse,
                         testing::Values("out1 = 1", "", "   ", "<only a comment>", "out1 = (1;", "time = 1;",
                                         "out1 = nosuch(1);", "out1 = 1 # 2;", "rand(&rate);", "out1 = abs(1, 2);"));

TEST(Silence, DivisionByZeroAndMathErrorsGiveZeroNotSilence) {
    Rig rig;
    rig.expr("out1 = 1 / 0; out2 = asin(2); out3 = 1;");
    rig.run(2);
    EXPECT_EQ(rig.out(0, 1), 0.0f);
    EXPECT_EQ(rig.out(1, 1), 0.0f);
    EXPECT_EQ(rig.out(2, 1), 0.1f);
}

// ---- Blocks ------------------------------------------------------------------------------------

class EmptyBlock : public testing::TestWithParam<int32_t> {};

TEST_P(EmptyBlock, ChangesNothing) {
    Rig rig;
    rig.expr("out1 = sample;");
    rig.run(5);
    rig.run(GetParam());
    for (int i = 0; i < 8; ++i) EXPECT_EQ(rig.out(0, i), kUntouched);
    rig.run(1);
    EXPECT_EQ(rig.out(0, 0), scaled(5.0)) << "counter did not move";
}

INSTANTIATE_TEST_SUITE_P(Counts, EmptyBlock, testing::Values(0, -1, -256, INT32_MIN));

TEST(Blocks, StartSelectsTheFirstSample) {
    Rig rig;
    rig.expr("out1 = u;");
    for (int i = 0; i < 32; ++i) rig.inputs[0][i] = static_cast<float>(i) / 8.0f;
    rig.runAt(10, 5);
    for (int i = 0; i < 32; ++i) {
        if (i >= 10 && i < 15)
            EXPECT_EQ(rig.out(0, i), scaled(static_cast<double>(i) / 8.0 * 10.0)) << i;
        else
            EXPECT_EQ(rig.out(0, i), kUntouched) << i;
    }
    rig.runAt(-1, 5);  // a negative start is refused
    for (int i = 0; i < 32; ++i) EXPECT_EQ(rig.out(0, i), kUntouched);
}

TEST(Blocks, MissingBuffersReadAsZeroAndAreNotWritten) {
    Rig rig;
    rig.expr("out1 = 1 + u; out2 = 2;");
    float out2[4];
    const float* inputs[6] = {};
    float* outputs[3] = {nullptr, out2, nullptr};
    rig.host().processBlock(inputs, outputs, 4);
    for (float sample : out2) EXPECT_EQ(sample, 0.2f);
}

struct BlockCase {
    int32_t size;
    float rate;
};

class BlockSizeAndRate : public testing::TestWithParam<BlockCase> {};

TEST_P(BlockSizeAndRate, ProcessesWithoutFault) {
    const BlockCase& c = GetParam();
    Rig rig(c.rate, {}, c.size);
    rig.host().setBlockSize(c.size);
    rig.expr("out1 = sample; out2 = sin(2 * M_PI * 440 * time) * 10; out3 = time * rate - sample;");
    for (int i = 0; i < c.size; ++i) rig.inputs[0][i] = std::sin(static_cast<float>(i));
    uint32_t n = 0;
    for (int block = 0; block < 3; ++block) {
        rig.run(c.size);
        for (int i = 0; i < c.size; ++i, ++n) {
            ASSERT_EQ(rig.out(0, i), scaled(static_cast<double>(n)));
            ASSERT_LE(std::fabs(rig.out(1, i)), 1.0f + 1e-6f);
            ASSERT_LT(std::fabs(rig.out(2, i)), 1e-3f) << "time follows the counter";
        }
    }
}

std::vector<BlockCase> blockCases() {
    std::vector<BlockCase> cases;
    for (int32_t size : {1, 17, 256, 2027, 8192})
        for (float rate : {8000.0f, 11025.5f, 44100.0f, 48000.0f, 96000.0f, 192000.25f, 768000.0f})
            cases.push_back({size, rate});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Sizes, BlockSizeAndRate, testing::ValuesIn(blockCases()));

// ---- Runaway texts -------------------------------------------------------------------------------

TEST(Budget, RunawayExprIsSilentAndALaterTextResumes) {
    Rig rig;
    rig.expr("out1 = 1; for(i = 0, 1, i = i + 1, x = i);");
    rig.run(16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(rig.out(0, i), 0.0f);
    rig.expr("out1 = 1;");
    rig.run(16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(rig.out(0, i), 0.1f);
}

// About 270 000 node evaluations: past Expr's budget, well inside Init's.
constexpr const char* kLongLoop = "for(i = 0, below(i, 30000), i = i + 1, k = i);";

TEST(Budget, InitMayRunLongerThanExpr) {
    Rig rig;
    rig.init(kLongLoop);
    rig.expr("out1 = k / 10000;");
    rig.run(2);
    EXPECT_EQ(rig.out(0, 1), scaled(29999.0 / 10000.0));

    rig.expr(std::string("out1 = 1; ") + kLongLoop);
    rig.run(2);
    EXPECT_EQ(rig.out(0, 1), 0.0f);
}

TEST(Budget, RunawayInitDoesNotStopExpr) {
    Rig rig;
    rig.init("for(i = 0, 1, i = i + 1, x = i);");
    rig.expr("out1 = 1;");
    rig.host().open();
    rig.run(4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(rig.out(0, i), 0.1f);
}

// Runs forever at the samples the condition picks, counting every evaluation in n.
std::string runawayWhen(const std::string& condition) {
    return "n = n + 1; out1 = n; for(i = 0, and(" + condition + ", 1), i = i + 1, k = i);";
}

TEST(Budget, AStoppedExprSilencesTheRestOfItsBlockWithoutEvaluating) {
    Rig rig;
    rig.expr(runawayWhen("equal(sample, 3)"));
    rig.run(8);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(rig.out(0, i), scaled(i + 1.0)) << i;
    for (int i = 3; i < 8; ++i) EXPECT_EQ(rig.out(0, i), 0.0f) << i;
    // The next block tries again: n counts the four evaluations of the first
    // block, none after the stop.
    rig.run(4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(rig.out(0, i), scaled(5.0 + i)) << i;
}

TEST(Budget, TimeAndCounterRunOnThroughTheSilencedSamples) {
    Rig rig(1000.0f);
    rig.expr(runawayWhen("equal(sample, 1)") + " out2 = sample; out3 = time * 1000;");
    rig.run(6);
    rig.run(2);
    EXPECT_EQ(rig.out(1, 0), scaled(6.0));
    EXPECT_EQ(rig.out(2, 0), scaled(6.0));
}

TEST(Budget, AStoppedInitDoesNotSilenceTheBlock) {
    Rig rig;
    rig.init("for(i = 0, 1, i = i + 1, k = i);");
    rig.expr("n = n + 1; out1 = n;");
    rig.host().open();
    rig.run(4);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(rig.out(0, i), scaled(i + 1.0)) << i;
}

TEST(Budget, EachEvaluationStartsAFreshBudget) {
    Rig rig;
    // About 90 000 node evaluations: fits once per sample, every sample.
    rig.expr("out1 = 1; for(i = 0, below(i, 10000), i = i + 1, k = i);");
    rig.run(8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(rig.out(0, i), 0.1f) << i;
}

}  // namespace
}  // namespace quorvel_test
