// Pseudo-random streams: the exact sequence from a seed, how seeds are read,
// both bounds of random, and randomize.

#include <cmath>
#include <limits>
#include <string>

#include "builtins/library.h"

using namespace quorvel_test;

namespace {

TEST(Random, FiveStepsFromSeedZero) {
    const int32_t draws[] = {38, 7719, 21238, 2437, 8855};
    const double seeds[] = {2531011, 505908858, -755606699, 159719620, -1567142793};
    Library library;
    for (int i = 0; i < 5; ++i) {
        const Outcome outcome = library.run("rand(&s);");
        ASSERT_EQ(outcome.code, EXPR_OK);
        EXPECT_TRUE(sameValue(outcome.value, draws[i] / 32768.0)) << i;
        EXPECT_TRUE(sameValue(library.variable("s"), seeds[i])) << i;
    }
    // Assigning the seed restarts the stream.
    EXPECT_TRUE(sameValue(library.run("s = 0; rand(&s);").value, 0.00115966796875));
    // A stream carries on from any seed it has reached.
    EXPECT_TRUE(sameValue(library.run("s = 2531011; rand(&s);").value, 7719 / 32768.0));
}

TEST(Random, NextRandomSteps) {
    double seed = 0.0;
    EXPECT_EQ(nextRandom(&seed), 38);
    EXPECT_EQ(seed, 2531011.0);
    EXPECT_EQ(nextRandom(&seed), 7719);
    EXPECT_EQ(seed, 505908858.0);
}

// The seed counts by the low 32 bits of its integral part; NaN, infinities
// and values beyond the 64-bit range count as 0.
TEST(Random, SeedsAreReadAsIntegers) {
    struct Case {
        const char* seed;
        int32_t draw;
        double next;
    };
    const Case cases[] = {
        {"2.9", 45, 2959037},
        {"2", 45, 2959037},
        {"-2.9", 32, 2102985},
        {"-2", 32, 2102985},
        {"4294967303", 61, 4029102},
        {"7", 61, 4029102},
        {"pow10(18)", 6650, -1711628605},
        {"sqrt(-1)", 38, 2531011},
        {"exp(1000)", 38, 2531011},
        {"-exp(1000)", 38, 2531011},
        {"pow10(19)", 38, 2531011},
        {"-pow10(19)", 38, 2531011},
        {"pow10(300)", 38, 2531011},
        {"-0", 38, 2531011},
        {"0.999", 38, 2531011},
    };
    for (const Case& c : cases) {
        Library library;
        const Outcome outcome = library.run(std::string("s = ") + c.seed + "; rand(&s);");
        ASSERT_EQ(outcome.code, EXPR_OK) << c.seed;
        EXPECT_TRUE(sameValue(outcome.value, c.draw / 32768.0)) << c.seed;
        EXPECT_TRUE(sameValue(library.variable("s"), c.next)) << c.seed;
    }
    double extremes[] = {std::numeric_limits<double>::quiet_NaN(), -0x1p63, 0x1p63,
                         -std::numeric_limits<double>::max()};
    for (double seed : extremes) {
        const int32_t draw = nextRandom(&seed);
        EXPECT_GE(draw, 0);
        EXPECT_LE(draw, 32767);
    }
}

TEST(Random, RandomBetweenBounds) {
    Library library;
    Outcome outcome = library.run("random(0, 1, &s);");
    EXPECT_TRUE(sameValue(outcome.value, 0.0011597033600878933));
    EXPECT_EQ(library.variable("s"), 2531011.0);
    // A reference may stand anywhere among the arguments.
    outcome = library.run("s = 0; random(&s, 0, 1);");
    EXPECT_TRUE(sameValue(outcome.value, 0.0011597033600878933));
    // Equal bounds give the bound and still step the seed.
    outcome = library.run("s = 0; random(5, 5, &s);");
    EXPECT_TRUE(sameValue(outcome.value, 5.0));
    EXPECT_EQ(library.variable("s"), 2531011.0);
    EXPECT_TRUE(sameValue(library.run("random(5, 5, &s);").value, 5.0));
    EXPECT_EQ(library.variable("s"), 505908858.0);
    // Draw 32767 gives the upper bound exactly, draw 0 the lower.
    EXPECT_TRUE(sameValue(library.run("s = 30091; random(3, 10, &s);").value, 10.0));
    EXPECT_TRUE(sameValue(library.run("s = 20057; random(3, 10, &s);").value, 3.0));
    EXPECT_TRUE(sameValue(library.run("s = 30091; random(10, 3, &s);").value, 3.0));
}

TEST(Random, FailingBoundLeavesTheSeed) {
    Library library;
    EXPECT_EQ(library.run("random(1, 1/0, &s);").code, EXPR_ERR_DIVIDE_BY_ZERO);
    EXPECT_EQ(library.variable("s"), 0.0);
}

TEST(Random, IndependentStreams) {
    Library library;
    ASSERT_EQ(library.run("a = rand(&s); b = rand(&t); c = rand(&s);").code, EXPR_OK);
    EXPECT_EQ(library.variable("a"), library.variable("b"));
    EXPECT_TRUE(sameValue(library.variable("c"), 7719 / 32768.0));
}

// randomize seeds from the clocks; as a value it gives 0.0.
TEST(Random, Randomize) {
    Library library;
    library.variable("s") = 0.5;
    const Outcome outcome = library.run("x = randomize(&s);");
    ASSERT_EQ(outcome.code, EXPR_OK);
    EXPECT_TRUE(sameValue(outcome.value, 0.0));
    EXPECT_TRUE(sameValue(library.variable("x"), 0.0));
    const double seed = library.variable("s");
    EXPECT_EQ(seed, std::trunc(seed));
    EXPECT_GE(seed, -2147483648.0);
    EXPECT_LE(seed, 2147483647.0);
    EXPECT_NE(seed, 0.5);
    EXPECT_EQ(library.run("rand(&s);").code, EXPR_OK);
}

}  // namespace
