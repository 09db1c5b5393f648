/*
 * Operations shared between the engine's own source files. Not part of the
 * interface: callers outside engine/ and tests use expr.h.
 */
#ifndef QUORVEL_ENGINE_INTERNAL_H
#define QUORVEL_ENGINE_INTERNAL_H

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

/* A math error found by a function's own test rather than by errno. */
int32_t exprMathError(ExprContext* context, double* result);

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
