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
 * Both take and give their doubles in registers (register_double.h).
 */
#ifndef QUORVEL_ENGINE_ROUTINES_H
#define QUORVEL_ENGINE_ROUTINES_H

#include "register_double.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Under the math-error rule. */
ExprRegisterDouble EXPR_REGISTER_CALL exprBareFmod(double a, double b); /* mod */
ExprRegisterDouble EXPR_REGISTER_CALL exprBarePow(double a, double b);
ExprRegisterDouble EXPR_REGISTER_CALL exprBareSinh(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprBareCosh(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprBareTanh(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprBareAsin(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprBareAcos(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprBareCeil(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprBareFloor(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprBarePow10(double a);

/* Never an error. */
ExprRegisterDouble EXPR_REGISTER_CALL exprDirectSqrt(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprDirectSin(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprDirectCos(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprDirectTan(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprDirectAtan(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprDirectLog(double a); /* base 10 */
ExprRegisterDouble EXPR_REGISTER_CALL exprDirectLn(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprDirectExp(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprDirectDeg(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprDirectRad(double a);
ExprRegisterDouble EXPR_REGISTER_CALL exprDirectAtan2(double y, double x);
ExprRegisterDouble EXPR_REGISTER_CALL exprDirectRecttopolr(double x, double y);
ExprRegisterDouble EXPR_REGISTER_CALL exprDirectRecttopola(double x, double y);
ExprRegisterDouble EXPR_REGISTER_CALL exprDirectPoltorectx(double r, double angle);
ExprRegisterDouble EXPR_REGISTER_CALL exprDirectPoltorecty(double r, double angle);

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
