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
#include "engine/internal.h"

namespace {

struct Outcome {
    int32_t code;
    uint64_t bits;  // the value's bits; 0 where the code is not EXPR_OK
};

// The built-ins and constants, shared; variables fresh for every text, so a
// seed assigned by one text does not reach the next.
class Corpus {
public:
    Corpus() {
        exprNewTable(&functions_);
        exprRegisterBuiltins(functions_);
        exprNewTable(&constants_);
        exprRegisterConstants(constants_);
    }
    ~Corpus() {
        exprFreeFunctionTable(functions_);
        exprFreeVarTable(constants_);
    }

    Outcome evaluate(const char* text, int32_t zeroOnMathError, bool compiled) const {
        NameTable* variables = nullptr;
        exprNewTable(&variables);
        for (const EdgeValue& edge : kEdgeValues) exprSetVariable(variables, edge.name, std::bit_cast<double>(edge.bits));
        ExprContext* context = nullptr;
        exprNewContext(&context, functions_, variables, constants_, 0, nullptr, nullptr);
        exprSetZeroOnMathError(context, zeroOnMathError);
        Outcome outcome{exprParse(context, text), 0};
        EXPECT_EQ(outcome.code, EXPR_OK) << text;
        if (outcome.code == EXPR_OK) {
            EXPECT_NE(context->program, nullptr) << text;
            if (!compiled) {
                exprFreeProgram(context->program);
                context->program = nullptr;
            }
            double value = 0.0;
            outcome.code = exprEvaluate(context, &value);
            if (outcome.code == EXPR_OK) outcome.bits = std::bit_cast<uint64_t>(value);
        }
        exprFreeContext(context);
        exprFreeVarTable(variables);
        return outcome;
    }

private:
    NameTable* functions_ = nullptr;
    NameTable* constants_ = nullptr;
};

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

TEST(CrossBuild, EveryRowGivesTheTablesBitsInBothForms) {
    const Corpus corpus;
    for (const ExpectedBits& row : kExpectedBits) {
        for (bool compiled : {true, false}) {
            const Outcome outcome = corpus.evaluate(row.text, row.zeroOnMathError, compiled);
            EXPECT_TRUE(outcome.code == row.code && outcome.bits == row.bits)
                << (compiled ? "compiled" : "walked") << " gives " << asRow(row, outcome);
        }
    }
}

}  // namespace
