// The tree-walking evaluator: exprEvalNode, and every callback's way to
// evaluate its arguments.
//
// The walk keeps the abort countdown in a local record rather than in the
// context, evaluates leaf operands without a further call, and runs the
// arithmetic operators and the statement sequence in place. Every other
// callback is called as registered, with the countdown handed back to the
// context around the call, so the node evaluations at which the abort
// callback is polled are exactly those of one exprEvalNode per node.

#include "internal.h"

namespace {
struct Walk {
    ExprContext* context;
    int32_t countdown;
};

// The poll, out of line with the walk's record as its one argument, which
// keeps the calling code of every tick small.
[[gnu::noinline]] int32_t pollNow(Walk* walk) {
    return exprPollAbortNow(walk->context, &walk->countdown);
}

// Counts one node evaluation; true means stop.
inline bool tick(Walk& walk) {
    return exprCountNodeEvaluation<pollNow>(walk.countdown, &walk);
}

int32_t walkNode(Walk& walk, ExprNode* node, double* result);

// One node evaluation of an operand: leaves in place, the rest by walkNode.
inline int32_t walkOperand(Walk& walk, ExprNode* node, double* result) {
    if (node == nullptr) return EXPR_ERR_ARGUMENT;
    if (node->kind == NODE_CONSTANT) {
        if (tick(walk)) return EXPR_ERR_ABORTED;
        *result = node->value;
        return EXPR_OK;
    }
    if (node->kind == NODE_VARIABLE) {
        if (tick(walk)) return EXPR_ERR_ABORTED;
        *result = *node->valuePtr;
        return EXPR_OK;
    }
    return walkNode(walk, node, result);
}

// Both operands, left first; the first failure ends it.
inline int32_t walkOperands(Walk& walk, ExprNode* args, double& left, double& right) {
    const int32_t code = walkOperand(walk, &args[0], &left);
    if (code != EXPR_OK) return code;
    return walkOperand(walk, &args[1], &right);
}

// A registered callback: it sees the countdown in the context.
int32_t callOut(Walk& walk, ExprNode* node, double* result) {
    ExprContext* context = walk.context;
    context->countdown = walk.countdown;
    const int32_t code = node->function(context, node->args, node->argCount, node->refs, node->refCount, result);
    walk.countdown = context->countdown;
    return code;
}

int32_t walkCall(Walk& walk, ExprNode* node, double* result) {
    const ExprFunction function = node->function;
    if (function == nullptr) return EXPR_ERR_INTERNAL;
    const bool binary = function == opMul || function == opAdd || function == opSub || function == opDiv;
    if (binary) {
        if (node->argCount != 2) return EXPR_ERR_ARG_COUNT;
        double left, right;
        const int32_t code = walkOperands(walk, node->args, left, right);
        if (code != EXPR_OK) return code;
        if (function == opMul)
            *result = exprMul(left, right);
        else if (function == opAdd)
            *result = exprAdd(left, right);
        else if (function == opSub)
            *result = left - right;
        else
            return exprDivide(walk.context, left, right, result);
        return EXPR_OK;
    }
    if (function == builtinMany) {
        double value = 0.0;
        for (int32_t i = 0; i < node->argCount; ++i) {
            const int32_t code = walkOperand(walk, &node->args[i], &value);
            if (code != EXPR_OK) return code;
        }
        *result = value;
        return EXPR_OK;
    }
    if (function == opNeg) {
        if (node->argCount != 1) return EXPR_ERR_ARG_COUNT;
        double operand;
        const int32_t code = walkOperand(walk, node->args, &operand);
        if (code != EXPR_OK) return code;
        *result = -operand;
        return EXPR_OK;
    }
    return callOut(walk, node, result);
}

int32_t walkNode(Walk& walk, ExprNode* node, double* result) {
    if (tick(walk)) return EXPR_ERR_ABORTED;
    switch (node->kind) {
        case NODE_CALL: return walkCall(walk, node, result);
        case NODE_ASSIGN: {
            const int32_t code = walkOperand(walk, node->child, result);
            if (code != EXPR_OK) return code;
            *node->target = *result;
            return EXPR_OK;
        }
        case NODE_CONSTANT: *result = node->value; return EXPR_OK;
        case NODE_VARIABLE: *result = *node->valuePtr; return EXPR_OK;
        default: return EXPR_ERR_INTERNAL;
    }
}

// A walk from the context's countdown, which it hands back.
template <typename Step> int32_t walkFrom(ExprContext* context, Step step) {
    Walk walk{context, context->countdown};
    const int32_t code = step(walk);
    context->countdown = walk.countdown;
    return code;
}
}  // namespace

extern "C" int32_t exprEvalNode(ExprContext* context, ExprNode* node, double* result) {
    if (context == nullptr || node == nullptr) return EXPR_ERR_ARGUMENT;
    return walkFrom(context, [&](Walk& walk) { return walkNode(walk, node, result); });
}

extern "C" int32_t exprWalkCall(ExprContext* context, ExprFunction function, ExprNode* args, int32_t argCount,
                                double* result) {
    ExprNode call{};
    call.kind = NODE_CALL;
    call.function = function;
    call.args = args;
    call.argCount = argCount;
    return walkFrom(context, [&](Walk& walk) { return walkCall(walk, &call, result); });
}
