// The mathematical built-ins over parsed texts: values to the last bit where
// they are exact, math errors with and without zero-on-math-error, and the
// same outcome on every runtime where the runtimes' errno reports differ.

#include "builtins/library.h"

using namespace quorvel_test;

namespace {

constexpr double kPi = 0x1.921fb54442d18p+1;
constexpr double kHalfPi = 0x1.921fb54442d18p+0;
constexpr double kInf = INFINITY;
constexpr double kNaN = NAN;

struct ValueCase {
    const char* text;
    double expected;
};

// EXPR_OK and the same value, bit for bit, with and without the flag.
const ValueCase kExactValues[] = {
    {"abs(-3);", 3.0},
    {"abs(0);", 0.0},
    {"mod(7, 3);", 1.0},
    {"mod(-7, 3);", -1.0},
    {"mod(7, -3);", 1.0},
    {"mod(1, exp(1000));", 1.0},
    {"ipart(2.75);", 2.0},
    {"fpart(2.75);", 0.75},
    {"ipart(-2.5);", -2.0},
    {"fpart(-2.5);", -0.5},
    {"ipart(exp(1000));", kInf},
    {"fpart(exp(1000));", 0.0},
    {"pow(2, 10);", 1024.0},
    {"pow(0, 0);", 1.0},
    {"pow10(2);", 100.0},
    // Underflows are no errors, whether or not the runtime reports them.
    {"pow10(-400);", 0.0},
    {"pow(0.5, 1075);", 0.0},
    {"pow(2, -1074);", 0x1p-1074},
    {"sqrt(-1);", kNaN},
    {"ln(0);", -kInf},
    {"log(0);", -kInf},
    {"ln(-1);", kNaN},
    {"exp(1000);", kInf},
    {"exp(-1000);", 0.0},
    {"atan2(1, 0);", kHalfPi},
    {"atan2(0, -1);", kPi},
    {"recttopolr(3, 4);", 5.0},
    {"recttopola(0, -1);", 4.7123889803846897},
    {"recttopola(-1, 0);", kPi},
    {"recttopola(1, 0);", 0.0},
    {"recttopola(1, -0);", -0.0},
    {"poltorectx(2, 0);", 2.0},
    {"poltorecty(2, M_PI_2);", 2.0},
    {"deg(M_PI);", 180.0},
    {"rad(180);", kPi},
    {"ceil(2.5);", 3.0},
    {"ceil(-0.5);", -0.0},
    {"floor(-2.5);", -3.0},
    {"sinh(0);", 0.0},
    {"cosh(0);", 1.0},
    {"tanh(1000);", 1.0},
    {"logn(0, 2);", -kInf},
    // The Windows runtime reports EDOM for these NaN arguments, glibc does
    // not; a NaN argument is never a math error here.
    {"asin(sqrt(-1));", kNaN},
    {"tanh(sqrt(-1));", kNaN},
    {"pow(sqrt(-1), 1);", kNaN},
    {"pow(1, sqrt(-1));", 1.0},
    {"mod(sqrt(-1), 0);", kNaN},
    {"ceil(sqrt(-1));", kNaN},
    // Infinite arguments: an infinite result is no overflow.
    {"cosh(exp(1000));", kInf},
    {"sinh(-exp(1000));", -kInf},
    {"pow(exp(1000), 2);", kInf},
};

TEST(MathValues, ExactWithAndWithoutTheFlag) {
    Library library;
    for (const ValueCase& c : kExactValues) {
        for (int32_t flag : {0, 1}) {
            for (bool walked : {false, true}) {
                const Outcome outcome = library.run(c.text, flag, nullptr, walked);
                EXPECT_EQ(outcome.code, EXPR_OK) << c.text << " flag " << flag << " walked " << walked;
                EXPECT_TRUE(sameValue(outcome.value, c.expected)) << c.text << " flag " << flag << " walked " << walked;
            }
        }
    }
}

// Computed through the runtime's logarithms and trigonometry: within a unit
// in the last place.
TEST(MathValues, LibraryAccuracy) {
    const ValueCase cases[] = {
        {"log(1000);", 3.0},
        {"ln(M_E);", 1.0},
        {"logn(8, 2);", 3.0},
        {"logn(1000, 10);", 3.0},
        {"atan(1);", 0x1.921fb54442d18p-1},
        {"sin(M_PI_2);", 1.0},
        {"cos(0);", 1.0},
        {"tan(0);", 0.0},
        {"asin(1);", kHalfPi},
        {"acos(-1);", kPi},
    };
    Library library;
    for (const ValueCase& c : cases) {
        const Outcome outcome = library.run(c.text);
        EXPECT_EQ(outcome.code, EXPR_OK) << c.text;
        EXPECT_TRUE(withinOneUlp(outcome.value, c.expected)) << c.text;
    }
}

// Domain errors, poles and overflows: EXPR_ERR_MATH without the flag, 0.0
// with it. Several of these the Windows runtime does not report by itself.
const char* const kMathErrors[] = {
    "mod(7, 0);",
    "mod(exp(1000), 2);",
    "pow(-8, 1/3);",
    "pow(0, -1);",
    "pow(-0, -1);",
    "pow10(400);",
    "pow(10, 400);",
    "asin(2);",
    "acos(-2);",
    "asin(exp(1000));",
    "sinh(1000);",
    "cosh(1000);",
    "cosh(-1000);",
    "logn(8, 1);",
    "logn(8, -2);",
    "logn(8, sqrt(-1));",
    "clamp(3, 5, 5);",
    "clamp(exp(1000), 0, 1);",
    "poly(pow10(200), 1, 0, 0);",
    "sqrt(mod(1, 0));",  // the inner error is passed up; under the flag sqrt(0)
};

TEST(MathErrors, ErrorWithoutTheFlagZeroWithIt) {
    Library library;
    for (const char* text : kMathErrors) {
        for (bool walked : {false, true}) {
            EXPECT_EQ(library.run(text, 0, nullptr, walked).code, EXPR_ERR_MATH) << text << " walked " << walked;
            for (int32_t flag : {1, 5}) {
                const Outcome outcome = library.run(text, flag, nullptr, walked);
                EXPECT_EQ(outcome.code, EXPR_OK) << text << " walked " << walked;
                EXPECT_TRUE(sameValue(outcome.value, 0.0)) << text << " walked " << walked;
            }
        }
    }
}

TEST(MathErrors, AnErrorStopsTheWholeText) {
    Library library;
    EXPECT_EQ(library.run("a = 1; b = mod(1, 0); c = 1;").code, EXPR_ERR_MATH);
    EXPECT_EQ(library.variable("a"), 1.0);
    EXPECT_EQ(library.variable("c"), 0.0);
    EXPECT_EQ(library.run("x = 2 * mod(1, 0) + 1;", 1).value, 1.0);
}

// The computed-directly functions leave no trace in errno, so poly, which
// reads errno after every term, sees none of theirs on any runtime.
TEST(MathErrors, DirectFunctionsLeaveNoErrorBehind) {
    Library library;
    const ValueCase cases[] = {
        {"poly(2, 1, sqrt(-1));", kNaN},       {"poly(2, exp(1000), 1);", kInf},       {"poly(2, ln(0), 1);", -kInf},
        {"poly(2, exp(-1000), 1);", 1.0},      {"poly(pow10(-200), 1, 0, 1);", 1.0},  // the x^2 term underflows
        {"poly(2, 1, sin(exp(1000)));", kNaN},                                        // glibc sets EDOM for these three
        {"poly(2, 1, cos(exp(1000)));", kNaN}, {"poly(2, 1, tan(-exp(1000)));", kNaN},
    };
    for (const ValueCase& c : cases) {
        const Outcome outcome = library.run(c.text);
        EXPECT_EQ(outcome.code, EXPR_OK) << c.text;
        EXPECT_TRUE(sameValue(outcome.value, c.expected)) << c.text;
    }
}

}  // namespace
