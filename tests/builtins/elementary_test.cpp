// The engine's own exponentials, logarithms, powers, hyperbolic and exact
// functions (engine/elementary.h), called directly: correctly rounded values
// at the edges where a slip shows (overflow, subnormal results, the last
// argument before a result rounds to 1, arguments next to 1), the C
// standard's special values of pow, and the exact functions against the
// runtime's, which are exact too.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "engine/elementary.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kMin = 0x1p-1074;

uint64_t bitsOf(double a) {
    return std::bit_cast<uint64_t>(a);
}

// Equal bits, or both NaN.
::testing::AssertionResult sameDouble(double got, double want) {
    if (bitsOf(got) == bitsOf(want) || (std::isnan(got) && std::isnan(want))) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << std::hexfloat << got << ", want " << want;
}

struct OneArgument {
    const char* name;
    double (*function)(double);
};
const OneArgument kFunctions[] = {
    {"exp", [](double a) { return exprFromRegister(exprExp(a)); }},
    {"exp10", [](double a) { return exprFromRegister(exprExp10(a)); }},
    {"ln", [](double a) { return exprFromRegister(exprLn(a)); }},
    {"log10", [](double a) { return exprFromRegister(exprLog10(a)); }},
    {"sinh", [](double a) { return exprFromRegister(exprSinh(a)); }},
    {"cosh", [](double a) { return exprFromRegister(exprCosh(a)); }},
    {"tanh", [](double a) { return exprFromRegister(exprTanh(a)); }},
};
double (*functionNamed(const std::string& name))(double) {
    for (const OneArgument& f : kFunctions)
        if (name == f.name) return f.function;
    return nullptr;
}

struct EdgeCase {
    const char* function;
    double argument;
    double expected;  // the correctly rounded value
};

const EdgeCase kEdges[] = {
    // exp: the last finite result, the first infinite one, results across
    // the smallest normal number down to the last that rounds to 2^-1074
    {"exp", 0x1.62e42fefa39efp+9, 0x1.fffffffffff2ap+1023},
    {"exp", 0x1.62e42fefa39fp+9, kInf},
    {"exp", -0x1.6232bdd7abcd2p+9, 0x1.000000000007cp-1022},
    {"exp", -0x1.72p+9, 0x0.0000000000055p-1022},
    {"exp", -0x1.74385446d71c3p+9, kMin},
    {"exp", -0x1.74910d52d3051p+9, kMin},
    {"exp", -0x1.74910d52d3052p+9, 0.0},
    {"exp", 0x1.56e1fc2f8f359p-997, 1.0},
    {"exp", 2.5, 0x1.85d6fd931e0bbp+3},
    // cosh and sinh finite beyond exp's overflow, up to 710.4758...
    {"cosh", 0x1.633ce8fb9f87dp+9, 0x1.ffffffffffd3bp+1023},
    {"sinh", 0x1.633ce8fb9f87dp+9, 0x1.ffffffffffd3bp+1023},
    {"sinh", -0x1.633ce8fb9f87dp+9, -0x1.ffffffffffd3bp+1023},
    {"cosh", 0x1.633ce8fb9f87ep+9, kInf},
    {"sinh", -0x1.633ce8fb9f87ep+9, -kInf},
    {"cosh", 709.9, 0x1.1fdb71f9335bap+1023},
    {"cosh", 22.5, 0x1.604b68cf05f66p+31},
    {"cosh", 1.0, 0x1.8b07551d9f55p+0},
    {"sinh", 1.0, 0x1.2cd9fc44eb982p+0},
    {"cosh", 0x1p-20, 0x1.00000000008p+0},
    {"sinh", -0x1p-20, -0x1.00000000002abp-20},
    {"sinh", 1e-8, 1e-8},
    // tanh: below 1 at 19, 1 at 19.1; tiny arguments
    {"tanh", 19.0, 0x1.fffffffffffffp-1},
    {"tanh", -19.1, -1.0},
    {"tanh", 0.5, 0x1.d9353d7568af3p-2},
    {"tanh", -3.0, -0x1.fd77d111a0bp-1},
    {"tanh", 0x1p-26, 0x1.fffffffffffffp-27},
    // logarithms next to 1 and at the ends of the doubles
    {"ln", 0x1.0000000000001p+0, 0x1.fffffffffffffp-53},
    {"ln", 0x1.fffffffffffffp-1, -0x1p-53},
    {"ln", 0x1.00000004p+0, 0x1.fffffffcp-31},
    {"log10", 0x1.0000000000001p+0, 0x1.bcb7b1526e50dp-54},
    {"log10", 0x1.fffffffffffffp-1, -0x1.bcb7b1526e50fp-55},
    {"ln", kMin, -0x1.74385446d71c3p+9},
    {"log10", kMin, -0x1.434e6420f4374p+8},
    {"ln", 0x1.fffffffffffffp+1023, 0x1.62e42fefa39efp+9},
    {"log10", 0x1.fffffffffffffp+1023, 0x1.34413509f79ffp+8},
    {"ln", 2.0, 0x1.62e42fefa39efp-1},
    {"log10", 0.1, -1.0},
    {"log10", 1000.0, 3.0},
    // 10^a at both ends
    {"exp10", 308.25, 0x1.fa788589d81d3p+1023},
    {"exp10", 308.26, kInf},
    {"exp10", -323.3, kMin},
    {"exp10", -307.5, 0x1.6bd3d7ae36ea2p-1022},
    {"exp10", 0.5, 0x1.94c583ada5b53p+1},
    {"exp10", -4.0, 0x1.a36e2eb1c432dp-14},
    {"exp10", 22.0, 1e22},
};

