/*
 * The computations behind the mathematical built-ins of one or two values.
 * Their callbacks compute with them, and the compiled form runs them in
 * place of the callbacks through the built-in table (builtins.cpp), so both
 * evaluators compute the same bits. Each answers for itself what the
 * runtimes leave open (the NaN of a result, the sign of some zeros); they
 * are defined in routines.cpp.
 *
 * A bare routine is one under the math-error rule: what it leaves in errno
 * means nothing, as the runtimes disagree there; its caller judges its value
 * with exprJudgeRoutine, which leaves errno at the routine's report. A
 * direct routine never reports an error and keeps errno as it found it.
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

/* fmod, pow and modf reporting into errno as the C standard has them
 * report (exprMathReport), for the built-ins that test errno after several
 * computations (clamp, poly, ipart, fpart): without a report errno keeps
 * its earlier value. modf's fraction is returned, its integral part stored. */
double exprMathFmod(double a, double b);
double exprMathPow(double a, double b);
double exprMathModf(double a, double* integral);

#ifdef __cplusplus
}
#endif

#endif
