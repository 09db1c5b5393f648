// Every outcome of outcome_table.h, taken from the engine while it computed
// with the runtime's mathematics, as the engine gives it now: the code and
// errno afterwards under both zero-on-math-error settings, in every form of
// evaluation; the bits where the result is exact, otherwise the class of the
// value. A finite value may cross into a neighbouring class (a result at the
// edge of the subnormals) only within 2 ulps of the recorded one: the engine
// now rounds its own way there, within 1 ulp of the exact value.

#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <string>

#include "builtins/outcome_table.h"
#include "support/engine_rig.h"

namespace {

using namespace outcome_table;

enum class Form { Native, Threaded, Walk };
const char* const kFormNames[] = {"machine code", "threaded", "walked"};

double valueOf(uint64_t bits) {
    return std::bit_cast<double>(bits);
}

const char* className(double v) {
    if (std::isnan(v)) return "NaN";
    const bool negative = std::signbit(v);
    if (std::isinf(v)) return negative ? "-inf" : "+inf";
    if (v == 0.0) return negative ? "-0" : "+0";
    if (std::fabs(v) < 0x1p-1022) return negative ? "-subnormal" : "+subnormal";
    return negative ? "-normal" : "+normal";
}

// Finite values whose bits lie at most 2 apart, on the same side of zero.
bool neighbours(uint64_t x, uint64_t y) {
    const double a = valueOf(x), b = valueOf(y);
    if (!std::isfinite(a) || !std::isfinite(b) || std::signbit(a) != std::signbit(b)) return false;
    const uint64_t gap = x > y ? x - y : y - x;
    return gap <= 2;
}

std::string describe(const Outcome& o) {
    char text[160];
    std::snprintf(text, sizeof text, "code %d, errno %d, value 0x%016" PRIX64 " (%s, %.17g)", o.code, o.errorAfter,
                  o.bits, className(valueOf(o.bits)), valueOf(o.bits));
    return text;
}

Outcome evaluate(const Row& row, int32_t zeroOnMathError, Form form) {
    quorvel_test::EngineRig rig({.zeroOnMathError = zeroOnMathError});
    rig.variable("a") = valueOf(kValues[row.a]);
    rig.variable("b") = valueOf(kValues[row.b]);
    rig.variable("c") = valueOf(kValues[row.c]);
    const int32_t parsed = rig.parse(kTexts[row.text]);
    if (parsed != EXPR_OK) return {parsed, 0, 0};
    if (form == Form::Threaded) rig.threadedOnly();
    if (form == Form::Walk) rig.walkOnly();
    double value = 0.0;
    errno = kErrnoSentinel;
    const int32_t code = rig.evaluate(&value);
    const int after = errno;
    return {code, after, code == EXPR_OK ? std::bit_cast<uint64_t>(value) : 0};
}

::testing::AssertionResult matches(const Outcome& got, const Outcome& due, bool exact) {
    bool same = got.code == due.code && got.errorAfter == due.errorAfter;
    if (same && got.code == EXPR_OK) {
        const double g = valueOf(got.bits), d = valueOf(due.bits);
        if (exact)
            same = got.bits == due.bits;
        else
            same = std::string(className(g)) == className(d) || neighbours(got.bits, due.bits);
    }
    if (same) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "gives " << describe(got) << "; due " << (exact ? "exactly " : "in class ")
                                         << describe(due);
}

TEST(Outcomes, EveryRowKeepsItsCodeErrnoAndValue) {
    int failures = 0;
    for (const Row& row : kRows) {
        for (int32_t flag : {0, 1}) {
            for (Form form : {Form::Native, Form::Threaded, Form::Walk}) {
                const Outcome got = evaluate(row, flag, form);
                const auto result = matches(got, flag ? row.lenient : row.strict, row.exact);
                if (!result && ++failures <= 50) {
                    ADD_FAILURE() << kTexts[row.text] << " at a = " << valueOf(kValues[row.a])
                                  << ", b = " << valueOf(kValues[row.b]) << ", c = " << valueOf(kValues[row.c])
                                  << " (bits 0x" << std::hex << kValues[row.a] << ", 0x" << kValues[row.b] << ", 0x"
                                  << kValues[row.c] << std::dec << "), zero-on-math-error " << flag << ", "
                                  << kFormNames[static_cast<int>(form)] << ": " << result.message();
                }
            }
        }
    }
    EXPECT_EQ(failures, 0) << "rows that fail (the first 50 shown)";
}

}  // namespace