TEST(Elementary, CorrectlyRoundedAtTheEdges) {
    for (const EdgeCase& c : kEdges) {
        double (*f)(double) = functionNamed(c.function);
        ASSERT_NE(f, nullptr) << c.function;
        EXPECT_TRUE(sameDouble(f(c.argument), c.expected)) << c.function << "(" << std::hexfloat << c.argument << ")";
    }
}

TEST(Elementary, IntegralPowersOfTenAreExact) {
    double power = 1.0;
    for (int k = 0; k <= 22; ++k, power *= 10.0) {
        EXPECT_TRUE(sameDouble(exprFromRegister(exprExp10(k)), power)) << "10^" << k;
        EXPECT_TRUE(sameDouble(exprFromRegister(exprPow(10.0, k)), power)) << "pow(10, " << k << ")";
        EXPECT_TRUE(sameDouble(exprFromRegister(exprLog10(power)), k)) << "log10(1e" << k << ")";
    }
}

struct PowCase {
    double a, b, expected;
};

const PowCase kPowers[] = {
    // correctly rounded at overflow, underflow and subnormal results
    {2, -1074, kMin},
    {2, -1075, 0.0},  // the tie rounds to even
    {-2, -1075, -0.0},
    {2, 1023, 0x1p+1023},
    {2, 1024, kInf},
    {-2, 1023, -0x1p+1023},
    {10, 308.25, 0x1.fa788589d81d3p+1023},
    {1e300, -1.0345, 0x0.0083904323284p-1022},
    {1e-300, 1.5, 0.0},
    // bases next to 1 to huge powers
    {0x1.0000000000001p+0, 0x1p+60, 0x1.41c7a8814be19p+369},
    {0x1.fffffffffffffp-1, -0x1p+60, 0x1.95e54c5dd424ap+184},
    {0x1.0000000000001p+0, 0x1p+70, kInf},
    {0x1.fffffffffffffp-1, 0x1p+70, 0.0},
    // negative bases to integral powers
    {-3, 5, -243},
    {-0.5, -3, -8},
    {-3, 34, 16677181699666568.0},
    {-1, 0x1p+80, 1},
    {7, 0.5, 0x1.52a7fa9d2f8eap+1},
    // the C standard's special values
    {-8, 1.0 / 3, NAN},
    {-1, kInf, 1},
    {-1, -kInf, 1},
    {0.5, kInf, 0.0},
    {0.5, -kInf, kInf},
    {2, kInf, kInf},
    {2, -kInf, 0.0},
    {0.0, -3, kInf},
    {-0.0, -3, -kInf},
    {-0.0, -2, kInf},
    {-0.0, -0.5, kInf},
    {-0.0, 3, -0.0},
    {-0.0, 0.5, 0.0},
    {0.0, -kInf, kInf},
    {-kInf, 3, -kInf},
    {-kInf, -3, -0.0},
    {-kInf, 2, kInf},
    {-kInf, 0.5, kInf},
    {-kInf, -0.5, 0.0},
    {kInf, -1, 0.0},
    {NAN, 0.0, 1},
    {NAN, -0.0, 1},
    {1, NAN, 1},
    {NAN, 1, NAN},
    {2, NAN, NAN},
};

