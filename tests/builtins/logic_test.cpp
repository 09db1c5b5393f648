// Logic, selection, aggregate and loop built-ins over parsed texts: values,
// NaN in every test, which arguments are evaluated, errors passed up.

#include <string>
#include <vector>

#include "builtins/library.h"

using namespace quorvel_test;

namespace {

struct ValueCase {
    const char* text;
    double expected;
};

// Compiled and walked alike.
void expectValues(Library& library, const std::vector<ValueCase>& cases, int32_t flag = 0) {
    for (const ValueCase& c : cases) {
        for (bool walked : {false, true}) {
            const Outcome outcome = library.run(c.text, flag, nullptr, walked);
            EXPECT_EQ(outcome.code, EXPR_OK) << c.text << " walked " << walked;
            EXPECT_TRUE(sameValue(outcome.value, c.expected)) << c.text << " walked " << walked;
        }
    }
}

TEST(LogicValues, ChoiceComparisonAggregatesRanges) {
    Library library;
    expectValues(library, {
                              {"if(1, 2, 3);", 2},
                              {"if(0, 2, 3);", 3},
                              {"if(-0, 2, 3);", 3},
                              {"select(-2, 10, 20, 30);", 10},
                              {"select(0, 10, 20, 30);", 20},
                              {"select(5, 10, 20, 30);", 30},
                              {"select(5, 10, 20);", 20},
                              {"select(-5, 10, 20);", 10},
                              {"equal(0.1 + 0.2, 0.3);", 0},
                              {"equal(2, 2);", 1},
                              {"equal(0, -0);", 1},
                              {"above(3, 3);", 0},
                              {"above(4, 3);", 1},
                              {"below(2, 3);", 1},
                              {"below(3, 3);", 0},
                              {"and(1, 0);", 0},
                              {"and(2, -1);", 1},
                              {"or(0, 0);", 0},
                              {"or(0, -3);", 1},
                              {"not(0);", 1},
                              {"not(7);", 0},
                              {"min(3, 1, 2);", 1},
                              {"max(3, 1, 2);", 3},
                              {"min(5);", 5},
                              {"avg(1, 2, 3, 4);", 2.5},
                              {"min(0, -0);", 0.0},
                              {"min(-0, 0);", -0.0},
                              {"max(-0, 0);", -0.0},
                              {"clip(5, 0, 10);", 5},
                              {"clip(-1, 0, 10);", 0},
                              {"clip(11, 0, 10);", 10},
                              {"clip(5, 10, 0);", 10},
                              {"clip(15, 10, 0);", 0},
                              {"clamp(12, 0, 10);", 2},
                              {"clamp(-3, 0, 10);", 7},
                              {"clamp(10, 0, 10);", 0},
                              {"clamp(-10, 0, 10);", 0.0},
                              {"clamp(-3, 2, 10);", 5},
                              {"clamp(2.5, 1, 2);", 1.5},
                              {"pntchange(0, 10, 0, 100, 5);", 50},
                              {"pntchange(0, 10, 0, 100, 20);", 200},
                              {"pntchange(10, 0, 0, 100, 5);", 50},
                              {"poly(2, 1, 0, -4);", 0},
                              {"poly(0, 7);", 7},
                              {"poly(123.5, 7);", 7},
                              {"poly(-2, 7);", 7},
                              {"poly(3, 2, 1);", 7},
                              {"poly(0, 1, 2, 3);", 3},
                              {"many(1, 2, 3);", 3},
                              {"a = 1; b = 2;", 2},
                          });
}

TEST(LogicValues, NaNInEveryTest) {
    Library library;
    ASSERT_EQ(library.run("n = sqrt(-1);").code, EXPR_OK);
    const double nan = library.variable("n");
    ASSERT_TRUE(std::isnan(nan));
    // "zero" and "equal" are true with NaN, so is "less than"; "greater
    // than" is false.
    expectValues(library, {
                              {"if(n, 1, 2);", 2},     {"not(n);", 1},
                              {"and(n, 1);", 0},       {"and(1, n);", 0},
                              {"or(n, 0);", 0},        {"or(0, n);", 0},
                              {"equal(n, n);", 1},     {"equal(n, 5);", 1},
                              {"equal(5, n);", 1},     {"below(n, 0);", 1},
                              {"below(0, n);", 1},     {"above(n, 0);", 0},
                              {"above(0, n);", 0},     {"select(n, 1, 2, 3);", 1},
                              {"select(n, 1, 2);", 1}, {"clip(n, 0, 10);", 0},
                              {"clip(5, 0, n);", 5},   {"clip(5, n, 10);", nan},
                              {"min(1, n);", nan},     {"min(n, 1);", 1},
                              {"max(n, 1);", nan},     {"max(1, n);", 1},
                              {"avg(1, n);", nan},     {"for(i = 0, n, i = 1, 5);", 0},
                          });
    EXPECT_EQ(library.run("pntchange(n, 1, 0, 1, 0);").code, EXPR_ERR_MATH);
}

// if, select and for evaluate only what their logic reaches; and and or
// always evaluate both operands.
TEST(LogicEvaluation, OnlyReachedArgumentsAreEvaluated) {
    struct Case {
        const char* text;
        double value;
        const char* set;    // variables that end at 1
        const char* unset;  // variables that stay 0
    };
    const Case cases[] = {
        {"if(0, a = 1, 3);", 3, "", "a"},
        {"if(1, a = 1, b = 1);", 1, "a", "b"},
        {"if(0, 1/0, 2);", 2, "", ""},
        {"select(-1, a = 1, b = 1, c = 1);", 1, "a", "bc"},
        {"select(0, a = 1, b = 1, c = 1);", 1, "b", "ac"},
        {"select(1, a = 1, b = 1, c = 1);", 1, "c", "ab"},
        {"select(1, a = 1, b = 1);", 1, "b", "a"},
        {"select(1, 1/0, 2);", 2, "", ""},
        {"and(0, a = 1);", 0, "a", ""},
        {"or(1, a = 1);", 1, "a", ""},
        {"for(a = 1, 0, b = 1, c = 1);", 0, "a", "bc"},
    };
    for (const Case& c : cases) {
        for (bool walked : {false, true}) {
            Library library;
            const Outcome outcome = library.run(c.text, 0, nullptr, walked);
            ASSERT_EQ(outcome.code, EXPR_OK) << c.text;
            EXPECT_TRUE(sameValue(outcome.value, c.value)) << c.text;
            for (const char* v = c.set; *v; ++v)
                EXPECT_EQ(library.variable(std::string(1, *v).c_str()), 1.0) << c.text << " " << *v;
            for (const char* v = c.unset; *v; ++v)
                EXPECT_EQ(library.variable(std::string(1, *v).c_str()), 0.0) << c.text << " " << *v;
        }
    }
}

TEST(LogicEvaluation, ForLoop) {
    Library library;
    Outcome outcome = library.run("s = 0; i = 0; for(i = 0, below(i, 10), i = i + 1, s = s + i);");
    ASSERT_EQ(outcome.code, EXPR_OK);
    EXPECT_EQ(outcome.value, 45.0);
    EXPECT_EQ(library.variable("i"), 10.0);
    EXPECT_EQ(library.variable("s"), 45.0);
    // The step, written third, runs after the bodies; the value is the last body's.
    outcome = library.run("for(i = 0, below(i, 3), i = i + 1, a = i, b = a * 2);");
    EXPECT_EQ(outcome.value, 4.0);
    EXPECT_EQ(library.variable("a"), 2.0);
    EXPECT_EQ(library.variable("i"), 3.0);
}

int32_t alwaysAbort(ExprContext*) {
    return 1;
}

TEST(LogicEvaluation, EndlessLoopEndsAtTheAbortPoll) {
    Library library;
    EXPECT_EQ(library.run("for(k = 0, 1, k = k + 1, 0);", 0, alwaysAbort).code, EXPR_ERR_ABORTED);
    EXPECT_GT(library.variable("k"), 1000.0);
}

// A failing argument ends the call with its code; later arguments are not
// evaluated.
TEST(LogicEvaluation, LaterArgumentsAfterAnErrorAreNotEvaluated) {
    const char* texts[] = {
        "min(1, 2, 1/0, hit = 1);",
        "max(1, 1/0, hit = 1);",
        "avg(1, 1/0, hit = 1);",
        "and(1/0, hit = 1);",
        "or(1/0, hit = 1);",
        "equal(1/0, hit = 1);",
        "clip(1, 1/0, hit = 1);",
        "clamp(1, 1/0, hit = 1);",
        "pntchange(1, 2, 3, 1/0, hit = 1);",
        "poly(2, 1, 1/0, hit = 1);",
        "if(1, 1/0, hit = 1);",
        "select(-1, 1/0, hit = 1, hit = 1);",
        "for(i = 0, below(i, 3), hit = 1, 1/0);",
        "for(i = 0, 1/0, hit = 1, hit = 1);",
        "many(1, 1/0, hit = 1);",
        "if(1/0, hit = 1, hit = 1);",
        "if(0, hit = 1, 1/0);",
        "select(1/0, hit = 1, hit = 1);",
        "select(0, hit = 1, 1/0, hit = 1);",
        "select(1, hit = 1, hit = 1, 1/0);",
        "select(1, hit = 1, 1/0);",
        "for(1/0, hit = 1, hit = 1, hit = 1);",
    };
    for (const char* text : texts) {
        for (bool walked : {false, true}) {
            Library library;
            EXPECT_EQ(library.run(text, 0, nullptr, walked).code, EXPR_ERR_DIVIDE_BY_ZERO)
                << text << " walked " << walked;
            EXPECT_EQ(library.variable("hit"), 0.0) << text;
        }
    }
}

TEST(LogicErrors, PntchangeIgnoresTheFlag) {
    Library library;
    for (int32_t flag : {0, 1}) EXPECT_EQ(library.run("pntchange(1, 1, 0, 100, 5);", flag).code, EXPR_ERR_MATH);
}

TEST(LogicErrors, PolyStopsAtTheFirstError) {
    Library library;
    EXPECT_EQ(library.run("poly(pow10(200), 1, hit = 1, 0);").code, EXPR_ERR_MATH);
    EXPECT_EQ(library.variable("hit"), 0.0);
    const Outcome outcome = library.run("poly(pow10(200), 1, hit = 1, 0);", 1);
    EXPECT_EQ(outcome.code, EXPR_OK);
    EXPECT_TRUE(sameValue(outcome.value, 0.0));
    EXPECT_EQ(library.variable("hit"), 0.0);
}

// errno is cleared once: an error that a coefficient's own evaluation left
// there, turned into 0.0 by the flag, still ends the sum.
TEST(LogicErrors, PolySeesAnErrorLeftByACoefficient) {
    Library library;
    const Outcome outcome = library.run("poly(2, cosh(1000), hit = 1);", 1);
    EXPECT_EQ(outcome.code, EXPR_OK);
    EXPECT_TRUE(sameValue(outcome.value, 0.0));
    EXPECT_EQ(library.variable("hit"), 0.0);
    EXPECT_EQ(library.run("poly(2, cosh(1000), 1);").code, EXPR_ERR_MATH);
    // A domain error too.
    EXPECT_TRUE(sameValue(library.run("poly(2, asin(2), hit = 1);", 1).value, 0.0));
    EXPECT_EQ(library.variable("hit"), 0.0);
}

}  // namespace
