// Expression contexts: their life, the accessors of their fields, the
// release of their trees, exprEvaluate, which runs a context's compiled
// program or, without one, walks its tree (walk.cpp), and what a tree
// refers to.

#include "program.h"

// ---- Contexts ---------------------------------------------------------------

extern "C" int32_t exprNewContext(ExprContext** context, NameTable* functions, NameTable* variables,
                                  NameTable* constants, int32_t reserved, AbortCallback abortCallback, void* userData) {
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

extern "C" NameTable* exprFunctions(ExprContext* context) {
    return context ? context->functions : nullptr;
}
extern "C" NameTable* exprVariables(ExprContext* context) {
    return context ? context->variables : nullptr;
}
extern "C" NameTable* exprConstants(ExprContext* context) {
    return context ? context->constants : nullptr;
}
extern "C" void* exprUserData(ExprContext* context) {
    return context ? context->userData : nullptr;
}
extern "C" int32_t exprZeroOnMathError(ExprContext* context) {
    return context ? context->zeroOnMathError : 0;
}

extern "C" void exprSetZeroOnMathError(ExprContext* context, int32_t flag) {
    if (context != nullptr) context->zeroOnMathError = flag;
}

// ---- Evaluation -------------------------------------------------------------------

namespace {
// The machine code of the context's program, or null. Only a successful
// parse attaches a program, and clearing the context drops it: with
// machine code the context is Ready, and the code starts its own countdown.
ExprNativeEntry nativeEntry(const ExprContext* context) {
    const ExprProgram* program = static_cast<const ExprProgram*>(context->program);
    return program != nullptr ? program->native.entry : nullptr;
}
}  // namespace

extern "C" int32_t exprEvaluate(ExprContext* context, double* result) {
    if (context == nullptr || result == nullptr) return EXPR_ERR_ARGUMENT;
    if (const ExprNativeEntry entry = nativeEntry(context)) [[likely]]
        return entry(context, result);
    if (context->failed || !context->parsed || context->root == nullptr) return EXPR_ERR_NOT_READY;
    context->countdown = context->checkInterval;
    if (context->program != nullptr) return exprRunProgram(context, context->program, result);
    return exprEvalNode(context, context->root, result);
}

extern "C" ExprEvaluator exprEvaluator(ExprContext* context) {
    const ExprNativeEntry entry = context != nullptr ? nativeEntry(context) : nullptr;
    return entry != nullptr ? entry : &exprEvaluate;
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

namespace {
bool nodeRefersTo(const ExprNode* node, const double* value) {
    switch (node->kind) {
        case NODE_VARIABLE: return node->valuePtr == value;
        case NODE_ASSIGN: return node->target == value || (node->child != nullptr && nodeRefersTo(node->child, value));
        case NODE_CALL:
            for (int32_t i = 0; node->refs != nullptr && i < node->refCount; ++i)
                if (node->refs[i] == value) return true;
            for (int32_t i = 0; node->args != nullptr && i < node->argCount; ++i)
                if (nodeRefersTo(&node->args[i], value)) return true;
            return false;
        default: return false;
    }
}
}  // namespace

extern "C" int32_t exprRefersToValue(const ExprContext* context, const double* value) {
    return context != nullptr && context->root != nullptr && nodeRefersTo(context->root, value) ? 1 : 0;
}