TEST(Elementary, PowCorrectlyRoundedAndSpecialValues) {
    for (const PowCase& c : kPowers)
        EXPECT_TRUE(sameDouble(exprFromRegister(exprPow(c.a, c.b)), c.expected))
            << "pow(" << std::hexfloat << c.a << ", " << c.b << ")";
}

TEST(Elementary, SignallingNaNsGiveNaNEvenWhereQuietOnesGiveOne) {
    const double signalling = std::bit_cast<double>(uint64_t{0x7FF0000000000123});
    const uint64_t quieted = 0x7FF8000000000123;
    EXPECT_EQ(bitsOf(exprFromRegister(exprPow(signalling, 0.0))), quieted);
    EXPECT_EQ(bitsOf(exprFromRegister(exprPow(1.0, signalling))), quieted);
    for (const OneArgument& f : kFunctions) EXPECT_EQ(bitsOf(f.function(signalling)), quieted) << f.name;
    EXPECT_EQ(bitsOf(exprFromRegister(exprCeil(signalling))), quieted);
    EXPECT_EQ(bitsOf(exprFromRegister(exprFmod(1.0, signalling))), quieted);
}

// Odd functions are odd and cosh is even, to the bit, over the whole range.
TEST(Elementary, HyperbolicSymmetry) {
    std::mt19937_64 random(21);
    std::uniform_real_distribution<double> range(-720.0, 720.0);
    for (int i = 0; i < 20000; ++i) {
        const double x = i % 2 ? range(random) : range(random) / 512.0;
        EXPECT_TRUE(sameDouble(exprFromRegister(exprSinh(-x)), -exprFromRegister(exprSinh(x)))) << std::hexfloat << x;
        EXPECT_TRUE(sameDouble(exprFromRegister(exprCosh(-x)), exprFromRegister(exprCosh(x)))) << std::hexfloat << x;
        EXPECT_TRUE(sameDouble(exprFromRegister(exprTanh(-x)), -exprFromRegister(exprTanh(x)))) << std::hexfloat << x;
    }
}

struct FmodCase {
    double a, b, expected;
};

const FmodCase kRemainders[] = {
    {1e308, 3.0, 2.0},  // 2046 bits of quotient
    {-1e308, 3.0, -2.0},
    {0x1.fffffffffffffp+1023, 0x1.0000000000001p-1022, 0x0.0000000060000p-1022},
    {0x1.7e43c8800759cp+996, 0x1.56e1fc2f8f359p-997, 0x1.4f722a6f79f9cp-998},
    {0x0.0000000000007p-1022, 0x0.0000000000002p-1022, kMin},
    {0x1.edd2f1a9fbe77p+6, 0.1, 0x1.cac083126e758p-5},
    {-3.0, 3.0, -0.0},
    {-7.0, 3.0, -1.0},
    {7.0, -3.0, 1.0},
    {7.0, kInf, 7.0},
    {-0.0, 2.0, -0.0},
    {kInf, 1.0, NAN},
    {1.0, 0.0, NAN},
};

TEST(Elementary, FmodIsExact) {
    for (const FmodCase& c : kRemainders)
        EXPECT_TRUE(sameDouble(exprFromRegister(exprFmod(c.a, c.b)), c.expected))
            << "fmod(" << std::hexfloat << c.a << ", " << c.b << ")";
}

struct RoundingCase {
    double a, ceil, floor, integral, fraction;
};

