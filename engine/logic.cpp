/*
 * Logic, selection, aggregate and loop built-ins. The language has no
 * comparison operators; these functions are its tests, choices and loop.
 *
 * if, select and for evaluate only the arguments their logic reaches; every
 * other function evaluates all its arguments, first to last, and stops at
 * the first failing one with its code.
 */
#include <cerrno>

#include "internal.h"
#include "routines.h"

namespace {

/* The four tests. A NaN operand makes "zero", "equal" and "less than" true
 * and "greater than" false: select, clip and min treat NaN as below
 * everything, and a NaN condition counts as false. */
bool isZero(double a) {
    return exprTestZero(a);
}
bool isEqual(double a, double b) {
    return exprTestEqual(a, b);
}
bool isLess(double a, double b) {
    return exprTestLess(a, b);
}
bool isGreater(double a, double b) {
    return exprTestGreater(a, b);
}

bool bothTrue(double a, double b) {
    return !isZero(a) && !isZero(b);
}
bool eitherTrue(double a, double b) {
    return !isZero(a) || !isZero(b);
}

double truth(bool value) {
    return value ? 1.0 : 0.0;
}

int32_t evalArg(ExprContext* context, ExprNode* args, int32_t index, double* value) {
    return exprEvalNode(context, &args[index], value);
}

/* Evaluates arguments 0 .. count-1 in order into values. */
int32_t evalArgs(ExprContext* context, ExprNode* args, int32_t count, double* values) {
    for (int32_t i = 0; i < count; ++i) {
        int32_t code = evalArg(context, args, i, &values[i]);
        if (code != EXPR_OK) return code;
    }
    return EXPR_OK;
}

/* Evaluates the one argument a choice reached; result is written only on
 * success. */
int32_t evalChosen(ExprContext* context, ExprNode* args, int32_t index, double* result) {
    double value;
    int32_t code = evalArg(context, args, index, &value);
    if (code == EXPR_OK) *result = value;
    return code;
}

/* Evaluates both arguments of a two-argument test and writes its truth. */
int32_t compareTwo(ExprContext* context, ExprNode* args, double* result, bool (*test)(double, double)) {
    double values[2];
    int32_t code = evalArgs(context, args, 2, values);
    if (code != EXPR_OK) return code;
    *result = truth(test(values[0], values[1]));
    return EXPR_OK;
}

/* min and max: the first argument stays unless a later one passes the
 * replacing test, so of equal values the first wins. */
int32_t extreme(ExprContext* context, ExprNode* args, int32_t argCount, double* result,
                bool (*replaces)(double, double)) {
    double best;
    int32_t code = evalArg(context, args, 0, &best);
    if (code != EXPR_OK) return code;
    for (int32_t i = 1; i < argCount; ++i) {
        double value;
        code = evalArg(context, args, i, &value);
        if (code != EXPR_OK) return code;
        if (replaces(value, best)) best = value;
    }
    *result = best;
    return EXPR_OK;
}

bool isMathError(int error) {
    return error == EDOM || error == ERANGE;
}

}  // namespace

#define EXPR_CALLBACK(name)                                                                                  \
    int32_t name(ExprContext* context, ExprNode* args, [[maybe_unused]] int32_t argCount, double**, int32_t, \
                 double* result)

EXPR_CALLBACK(builtinMin) {
    return extreme(context, args, argCount, result, isLess);
}
EXPR_CALLBACK(builtinMax) {
    return extreme(context, args, argCount, result, isGreater);
}
EXPR_CALLBACK(builtinEqual) {
    return compareTwo(context, args, result, isEqual);
}
EXPR_CALLBACK(builtinAbove) {
    return compareTwo(context, args, result, isGreater);
}
EXPR_CALLBACK(builtinBelow) {
    return compareTwo(context, args, result, isLess);
}

/* if (c, a, b): only the chosen branch is evaluated. */
EXPR_CALLBACK(builtinIf) {
    double condition;
    int32_t code = evalArg(context, args, 0, &condition);
    if (code != EXPR_OK) return code;
    return evalChosen(context, args, isZero(condition) ? 2 : 1, result);
}

/* select (c, negative, zero [, positive]): only the chosen one is evaluated;
 * without a fourth argument a positive c takes the zero branch. */
EXPR_CALLBACK(builtinSelect) {
    double selector;
    int32_t code = evalArg(context, args, 0, &selector);
    if (code != EXPR_OK) return code;
    int32_t chosen = 3;
    if (isLess(selector, 0.0))
        chosen = 1;
    else if (isZero(selector) || argCount < 4)
        chosen = 2;
    return evalChosen(context, args, chosen, result);
}

