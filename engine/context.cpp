// Expression contexts, the tree-walking evaluator, the arithmetic operators,
// the statement sequence and the math-error rule.

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <climits>

#include "internal.h"

// ---- Contexts ---------------------------------------------------------------

extern "C" int32_t exprNewContext(ExprContext** context, NameTable* functions, NameTable* variables,
                                  NameTable* constants, int32_t reserved, AbortCallback abortCallback,
                                  void* userData) {
    if (context == nullptr) return EXPR_ERR_ARGUMENT;
    ExprContext* created = static_cast<ExprContext*>(exprAlloc(sizeof(ExprContext)));
    if (created == nullptr) return EXPR_ERR_MEMORY;
    created->functions = functions;
    created->variables = variables;
    created->constants = constants;
    created->reserved = reserved;
    created->abortCallback = abortCallback;
    created->userData = userData;
    created->checkInterval = EXPR_CHECK_INTERVAL;
    created->countdown = 0;
    *context = created;
    return EXPR_OK;
}

namespace {
void releaseTree(ExprNode* root) {
    if (root == nullptr) return;
    exprFreeNode(root);
    exprDealloc(root);
}
}  // namespace

extern "C" int32_t exprClear(ExprContext* context) {
    if (context == nullptr || context->root == nullptr) return EXPR_OK;
    releaseTree(context->root);
    context->root = nullptr;
    context->parsed = 0;
    context->failed = 0;
    return EXPR_OK;
}

extern "C" int32_t exprFreeContext(ExprContext* context) {
    if (context == nullptr) return EXPR_OK;
    releaseTree(context->root);
    exprDealloc(context);
    return EXPR_OK;
}

// ---- Accessors ----------------------------------------------------------------

extern "C" NameTable* exprFunctions(ExprContext* context) { return context ? context->functions : nullptr; }
extern "C" NameTable* exprVariables(ExprContext* context) { return context ? context->variables : nullptr; }
extern "C" NameTable* exprConstants(ExprContext* context) { return context ? context->constants : nullptr; }
extern "C" void* exprUserData(ExprContext* context) { return context ? context->userData : nullptr; }
extern "C" int32_t exprZeroOnMathError(ExprContext* context) { return context ? context->zeroOnMathError : 0; }

extern "C" void exprSetZeroOnMathError(ExprContext* context, int32_t flag) {
    if (context != nullptr) context->zeroOnMathError = flag;
}

extern "C" int32_t exprPollAbort(ExprContext* context) {
    if (context == nullptr || context->abortCallback == nullptr) return 0;
    return context->abortCallback(context);
}

// ---- Evaluation -------------------------------------------------------------------

extern "C" int32_t exprEvaluate(ExprContext* context, double* result) {
    if (context == nullptr || result == nullptr) return EXPR_ERR_ARGUMENT;
    if (context->failed || !context->parsed || context->root == nullptr) return EXPR_ERR_NOT_READY;
    context->countdown = context->checkInterval;
    return exprEvalNode(context, context->root, result);
}

namespace {
// Counts one node evaluation; polls the abort callback when the countdown has
// run out. True means stop. The countdown saturates instead of overflowing
// when a stopping callback is met again and again without a fresh evaluate.
bool abortRequested(ExprContext* context) {
    const int32_t left = context->countdown;
    if (left > 0) {
        context->countdown = left - 1;
        return false;
    }
    context->countdown = left > INT32_MIN ? left - 1 : left;
    if (exprPollAbort(context) != 0) return true;
    context->countdown = context->checkInterval;
    return false;
}
}  // namespace

extern "C" int32_t exprEvalNode(ExprContext* context, ExprNode* node, double* result) {
    if (context == nullptr || node == nullptr) return EXPR_ERR_ARGUMENT;
    if (abortRequested(context)) return EXPR_ERR_ABORTED;
    switch (node->kind) {
        case NODE_CONSTANT:
            *result = node->value;
            return EXPR_OK;
        case NODE_VARIABLE:
            *result = *node->valuePtr;
            return EXPR_OK;
        case NODE_CALL:
            if (node->function == nullptr) return EXPR_ERR_INTERNAL;
            return node->function(context, node->args, node->argCount, node->refs, node->refCount, result);
        case NODE_ASSIGN: {
            const int32_t code = exprEvalNode(context, node->child, result);
            if (code != EXPR_OK) return code;
            *node->target = *result;
            return EXPR_OK;
        }
        default:
            return EXPR_ERR_INTERNAL;
    }
}

