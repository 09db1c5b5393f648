// The out-of-line parts of what every evaluation does alike (evaluation.h):
// the abort poll and the judgement of a math error.

#include <cerrno>
#include <cfloat>
#include <climits>
#include <cmath>

#include "internal.h"

extern "C" int32_t exprPollAbort(ExprContext* context) {
    if (context == nullptr || context->abortCallback == nullptr) return 0;
    return context->abortCallback(context);
}

// The callback sees the countdown decremented past the poll, as if every
// node had decremented the context's own. It saturates instead of
// overflowing when a stopping callback is met again and again without a
// fresh evaluation. Kept out of line: it runs once per checkInterval + 1
// node evaluations.
extern "C" [[gnu::noinline]] int32_t exprPollAbortNow(ExprContext* context, int32_t* countdown) {
    const int32_t left = *countdown;
    context->countdown = left > INT32_MIN ? left - 1 : left;
    if (exprPollAbort(context) != 0) {
        *countdown = context->countdown;
        return 1;
    }
    *countdown = context->checkInterval;
    return 0;
}

extern "C" int32_t exprMathError(ExprContext* context, double* result) {
    if (!exprZeroOnMathError(context)) return EXPR_ERR_MATH;
    *result = 0.0;
    return EXPR_OK;
}

extern "C" int32_t exprApplyMathRule(ExprContext* context, double value, double* result) {
    return exprJudgeMathError(context, errno, value, result);
}

extern "C" int32_t exprJudgeMathError(ExprContext* context, int error, double value, double* result) {
    *result = value;
    if (error == EDOM) return exprMathError(context, result);
    // A range error whose result is zero or subnormal is an underflow.
    if (error == ERANGE && !(std::fabs(value) < DBL_MIN)) return exprMathError(context, result);
    return EXPR_OK;
}