const RoundingCase kRoundings[] = {
    {1.5, 2, 1, 1, 0.5},
    {-1.5, -1, -2, -1, -0.5},
    {-0.5, -0.0, -1, -0.0, -0.5},
    {0.5, 1, 0.0, 0.0, 0.5},
    {-0.0, -0.0, -0.0, -0.0, -0.0},
    {kMin, 1, 0.0, 0.0, kMin},
    {-kMin, -0.0, -1, -0.0, -kMin},
    {-3.0, -3.0, -3.0, -3.0, -0.0},
    {0x1.fffffffffffffp-1, 1, 0.0, 0.0, 0x1.fffffffffffffp-1},
    {0x1.0000000000001p+0, 2, 1, 1, 0x1p-52},
    // carries into the exponent
    {-0x1.fffffffffffffp+0, -1, -2, -1, -0x1.ffffffffffffep-1},
    {0x1.fffffffffffffp+51, 0x1p+52, 0x1.ffffffffffffep+51, 0x1.ffffffffffffep+51, 0.5},
    {-0x1.fffffffffffffp+51, -0x1.ffffffffffffep+51, -0x1p+52, -0x1.ffffffffffffep+51, -0.5},
    {0x1p+60, 0x1p+60, 0x1p+60, 0x1p+60, 0.0},
    {-kInf, -kInf, -kInf, -kInf, -0.0},
};

TEST(Elementary, CeilFloorAndPartsAreExact) {
    for (const RoundingCase& c : kRoundings) {
        EXPECT_TRUE(sameDouble(exprFromRegister(exprCeil(c.a)), c.ceil)) << "ceil(" << std::hexfloat << c.a << ")";
        EXPECT_TRUE(sameDouble(exprFromRegister(exprFloor(c.a)), c.floor)) << "floor(" << std::hexfloat << c.a << ")";
        double integral = 0.0;
        EXPECT_TRUE(sameDouble(exprFromRegister(exprModf(c.a, &integral)), c.fraction))
            << "modf(" << std::hexfloat << c.a << ")";
        EXPECT_TRUE(sameDouble(integral, c.integral)) << "modf(" << std::hexfloat << c.a << ")";
    }
}

// The runtime's fmod, ceil and floor are exact as well: every result must
// agree with it, but for a NaN's payload and the signs of zeros and the
// arguments between -1 and 1, where runtimes differ (the tables above hold
// those). modf's parts follow from ceil and floor.
bool agrees(double ours, double runtime) {
    return bitsOf(ours) == bitsOf(runtime) || (std::isnan(ours) && std::isnan(runtime)) ||
           (ours == 0.0 && runtime == 0.0);
}

TEST(Elementary, ExactFunctionsAgreeWithTheRuntime) {
    std::mt19937_64 random(2121);
    auto anyDouble = [&] { return std::bit_cast<double>(random()); };
    std::uniform_real_distribution<double> ordinary(-1000.0, 1000.0);
    for (int i = 0; i < 100000; ++i) {
        const double a = i % 2 ? anyDouble() : ordinary(random);
        const double b = i % 3 ? anyDouble() : ordinary(random) / 64.0;
        EXPECT_TRUE(agrees(exprFromRegister(exprFmod(a, b)), std::fmod(a, b))) << std::hexfloat << a << " " << b;
        const double remainder = exprFromRegister(exprFmod(a, b));
        if (remainder == 0.0) {
            EXPECT_EQ(std::signbit(remainder), std::signbit(a)) << std::hexfloat << a << " " << b;
        }
        if (!(std::fabs(a) < 1.0)) {
            EXPECT_TRUE(agrees(exprFromRegister(exprCeil(a)), std::ceil(a))) << std::hexfloat << a;
            EXPECT_TRUE(agrees(exprFromRegister(exprFloor(a)), std::floor(a))) << std::hexfloat << a;
        }
        double integral = 0.0;
        const double fraction = exprFromRegister(exprModf(a, &integral));
        if (!std::isnan(a)) {
            const double truncated = std::signbit(a) ? exprFromRegister(exprCeil(a)) : exprFromRegister(exprFloor(a));
            const double rest = std::isinf(a) ? 0.0 : a - truncated;
            EXPECT_TRUE(sameDouble(integral, truncated)) << std::hexfloat << a;
            EXPECT_TRUE(sameDouble(fraction, rest == 0.0 ? std::copysign(0.0, a) : rest)) << std::hexfloat << a;
        }
        if (HasFailure()) return;
    }
}

}  // namespace
