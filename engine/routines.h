/*
 * The computations behind the mathematical built-ins of one or two values.
 * Their callbacks compute with them, and the compiled form runs them in
 * place of the callbacks through the built-in table (builtins.cpp), so both
 * evaluators compute the same bits. Each answers for itself what the
 * runtimes leave open (the NaN of a result, the sign of some zeros).
 *
 * A bare routine is one under the math-error rule: it leaves errno alone,
 * and its caller judges its value with exprJudgeRoutine. A direct routine
 * never reports an error and keeps errno as it found it.
 */
#ifndef QUORVEL_ENGINE_ROUTINES_H
#define QUORVEL_ENGINE_ROUTINES_H

#ifdef __cplusplus
extern "C" {
#endif

/* Under the math-error rule. */
double exprBareFmod(double a, double b); /* mod */
double exprBarePow(double a, double b);
double exprBareSinh(double a);
double exprBareCosh(double a);
double exprBareTanh(double a);
double exprBareAsin(double a);
double exprBareAcos(double a);
double exprBareCeil(double a);
double exprBareFloor(double a);
double exprBarePow10(double a);

/* Never an error. */
double exprDirectSqrt(double a);
double exprDirectSin(double a);
double exprDirectCos(double a);
double exprDirectTan(double a);
double exprDirectAtan(double a);
double exprDirectLog(double a); /* base 10 */
double exprDirectLn(double a);
double exprDirectExp(double a);
double exprDirectDeg(double a);
double exprDirectRad(double a);
double exprDirectAtan2(double y, double x);
double exprDirectRecttopolr(double x, double y);
double exprDirectRecttopola(double x, double y);
double exprDirectPoltorectx(double r, double angle);
double exprDirectPoltorecty(double r, double angle);

#ifdef __cplusplus
}
#endif

#endif
