// The operator callbacks (+, -, *, / and negation) and the statement
// sequence (many): what the parser puts into a tree for an operator and for
// a text's statements. The walk and the compiled form run them in place;
// called as callbacks (from a hand-built tree or another callback), they
// run the walk's own code for a call (exprWalkCall).

#include "internal.h"

#define EXPR_WALKED_CALLBACK(name)                                                                     \
    extern "C" int32_t name(ExprContext* context, ExprNode* args, int32_t argCount, double**, int32_t, \
                            double* result) {                                                          \
        return exprWalkCall(context, name, args, argCount, result);                                    \
    }

EXPR_WALKED_CALLBACK(opAdd)
EXPR_WALKED_CALLBACK(opSub)
EXPR_WALKED_CALLBACK(opMul)
EXPR_WALKED_CALLBACK(opDiv)
EXPR_WALKED_CALLBACK(opNeg)
EXPR_WALKED_CALLBACK(builtinMany)

#undef EXPR_WALKED_CALLBACK
