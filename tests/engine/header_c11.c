/* The interface header must compile as C11: this file is built as C. */
#include "../../engine/expr.h"

int32_t quorvelHeaderIsC11(void);

int32_t quorvelHeaderIsC11(void) {
    ExprNode node = {0};
    node.kind = NODE_CALL;
    node.function = opAdd;
    node.argCount = 2;
    return node.kind == NODE_CALL && EXPR_ERR_INTERNAL == 255 ? 1 : 0;
}
