/*
 * What every evaluation of a tree does alike, whichever evaluator runs it
 * (the tree walk or the compiled form) and whichever built-in computes: the
 * abort poll per node evaluation, division and its refusal of a zero
 * divisor, the judgement of a math error, the arithmetic whose NaN must not
 * depend on the evaluator, and the truth tests. Written once here so that
 * the evaluators agree bit for bit by construction; evaluation.cpp holds
 * the parts that run out of line. Included through internal.h.
 */
#ifndef QUORVEL_ENGINE_EVALUATION_H
#define QUORVEL_ENGINE_EVALUATION_H

#include <errno.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

#include "expr.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- The abort poll ------------------------------------------------------
 *
 * Every node evaluation counts. The evaluator keeps its own copy of the
 * context's countdown (in a register or a local record rather than in the
 * context); while it is above zero a node costs one decrement, and at zero
 * or below exprPollAbortNow polls the abort callback. Nonzero means stop
 * with EXPR_ERR_ABORTED. exprCountNodeEvaluation (below, for C++) is the
 * count; the evaluator hands it the call of exprPollAbortNow in whatever
 * form keeps its own code small. */
int32_t exprPollAbortNow(ExprContext* context, int32_t* countdown);

/* ---- Division ------------------------------------------------------------
 *
 * A divisor that compares equal to 0.0 (either zero) or unordered (NaN) is
 * refused: 0.0 with EXPR_OK under zero-on-math-error, otherwise
 * EXPR_ERR_DIVIDE_BY_ZERO with *quotient untouched. Any other divisor gives
 * the IEEE quotient, unchecked (an overflow to infinity passes); errno is
 * not involved. */
static inline int exprDivisorAccepted(double divisor) {
    return divisor < 0.0 || divisor > 0.0;
}

static inline int32_t exprDivide(ExprContext* context, double dividend, double divisor, double* quotient) {
    if (__builtin_expect(exprDivisorAccepted(divisor), 1)) {
        *quotient = dividend / divisor;
        return EXPR_OK;
    }
    if (!exprZeroOnMathError(context)) return EXPR_ERR_DIVIDE_BY_ZERO;
    *quotient = 0.0;
    return EXPR_OK;
}

/* ---- The math-error rule -------------------------------------------------
 *
 * The judgement: stores value into *result, then judges the error code the
 * computation left. EDOM, or ERANGE for a pole or an overflow, gives 0.0
 * with EXPR_OK under zero-on-math-error and EXPR_ERR_MATH without; ERANGE
 * with a zero or subnormal value is an underflow and no error. */
int32_t exprJudgeMathError(ExprContext* context, int error, double value, double* result);

/* The same judgement of errno; the caller cleared errno before computing. */
int32_t exprApplyMathRule(ExprContext* context, double value, double* result);

/* A math error found by a function's own test rather than by errno. */
int32_t exprMathError(ExprContext* context, double* result);

/* What the C standard has a routine report for its result: EDOM for a NaN
 * from arguments that are not NaN, ERANGE for an infinity from finite ones,
 * otherwise 0. (A one-argument routine passes 0.0 as b.) The runtimes
 * disagree on what they put into errno, so this report stands for it. */
static inline int exprMathReport(double result, double a, double b) {
    if (isnan(result) && !isnan(a) && !isnan(b)) return EDOM;
    if (isinf(result) && isfinite(a) && isfinite(b)) return ERANGE;
    return 0;
}

/* A built-in under the rule, after its bare routine computed value from a
 * and b: errno is left at the routine's report, and the report is judged. */
static inline int32_t exprJudgeRoutine(ExprContext* context, double value, double a, double b, double* result) {
    const int report = exprMathReport(value, a, b);
    errno = report;
    if (__builtin_expect(report == 0, 1)) {
        *result = value;
        return EXPR_OK;
    }
    return exprJudgeMathError(context, report, value, result);
}

/* ---- Arithmetic and truth ------------------------------------------------
 *
 * a + b and a * b with a in the destination register. Where both are NaN,
 * x86 keeps the left operand's NaN; a compiler may swap the operands of a
 * commutative operation, which would make the NaN bits depend on how a text
 * is evaluated and on the build. Every evaluator and built-in adds and
 * multiplies two values that may both be NaN through these. */
#if !(defined(__GNUC__) && defined(__SSE2_MATH__))
/* Without SSE2 (WebAssembly) the NaN of an operation is left open, so the
 * x86 rule is kept by hand where the result is NaN: the first NaN operand
 * made quiet, or for an invalid operation (0 * inf) the default NaN. */
static inline double exprNaNAsX86(double a, double b, double value) {
    uint64_t bits;
    if (value == value) return value;
    if (a != a) memcpy(&bits, &a, sizeof bits);
    else if (b != b) memcpy(&bits, &b, sizeof bits);
    else bits = 0xFFF8000000000000ull;
    bits |= 0x0008000000000000ull;
    memcpy(&value, &bits, sizeof value);
    return value;
}
#endif

static inline double exprAdd(double a, double b) {
#if defined(__GNUC__) && defined(__SSE2_MATH__)
    __asm__("addsd %1, %0" : "+x"(a) : "xm"(b));
    return a;
#else
    return exprNaNAsX86(a, b, a + b);
#endif
}
static inline double exprMul(double a, double b) {
#if defined(__GNUC__) && defined(__SSE2_MATH__)
    __asm__("mulsd %1, %0" : "+x"(a) : "xm"(b));
    return a;
#else
    return exprNaNAsX86(a, b, a * b);
#endif
}

/* abs: -a when a < 0, otherwise a itself, a signalling NaN included. Kept
 * inline in every evaluator: on 32-bit x86 a double returned from a call
 * passes the x87 stack, which would make a signalling NaN quiet. */
__attribute__((always_inline)) static inline double exprAbs(double a) {
    return a < 0.0 ? -a : a;
}

/* The truth tests of the logic built-ins. A NaN operand makes "zero",
 * "equal" and "less than" true and "greater than" false. */
static inline int exprTestZero(double a) {
    return a == 0.0 || a != a;
}
static inline int exprTestEqual(double a, double b) {
    return a == b || a != a || b != b;
}
static inline int exprTestLess(double a, double b) {
    return !(a >= b);
}
static inline int exprTestGreater(double a, double b) {
    return a > b;
}

#ifdef __cplusplus
}

/* Counts one node evaluation against countdown; at zero or below,
 * poll(args...) calls exprPollAbortNow for it and gives nonzero to stop.
 * True: stop. (A function, not a closure, so that no evaluator frame grows
 * by a closure object at every tick.) */
template <auto poll, typename... Args> inline bool exprCountNodeEvaluation(int32_t& countdown, Args... args) {
    const int32_t left = countdown;
    if (left > 0) [[likely]] {
        countdown = left - 1;
        return false;
    }
    return poll(args...) != 0;
}
#endif

#endif
