/*
 * Operations shared between the engine's own source files. Not part of the
 * interface: callers outside engine/ and tests use expr.h.
 */
#ifndef QUORVEL_ENGINE_INTERNAL_H
#define QUORVEL_ENGINE_INTERNAL_H

#include <errno.h>
#include <math.h>

#include "expr.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Entry construction; null when the name breaks the identifier rule or
 * memory runs out. */
VarEntry* exprNewVarEntry(const char* name, double value);
FuncEntry* exprNewFuncEntry(ExprFunction function, const char* name, int32_t minArgs, int32_t maxArgs,
                            int32_t minRefs, int32_t maxRefs);

/* The math-error rule, step 4 on: stores value into *result, then judges the
 * errno left by the computation. EDOM, or ERANGE for a pole or an overflow,
 * gives 0.0 with EXPR_OK under zero-on-math-error and EXPR_ERR_MATH without;
 * ERANGE with a zero or subnormal value is an underflow and no error. The
 * caller cleared errno before computing. */
int32_t exprApplyMathRule(ExprContext* context, double value, double* result);
/* The same judgement of an error code the caller already holds. */
int32_t exprJudgeMathError(ExprContext* context, int error, double value, double* result);

/* A math error found by a function's own test rather than by errno. */
int32_t exprMathError(ExprContext* context, double* result);

/* fmod and pow as the C standard has them report errors: EDOM for a NaN
 * result from non-NaN arguments, ERANGE for an infinity from finite ones;
 * otherwise errno keeps its earlier value. */
double exprMathFmod(double a, double b);
double exprMathPow(double a, double b);

/* a + b and a * b with a in the destination register. Where both are NaN,
 * x86 keeps the left operand's NaN; a compiler may swap the operands of a
 * commutative operation, which would make the NaN bits depend on how a text
 * is evaluated and on the build. Every evaluator and built-in adds and
 * multiplies two values that may both be NaN through these. */
static inline double exprAdd(double a, double b) {
#if defined(__GNUC__) && defined(__SSE2_MATH__)
    __asm__("addsd %1, %0" : "+x"(a) : "xm"(b));
    return a;
#else
    return a + b;
#endif
}
static inline double exprMul(double a, double b) {
#if defined(__GNUC__) && defined(__SSE2_MATH__)
    __asm__("mulsd %1, %0" : "+x"(a) : "xm"(b));
    return a;
#else
    return a * b;
#endif
}

/* abs: -a when a < 0, otherwise a itself, a signalling NaN included. Kept
 * inline in every evaluator: on 32-bit x86 a double returned from a call
 * passes the x87 stack, which would make a signalling NaN quiet. */
__attribute__((always_inline)) static inline double exprAbs(double a) { return a < 0.0 ? -a : a; }

/* The truth tests of the logic built-ins. A NaN operand makes "zero",
 * "equal" and "less than" true and "greater than" false. */
static inline int exprTestZero(double a) { return a == 0.0 || a != a; }
static inline int exprTestEqual(double a, double b) { return a == b || a != a || b != b; }
static inline int exprTestLess(double a, double b) { return !(a >= b); }
static inline int exprTestGreater(double a, double b) { return a > b; }

/* What the C standard has a routine report for its result: EDOM for a NaN
 * from arguments that are not NaN, ERANGE for an infinity from finite ones,
 * otherwise 0. (A one-argument routine passes 0.0 as b.) */
static inline int exprMathReport(double result, double a, double b) {
    if (isnan(result) && !isnan(a) && !isnan(b)) return EDOM;
    if (isinf(result) && isfinite(a) && isfinite(b)) return ERANGE;
    return 0;
}

/* The computation behind a built-in of one or two values (sin, tanh, pow,
 * atan2, ...), for an evaluator that runs it in place of the callback: the
 * callback evaluates its arguments in order and returns compute(values).
 * Under the math-error rule ("rule" set) compute is the bare routine: the
 * callback leaves errno at exprMathReport(value, arguments) and passes the
 * value through exprApplyMathRule. Both are null for any other callback. */
typedef double (*ExprUnaryCompute)(double);
typedef double (*ExprBinaryCompute)(double, double);
typedef struct ExprInPlace {
    ExprUnaryCompute unary;   /* one-argument built-ins */
    ExprBinaryCompute binary; /* two-argument built-ins */
    int rule;                 /* under the math-error rule */
} ExprInPlace;
ExprInPlace exprInPlaceFunction(ExprFunction function);

/* The compiled form of a parsed tree: the same evaluation, node for node,
 * including the node evaluations at which the abort callback is polled, as
 * a flat program. Null when the tree cannot be compiled or memory runs out;
 * exprEvaluate then walks the tree. */
void* exprCompile(ExprNode* root);
int32_t exprRunProgram(ExprContext* context, const void* program, double* result);
void exprFreeProgram(void* program);
/* Compiles the context's freshly parsed tree; called by exprParse on success. */
void exprAttachProgram(ExprContext* context);

/* The value of a number literal that exprIsNumber accepts, of at most
 * EXPR_MAX_TOKEN characters, correctly rounded; "." is its point whatever
 * the process locale. */
double exprDecimalValue(const char* literal);

/* Text preparation and the statement list. */
int32_t exprStripText(char* text);
int32_t exprCheckCharacters(const char* text);
int32_t exprParseStatements(ExprContext* context, ExprNode* root, const char* text);

/* The splitting parser over the inclusive range first..last of the prepared
 * text. Each rule fills the zero-filled node its caller owns. */
int32_t exprParseRange(ExprContext* context, ExprNode* node, const char* text, int32_t first, int32_t last);

#ifdef __cplusplus
}
#endif

#endif