/* and, or: both operands always, for the assignments inside them. */
EXPR_CALLBACK(builtinAnd) {
    return compareTwo(context, args, result, bothTrue);
}
EXPR_CALLBACK(builtinOr) {
    return compareTwo(context, args, result, eitherTrue);
}

EXPR_CALLBACK(builtinNot) {
    double value;
    int32_t code = evalArg(context, args, 0, &value);
    if (code != EXPR_OK) return code;
    *result = truth(isZero(value));
    return EXPR_OK;
}

EXPR_CALLBACK(builtinAvg) {
    double sum = 0.0;
    for (int32_t i = 0; i < argCount; ++i) {
        double value;
        int32_t code = evalArg(context, args, i, &value);
        if (code != EXPR_OK) return code;
        sum = exprAdd(value, sum);
    }
    *result = sum / static_cast<double>(argCount);
    return EXPR_OK;
}

/* clip (x, lo, hi): the lower bound is tested first. */
EXPR_CALLBACK(builtinClip) {
    double v[3];
    int32_t code = evalArgs(context, args, 3, v);
    if (code != EXPR_OK) return code;
    if (isLess(v[0], v[1]))
        *result = v[1];
    else if (isGreater(v[0], v[2]))
        *result = v[2];
    else
        *result = v[0];
    return EXPR_OK;
}

/* clamp (x, lo, hi): wraps x into [lo, hi); hi equal to lo is a math error
 * through fmod's zero divisor. */
EXPR_CALLBACK(builtinClamp) {
    double v[3];
    int32_t code = evalArgs(context, args, 3, v);
    if (code != EXPR_OK) return code;
    errno = 0;
    double wrapped = exprMathFmod(v[0] - v[1], v[2] - v[1]);
    return exprApplyMathRule(context, exprAdd(wrapped, isLess(wrapped, 0.0) ? v[2] : v[1]), result);
}

/* pntchange (x1, x2, y1, y2, x): the line through (x1, y1) and (x2, y2) at
 * x. Equal positions define no line: a math error whatever the flag. */
EXPR_CALLBACK(builtinPntchange) {
    double v[5];
    int32_t code = evalArgs(context, args, 5, v);
    if (code != EXPR_OK) return code;
    double run = v[1] - v[0];
    if (isZero(run)) return EXPR_ERR_MATH;
    *result = exprAdd(exprMul((v[4] - v[0]) / run, v[3] - v[2]), v[2]);
    return EXPR_OK;
}

/* poly (x, c1 .. ck): c1 x^(k-1) + .. + ck, highest power first. errno is
 * cleared once, so an error left by a coefficient's own evaluation ends the
 * sum just as one from pow does; the coefficients after it are not
 * evaluated. */
EXPR_CALLBACK(builtinPoly) {
    double x;
    int32_t code = evalArg(context, args, 0, &x);
    if (code != EXPR_OK) return code;
    errno = 0;
    double power = static_cast<double>(argCount - 2);
    double sum = 0.0;
    for (int32_t i = 1; i < argCount; ++i) {
        double coefficient;
        code = evalArg(context, args, i, &coefficient);
        if (code != EXPR_OK) return code;
        sum = exprAdd(exprMul(exprMathPow(x, power), coefficient), sum);
        power = power - 1.0;
        if (isMathError(errno)) return exprMathError(context, result);
    }
    *result = sum;
    return EXPR_OK;
}

/* for (init, cond, step, body1 .. bodyk): init once; then while cond is not
 * zero, the bodies in order and then the step. The value is the last body's
 * in the last pass; a loop whose body never runs gives 0.0. No iteration
 * limit: an endless loop ends at the evaluator's abort poll. */
EXPR_CALLBACK(builtinFor) {
    double discarded;
    int32_t code = evalArg(context, args, 0, &discarded);
    if (code != EXPR_OK) return code;
    double loopValue = 0.0;
    for (;;) {
        double condition;
        code = evalArg(context, args, 1, &condition);
        if (code != EXPR_OK) return code;
        if (isZero(condition)) break;
        for (int32_t i = 3; i < argCount; ++i) {
            code = evalArg(context, args, i, &loopValue);
            if (code != EXPR_OK) return code;
        }
        code = evalArg(context, args, 2, &discarded);
        if (code != EXPR_OK) return code;
    }
    *result = loopValue;
    return EXPR_OK;
}

#undef EXPR_CALLBACK
