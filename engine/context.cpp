// Expression contexts, the tree-walking evaluator, the arithmetic operators
// and the statement sequence.

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

extern "C" void exprAttachProgram(ExprContext* context) {
    exprFreeProgram(context->program);
    context->program = exprCompile(context->root);
}

extern "C" int32_t exprClear(ExprContext* context) {
    if (context == nullptr) return EXPR_OK;
    exprFreeProgram(context->program);
    context->program = nullptr;
    if (context->root == nullptr) return EXPR_OK;
    releaseTree(context->root);
    context->root = nullptr;
    context->parsed = 0;
    context->failed = 0;
    return EXPR_OK;
}

extern "C" int32_t exprFreeContext(ExprContext* context) {
    if (context == nullptr) return EXPR_OK;
    exprFreeProgram(context->program);
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

// ---- Evaluation -------------------------------------------------------------------

extern "C" int32_t exprEvaluate(ExprContext* context, double* result) {
    if (context == nullptr || result == nullptr) return EXPR_ERR_ARGUMENT;
    if (context->failed || !context->parsed || context->root == nullptr) return EXPR_ERR_NOT_READY;
    context->countdown = context->checkInterval;
    if (context->program != nullptr) return exprRunProgram(context, context->program, result);
    return exprEvalNode(context, context->root, result);
}

// The walk keeps the abort countdown in a local record rather than in the
// context, evaluates leaf operands without a further call, and runs the
// arithmetic operators and the statement sequence in place. Every other
// callback is called as registered, with the countdown handed back to the
// context around the call, so the node evaluations at which the abort
// callback is polled are exactly those of one exprEvalNode per node.
namespace {
struct Walk {
    ExprContext* context;
    int32_t countdown;
};

// Counts one node evaluation; true means stop.
inline bool tick(Walk& walk) { return exprCountNodeEvaluation(walk.context, &walk.countdown) != 0; }

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
        if (function == opMul) *result = exprMul(left, right);
        else if (function == opAdd) *result = exprAdd(left, right);
        else if (function == opSub) *result = left - right;
        else return exprDivide(walk.context, left, right, result);
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
        case NODE_CALL:
            return walkCall(walk, node, result);
        case NODE_ASSIGN: {
            const int32_t code = walkOperand(walk, node->child, result);
            if (code != EXPR_OK) return code;
            *node->target = *result;
            return EXPR_OK;
        }
        case NODE_CONSTANT:
            *result = node->value;
            return EXPR_OK;
        case NODE_VARIABLE:
            *result = *node->valuePtr;
            return EXPR_OK;
        default:
            return EXPR_ERR_INTERNAL;
    }
}
}  // namespace

extern "C" int32_t exprEvalNode(ExprContext* context, ExprNode* node, double* result) {
    if (context == nullptr || node == nullptr) return EXPR_ERR_ARGUMENT;
    Walk walk{context, context->countdown};
    const int32_t code = walkNode(walk, node, result);
    context->countdown = walk.countdown;
    return code;
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

// Called as callbacks (from a hand-built tree or another callback), the
// operators and the statement sequence run the walk's own code for a call.
namespace {
int32_t callInPlace(ExprContext* context, ExprFunction function, ExprNode* args, int32_t argCount, double* result) {
    ExprNode call{};
    call.kind = NODE_CALL;
    call.function = function;
    call.args = args;
    call.argCount = argCount;
    Walk walk{context, context->countdown};
    const int32_t code = walkCall(walk, &call, result);
    context->countdown = walk.countdown;
    return code;
}
}  // namespace

#define EXPR_IN_PLACE_CALLBACK(name)                                                                        \
    extern "C" int32_t name(ExprContext* context, ExprNode* args, int32_t argCount, double**, int32_t,    \
                            double* result) {                                                             \
        return callInPlace(context, name, args, argCount, result);                                        \
    }

EXPR_IN_PLACE_CALLBACK(opAdd)
EXPR_IN_PLACE_CALLBACK(opSub)
EXPR_IN_PLACE_CALLBACK(opMul)
EXPR_IN_PLACE_CALLBACK(opDiv)
EXPR_IN_PLACE_CALLBACK(opNeg)
EXPR_IN_PLACE_CALLBACK(builtinMany)
