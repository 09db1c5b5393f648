// The same bits from every build. A fixed corpus, every built-in at its
// edges, is evaluated in both forms (compiled and walked) and compared bit
// for bit with expected_bits.h, the one table that the native, 32-bit Linux
// and 32-bit Windows builds share: a runtime that decides a sign of zero or
// a NaN its own way fails its build here.

#include <gtest/gtest.h>

#include <bit>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "crossbuild/expected_bits.h"
#include "engine/expr.h"
#include "support/engine_rig.h"

namespace {

struct Outcome {
    int32_t code;
    uint64_t bits;  // the value's bits; 0 where the code is not EXPR_OK
};

// A fresh engine for every text, so that a seed assigned by one text does
// not reach the next; the edge values are its variables.
// The ways a text runs: machine code, the threaded runner, the walk.
enum class Form { Native, Threaded, Walk };

Outcome evaluate(const char* text, int32_t zeroOnMathError, Form form) {
    quorvel_test::EngineRig rig({.zeroOnMathError = zeroOnMathError});
    for (const EdgeValue& edge : kEdgeValues) rig.variable(edge.name) = std::bit_cast<double>(edge.bits);
    Outcome outcome{rig.parse(text), 0};
    EXPECT_EQ(outcome.code, EXPR_OK) << text;
    if (outcome.code != EXPR_OK) return outcome;
    EXPECT_NE(rig.context->program, nullptr) << text;
    if (form == Form::Threaded) rig.threadedOnly();
    if (form == Form::Walk) rig.walkOnly();
    double value = 0.0;
    outcome.code = rig.evaluate(&value);
    if (outcome.code == EXPR_OK) outcome.bits = std::bit_cast<uint64_t>(value);
    return outcome;
}

std::string codeName(int32_t code) {
    switch (code) {
        case EXPR_OK: return "EXPR_OK";
        case EXPR_ERR_MATH: return "EXPR_ERR_MATH";
        case EXPR_ERR_DIVIDE_BY_ZERO: return "EXPR_ERR_DIVIDE_BY_ZERO";
        default: return std::to_string(code);
    }
}

// The row as the table would have to read, for a failure message.
std::string asRow(const ExpectedBits& row, const Outcome& outcome) {
    char bits[32];
    std::snprintf(bits, sizeof bits, "0x%016" PRIX64, outcome.bits);
    return std::string("{\"") + row.text + "\", " + std::to_string(row.zeroOnMathError) + ", " +
           codeName(outcome.code) + ", " + bits + "},";
}

TEST(CrossBuild, EveryRowGivesTheTablesBitsInEveryForm) {
    const char* const names[] = {"machine code", "threaded", "walked"};
    for (const ExpectedBits& row : kExpectedBits) {
        for (Form form : {Form::Native, Form::Threaded, Form::Walk}) {
            const Outcome outcome = evaluate(row.text, row.zeroOnMathError, form);
            EXPECT_TRUE(outcome.code == row.code && outcome.bits == row.bits)
                << names[static_cast<int>(form)] << " gives " << asRow(row, outcome);
        }
    }
}

}  // namespace
