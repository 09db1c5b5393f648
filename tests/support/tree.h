// Builds expression trees by hand for tests, with the engine's allocator so
// that exprFreeNode releases them as it releases parsed trees.
#pragma once

#include <initializer_list>

#include "engine/expr.h"

namespace quorvel_test {

inline void makeConstant(ExprNode* node, double value) {
    node->kind = NODE_CONSTANT;
    node->value = value;
}

inline void makeVariable(ExprNode* node, double* address) {
    node->kind = NODE_VARIABLE;
    node->valuePtr = address;
}

// Makes node a call with argCount zero-filled argument nodes; returns them.
inline ExprNode* makeCall(ExprNode* node, ExprFunction function, int argCount) {
    node->kind = NODE_CALL;
    node->function = function;
    node->argCount = argCount;
    node->args = argCount > 0 ? static_cast<ExprNode*>(exprAlloc(sizeof(ExprNode) * argCount)) : nullptr;
    return node->args;
}

// A call over constant arguments.
inline void makeCallOf(ExprNode* node, ExprFunction function, std::initializer_list<double> values) {
    ExprNode* args = makeCall(node, function, static_cast<int>(values.size()));
    for (double v : values) makeConstant(args++, v);
}

// Makes node an assignment to target; returns the child to fill.
inline ExprNode* makeAssign(ExprNode* node, double* target) {
    node->kind = NODE_ASSIGN;
    node->target = target;
    node->child = static_cast<ExprNode*>(exprAlloc(sizeof(ExprNode)));
    return node->child;
}

inline ExprNode* newRoot() {
    return static_cast<ExprNode*>(exprAlloc(sizeof(ExprNode)));
}

// Installs a hand-built tree as the context's parsed expression.
inline void adoptTree(ExprContext* context, ExprNode* root) {
    context->root = root;
    context->parsed = 1;
    context->failed = 0;
}

}  // namespace quorvel_test
