/*
 * Operations shared between the engine's own source files. Not part of the
 * interface: callers outside engine/ and tests use expr.h. What both
 * evaluators must agree on (the abort poll, division, the math-error
 * judgement, NaN-stable arithmetic, the truth tests) is in evaluation.h.
 */
#ifndef QUORVEL_ENGINE_INTERNAL_H
#define QUORVEL_ENGINE_INTERNAL_H

#include "evaluation.h"
#include "expr.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Entry construction; null when the name breaks the identifier rule or
 * memory runs out. */
VarEntry* exprNewVarEntry(const char* name, double value);
FuncEntry* exprNewFuncEntry(ExprFunction function, const char* name, int32_t minArgs, int32_t maxArgs,
                            int32_t minRefs, int32_t maxRefs);

/* fmod and pow as the C standard has them report errors: EDOM for a NaN
 * result from non-NaN arguments, ERANGE for an infinity from finite ones;
 * otherwise errno keeps its earlier value. */
double exprMathFmod(double a, double b);
double exprMathPow(double a, double b);

/* The computation behind a built-in of one or two values (sin, tanh, pow,
 * atan2, ...), for an evaluator that runs it in place of the callback: the
 * callback evaluates its arguments in order and returns compute(values).
 * Under the math-error rule ("rule" set) compute is the bare routine, whose
 * value the callback and the compiled form both pass through
 * exprJudgeRoutine. Both are null for any other callback. */
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
/* The program exprCompile makes of a tree, as the names of its instructions
 * up to End, one blank between two (the exact copies after End left out),
 * for tests and dumps. Writes at most size bytes, the zero included, and
 * gives the length of the whole listing; -1 when the tree is not compiled. */
int32_t exprListProgram(ExprNode* root, char* text, int32_t size);

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
