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
 *
 * trig.cpp: sine, cosine, tangent and their inverses.
 * exponential.cpp: exponentials, logarithms, powers and hyperbolic functions.
 * exact.cpp: the functions whose results are exact (remainder, parts, ceil, floor).
 */
#ifndef QUORVEL_ENGINE_ELEMENTARY_H
#define QUORVEL_ENGINE_ELEMENTARY_H

#ifdef __cplusplus
extern "C" {
#endif

double exprSin(double a);
double exprCos(double a);
double exprTan(double a);
double exprAsin(double a);
double exprAcos(double a);
double exprAtan(double a);
double exprAtan2(double y, double x);

double exprExp(double a);
double exprExp10(double a); /* 10 to the power a */
double exprLn(double a);
double exprLog10(double a);
double exprPow(double a, double b);
double exprSinh(double a);
double exprCosh(double a);
double exprTanh(double a);

double exprFmod(double a, double b);
double exprModf(double a, double* integral);
double exprCeil(double a);
double exprFloor(double a);

#ifdef __cplusplus
}
#endif

#endif