extern "C" void exprFreeNode(ExprNode* node) {
    if (node == nullptr) return;
    if (node->kind == NODE_CALL) {
        if (node->args != nullptr) {
            for (int32_t i = 0; i < node->argCount; ++i) exprFreeNode(&node->args[i]);
            exprDealloc(node->args);
        }
        exprDealloc(node->refs);
    } else if (node->kind == NODE_ASSIGN && node->child != nullptr) {
        exprFreeNode(node->child);
        exprDealloc(node->child);
    }
}

// ---- Operators ----------------------------------------------------------------------

namespace {
// Evaluates both operands, left first; the first failure ends it.
int32_t evalOperands(ExprContext* context, ExprNode* args, double& left, double& right) {
    int32_t code = exprEvalNode(context, &args[0], &left);
    if (code != EXPR_OK) return code;
    return exprEvalNode(context, &args[1], &right);
}
}  // namespace

#define EXPR_BINARY_OPERATOR(name, op)                                                                   \
    extern "C" int32_t name(ExprContext* context, ExprNode* args, int32_t argCount, double**, int32_t, \
                            double* result) {                                                          \
        if (argCount != 2) return EXPR_ERR_ARG_COUNT;                                                  \
        double left, right;                                                                            \
        const int32_t code = evalOperands(context, args, left, right);                                 \
        if (code != EXPR_OK) return code;                                                              \
        *result = left op right;                                                                       \
        return EXPR_OK;                                                                                \
    }

EXPR_BINARY_OPERATOR(opAdd, +)
EXPR_BINARY_OPERATOR(opSub, -)
EXPR_BINARY_OPERATOR(opMul, *)

extern "C" int32_t opDiv(ExprContext* context, ExprNode* args, int32_t argCount, double**, int32_t, double* result) {
    if (argCount != 2) return EXPR_ERR_ARG_COUNT;
    double left, right;
    const int32_t code = evalOperands(context, args, left, right);
    if (code != EXPR_OK) return code;
    // Zero of either sign and NaN are refused alike: the comparison with 0.0
    // is equal or unordered.
    if (!(right < 0.0 || right > 0.0)) {
        if (!exprZeroOnMathError(context)) return EXPR_ERR_DIVIDE_BY_ZERO;
        *result = 0.0;
        return EXPR_OK;
    }
    *result = left / right;
    return EXPR_OK;
}

extern "C" int32_t opNeg(ExprContext* context, ExprNode* args, int32_t argCount, double**, int32_t, double* result) {
    if (argCount != 1) return EXPR_ERR_ARG_COUNT;
    double operand;
    const int32_t code = exprEvalNode(context, &args[0], &operand);
    if (code != EXPR_OK) return code;
    *result = -operand;
    return EXPR_OK;
}

extern "C" int32_t builtinMany(ExprContext* context, ExprNode* args, int32_t argCount, double**, int32_t,
                               double* result) {
    double value = 0.0;
    for (int32_t i = 0; i < argCount; ++i) {
        const int32_t code = exprEvalNode(context, &args[i], &value);
        if (code != EXPR_OK) return code;
    }
    *result = value;
    return EXPR_OK;
}

// ---- The math-error rule --------------------------------------------------------------

extern "C" int32_t exprMathError(ExprContext* context, double* result) {
    if (!exprZeroOnMathError(context)) return EXPR_ERR_MATH;
    *result = 0.0;
    return EXPR_OK;
}

extern "C" int32_t exprApplyMathRule(ExprContext* context, double value, double* result) {
    const int error = errno;
    *result = value;
    if (error == EDOM) return exprMathError(context, result);
    // A range error whose result is zero or subnormal is an underflow.
    if (error == ERANGE && !(std::fabs(value) < DBL_MIN)) return exprMathError(context, result);
    return EXPR_OK;
}
