// The built-in library as the module sets it up: a function table with the
// built-ins, a constant table with the constants, a variable table; texts are
// parsed and evaluated in a fresh context over them.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>

#include "engine/expr.h"

namespace quorvel_test {

struct Outcome {
    int32_t code;
    double value;
};

class Library {
public:
    Library() {
        EXPECT_EQ(exprNewTable(&functions), EXPR_OK);
        EXPECT_EQ(exprNewTable(&constants), EXPR_OK);
        EXPECT_EQ(exprNewTable(&variables), EXPR_OK);
        EXPECT_EQ(exprRegisterBuiltins(functions), EXPR_OK);
        EXPECT_EQ(exprRegisterConstants(constants), EXPR_OK);
    }
    ~Library() {
        exprFreeFunctionTable(functions);
        exprFreeVarTable(constants);
        exprFreeVarTable(variables);
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    // Parses and evaluates text; a parse failure is a test failure. walked
    // evaluates the tree by exprEvalNode, so that every built-in runs as the
    // callback it is registered as, never in the compiled form's place.
    Outcome run(const std::string& text, int32_t zeroOnMathError = 0, AbortCallback abort = nullptr,
                bool walked = false) {
        ExprContext* context = nullptr;
        EXPECT_EQ(exprNewContext(&context, functions, variables, constants, 0, abort, nullptr), EXPR_OK);
        exprSetZeroOnMathError(context, zeroOnMathError);
        Outcome outcome{exprParse(context, text.c_str()), -777.0};
        EXPECT_EQ(outcome.code, EXPR_OK) << "parsing " << text;
        if (outcome.code == EXPR_OK)
            outcome.code = walked ? exprEvalNode(context, context->root, &outcome.value)
                                  : exprEvaluate(context, &outcome.value);
        exprFreeContext(context);
        return outcome;
    }

    int32_t parseCode(const std::string& text) {
        ExprContext* context = nullptr;
        EXPECT_EQ(exprNewContext(&context, functions, variables, constants, 0, nullptr, nullptr), EXPR_OK);
        const int32_t code = exprParse(context, text.c_str());
        exprFreeContext(context);
        return code;
    }

    // The variable's value, created at 0.0 when it is new.
    double& variable(const char* name) {
        double* address = nullptr;
        if (exprFindVariable(variables, name, &address) != EXPR_OK) {
            EXPECT_EQ(exprSetVariable(variables, name, 0.0), EXPR_OK);
            EXPECT_EQ(exprFindVariable(variables, name, &address), EXPR_OK);
        }
        return *address;
    }

    NameTable* functions = nullptr;
    NameTable* constants = nullptr;
    NameTable* variables = nullptr;
};

inline uint64_t bitsOf(double value) { return std::bit_cast<uint64_t>(value); }

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

inline double fromBits(uint64_t bits) { return std::bit_cast<double>(bits); }

}  // namespace quorvel_test
