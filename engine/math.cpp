/*
 * The callbacks of the mathematical built-in functions. Those under the
 * math-error rule compute through their bare routine, whose report
 * exprJudgeRoutine judges, as the compiled form judges it. The others
 * compute directly, never report a math error, and leave errno as they
 * found it. The routines themselves are in routines.cpp.
 */
#include <cerrno>
#include <cmath>

#include "internal.h"
#include "routines.h"

/* ---- The common shapes of a callback ------------------------------------ */

namespace {

int32_t evalTwo(ExprContext* context, ExprNode* args, double* a, double* b) {
    int32_t code = exprEvalNode(context, &args[0], a);
    return code != EXPR_OK ? code : exprEvalNode(context, &args[1], b);
}

int32_t unaryDirect(ExprContext* context, ExprNode* args, double* result, ExprUnaryCompute compute) {
    double a;
    int32_t code = exprEvalNode(context, &args[0], &a);
    if (code != EXPR_OK) return code;
    *result = exprFromRegister(compute(a));
    return EXPR_OK;
}

int32_t binaryDirect(ExprContext* context, ExprNode* args, double* result, ExprBinaryCompute compute) {
    double a, b;
    int32_t code = evalTwo(context, args, &a, &b);
    if (code != EXPR_OK) return code;
    *result = exprFromRegister(compute(a, b));
    return EXPR_OK;
}

int32_t unaryRule(ExprContext* context, ExprNode* args, double* result, ExprUnaryCompute bare) {
    double a;
    int32_t code = exprEvalNode(context, &args[0], &a);
    if (code != EXPR_OK) return code;
    return exprJudgeRoutine(context, exprFromRegister(bare(a)), a, 0.0, result);
}

int32_t binaryRule(ExprContext* context, ExprNode* args, double* result, ExprBinaryCompute bare) {
    double a, b;
    int32_t code = evalTwo(context, args, &a, &b);
    if (code != EXPR_OK) return code;
    return exprJudgeRoutine(context, exprFromRegister(bare(a, b)), a, b, result);
}

}  // namespace

/* ---- The callbacks ------------------------------------------------------- */

#define EXPR_CALLBACK(name) \
    int32_t name(ExprContext* context, ExprNode* args, int32_t, double**, int32_t, double* result)

EXPR_CALLBACK(builtinAbs) {
    double a;
    int32_t code = exprEvalNode(context, &args[0], &a);
    if (code != EXPR_OK) return code;
    *result = exprAbs(a);
    return EXPR_OK;
}
EXPR_CALLBACK(builtinMod) {
    return binaryRule(context, args, result, exprBareFmod);
}
EXPR_CALLBACK(builtinPow) {
    return binaryRule(context, args, result, exprBarePow);
}
EXPR_CALLBACK(builtinSqrt) {
    return unaryDirect(context, args, result, exprDirectSqrt);
}
EXPR_CALLBACK(builtinSin) {
    return unaryDirect(context, args, result, exprDirectSin);
}
EXPR_CALLBACK(builtinSinh) {
    return unaryRule(context, args, result, exprBareSinh);
}
EXPR_CALLBACK(builtinAsin) {
    return unaryRule(context, args, result, exprBareAsin);
}
EXPR_CALLBACK(builtinCos) {
    return unaryDirect(context, args, result, exprDirectCos);
}
EXPR_CALLBACK(builtinCosh) {
    return unaryRule(context, args, result, exprBareCosh);
}
EXPR_CALLBACK(builtinAcos) {
    return unaryRule(context, args, result, exprBareAcos);
}
EXPR_CALLBACK(builtinTan) {
    return unaryDirect(context, args, result, exprDirectTan);
}
EXPR_CALLBACK(builtinTanh) {
    return unaryRule(context, args, result, exprBareTanh);
}
EXPR_CALLBACK(builtinAtan) {
    return unaryDirect(context, args, result, exprDirectAtan);
}
EXPR_CALLBACK(builtinAtan2) {
    return binaryDirect(context, args, result, exprDirectAtan2);
}
EXPR_CALLBACK(builtinLog) {
    return unaryDirect(context, args, result, exprDirectLog);
}
EXPR_CALLBACK(builtinPow10) {
    return unaryRule(context, args, result, exprBarePow10);
}
EXPR_CALLBACK(builtinLn) {
    return unaryDirect(context, args, result, exprDirectLn);
}
EXPR_CALLBACK(builtinExp) {
    return unaryDirect(context, args, result, exprDirectExp);
}
EXPR_CALLBACK(builtinCeil) {
    return unaryRule(context, args, result, exprBareCeil);
}
EXPR_CALLBACK(builtinFloor) {
    return unaryRule(context, args, result, exprBareFloor);
}
EXPR_CALLBACK(builtinDeg) {
    return unaryDirect(context, args, result, exprDirectDeg);
}
EXPR_CALLBACK(builtinRad) {
    return unaryDirect(context, args, result, exprDirectRad);
}
EXPR_CALLBACK(builtinRecttopolr) {
    return binaryDirect(context, args, result, exprDirectRecttopolr);
}
EXPR_CALLBACK(builtinRecttopola) {
    return binaryDirect(context, args, result, exprDirectRecttopola);
}
EXPR_CALLBACK(builtinPoltorectx) {
    return binaryDirect(context, args, result, exprDirectPoltorectx);
}
EXPR_CALLBACK(builtinPoltorecty) {
    return binaryDirect(context, args, result, exprDirectPoltorecty);
}

/* ipart and fpart make the same modf call and keep different halves. */
namespace {
int32_t modfHalf(ExprContext* context, ExprNode* args, double* result, bool integralHalf) {
    double a;
    int32_t code = exprEvalNode(context, &args[0], &a);
    if (code != EXPR_OK) return code;
    errno = 0;
    double integral;
    const double fraction = exprMathModf(a, &integral);
    return exprApplyMathRule(context, integralHalf ? integral : fraction, result);
}
}  // namespace

EXPR_CALLBACK(builtinIpart) {
    return modfHalf(context, args, result, true);
}
EXPR_CALLBACK(builtinFpart) {
    return modfHalf(context, args, result, false);
}

/* The logarithm of a to the base b. A base whose logarithm is zero or NaN
 * (1, negative, NaN) is a math error found here, not by errno. */
EXPR_CALLBACK(builtinLogn) {
    double a, b;
    int32_t code = evalTwo(context, args, &a, &b);
    if (code != EXPR_OK) return code;
    double logA = exprFromRegister(exprDirectLn(a));
    double logB = exprFromRegister(exprDirectLn(b));
    if (logB == 0.0 || std::isnan(logB)) return exprMathError(context, result);
    *result = logA / logB;
    return EXPR_OK;
}

#undef EXPR_CALLBACK
