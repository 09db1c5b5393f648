// The built-in library as the module sets it up (the shared engine rig);
// texts are parsed and evaluated one after another in its context, over
// the same variables.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/expr.h"
#include "support/engine_rig.h"

namespace quorvel_test {

struct Outcome {
    int32_t code;
    double value;
};

class Library : public EngineRig {
public:
    // Parses and evaluates text; a parse failure is a test failure. walked
    // evaluates the tree, so that every built-in runs as the callback it is
    // registered as, never in the compiled form's place.
    Outcome run(const std::string& text, int32_t zeroOnMathError = 0, AbortCallback abort = nullptr,
                bool walked = false) {
        exprSetZeroOnMathError(context, zeroOnMathError);
        setAbort(abort);
        Outcome outcome{parse(text), -777.0};
        EXPECT_EQ(outcome.code, EXPR_OK) << "parsing " << text;
        if (outcome.code != EXPR_OK) return outcome;
        if (walked) walkOnly();
        outcome.code = evaluate(&outcome.value);
        return outcome;
    }

    int32_t parseCode(const std::string& text) { return parse(text); }
};

inline uint64_t bitsOf(double value) {
    return std::bit_cast<uint64_t>(value);
}

// Equal to the last bit, the sign of zero included; any NaN matches any NaN.
inline ::testing::AssertionResult sameValue(double actual, double expected) {
    if (std::isnan(actual) && std::isnan(expected)) return ::testing::AssertionSuccess();
    if (!std::isnan(actual) && !std::isnan(expected) && bitsOf(actual) == bitsOf(expected))
        return ::testing::AssertionSuccess();
    char text[96];
    std::snprintf(text, sizeof text, "got %a (%.17g), expected %a (%.17g)", actual, actual, expected, expected);
    return ::testing::AssertionFailure() << text;
}

// Within one unit in the last place.
inline ::testing::AssertionResult withinOneUlp(double actual, double expected) {
    if (actual == expected || std::nextafter(actual, expected) == expected) return ::testing::AssertionSuccess();
    char text[96];
    std::snprintf(text, sizeof text, "got %a (%.17g), expected %a (%.17g)", actual, actual, expected, expected);
    return ::testing::AssertionFailure() << text;
}

inline double fromBits(uint64_t bits) {
    return std::bit_cast<double>(bits);
}

}  // namespace quorvel_test
