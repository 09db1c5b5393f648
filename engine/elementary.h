/*
 * The elementary functions behind the mathematical built-ins, the engine's
 * own: computed with IEEE double +, -, *, / and square root and integer
 * operations on the bits alone (no runtime mathematics, no x87, no fused
 * multiply-add), so that every build gives the same bits for every argument.
 *
 * Each is within 1 ulp of the exact result over its whole domain. Special
 * arguments (zeros, infinities, the edges of the domain) give the values
 * the C standard's annex on IEEE arithmetic gives them; a NaN argument gives
 * that NaN made quiet. None of them reads or writes errno: the math-error
 * rule is judged by their callers (routines.cpp) from arguments and result.
 * They take and give their doubles in registers (register_double.h).
 *
 * trig.cpp: sine, cosine, tangent and their inverses.
 * exponential.cpp: exponentials, logarithms, powers and hyperbolic functions.
 * exact.cpp: the functions whose results are exact (remainder, parts, ceil, floor).
 */
#ifndef QUORVEL_ENGINE_ELEMENTARY_H
#define QUORVEL_ENGINE_ELEMENTARY_H

#include "register_double.h"

#ifdef __cplusplus
extern "C" {
#endif

ExprRegisterDouble EXPR_REGISTER_CALL exprSin(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprCos(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprTan(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprAsin(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprAcos(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprAtan(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprAtan2(double y, double x);

ExprRegisterDouble EXPR_REGISTER_CALL exprExp(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprExp10(double a); /* 10 to the power a */
ExprRegisterDouble EXPR_REGISTER_CALL exprLn(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprLog10(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprPow(double a, double b);
ExprRegisterDouble EXPR_REGISTER_CALL exprSinh(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprCosh(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprTanh(double a);

ExprRegisterDouble EXPR_REGISTER_CALL exprFmod(double a, double b);
ExprRegisterDouble EXPR_REGISTER_CALL exprModf(double a, double* integral);
ExprRegisterDouble EXPR_REGISTER_CALL exprCeil(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprFloor(double a);

#ifdef __cplusplus
}
#endif

#endif
