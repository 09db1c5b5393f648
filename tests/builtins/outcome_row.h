// The shape of a row of outcome_table.h, shared by its generator
// (tests/generators/outcome_table.cpp) and its test.
#pragma once

#include <cerrno>
#include <cstdint>

#include "engine/expr.h"

namespace outcome_table {

// errno is set to this before each evaluation, to see what the engine leaves.
constexpr int kErrnoSentinel = 1234;

constexpr int E0 = 0;
constexpr int KEPT = kErrnoSentinel;
constexpr int32_t OK = EXPR_OK;
constexpr int32_t MATH = EXPR_ERR_MATH;

struct Outcome {
    int32_t code;
    int errorAfter;  // errno afterwards
    uint64_t bits;   // the value; 0 where the code is not EXPR_OK
};

struct Row {
    uint16_t text;     // index into kTexts
    uint16_t a, b, c;  // indices into kValues of the variables a, b and c
    uint8_t exact;     // the bits are due, not only the value's class
    Outcome strict;    // without zero-on-math-error
    Outcome lenient;   // with it
};

}  // namespace outcome_table
