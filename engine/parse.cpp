// Parsing entry: the working copy of a text, blanks and comments, the
// expression alphabet and the statement list. The statements themselves are
// parsed by the splitting parser (split.cpp).

#include <climits>
#include <cstdint>
#include <cstring>

#include "internal.h"

namespace {

bool isBlank(unsigned char c) { return (c >= 7 && c <= 13) || c == ' '; }

bool isAlphabet(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '_': case '.': case '+': case '-': case '*': case '/':
        case '(': case ')': case '&': case ';': case ',': case '=':
            return true;
        default:
            return false;
    }
}

}  // namespace

/* Drops blanks everywhere and everything between "<" and ">", which nest.
 * What stands on both sides of a blank or a comment is joined. */
extern "C" int32_t exprStripText(char* text) {
    if (text == nullptr) return EXPR_ERR_ARGUMENT;
    size_t depth = 0;
    char* out = text;
    for (const char* in = text; *in != '\0'; ++in) {
        const unsigned char c = static_cast<unsigned char>(*in);
        if (isBlank(c)) continue;
        if (c == '<') {
            ++depth;
        } else if (c == '>') {
            if (depth == 0) return EXPR_ERR_COMMENT;
            --depth;
        } else if (depth == 0) {
            *out++ = *in;
        }
    }
    *out = '\0';
    return depth == 0 ? EXPR_OK : EXPR_ERR_COMMENT;
}

/* Judged by unsigned byte value, so bytes 128 to 255 are refused. */
extern "C" int32_t exprCheckCharacters(const char* text) {
    if (text == nullptr) return EXPR_ERR_ARGUMENT;
    for (const char* p = text; *p != '\0'; ++p) {
        if (!isAlphabet(static_cast<unsigned char>(*p))) return EXPR_ERR_CHARACTER;
    }
    return EXPR_OK;
}

namespace {

/* Counts the statements of a prepared text of length n: every ";" closes one,
 * none may be empty, none may stand inside parentheses, and the text must end
 * with ";". */
int32_t countStatements(const char* text, int32_t n, int32_t* count) {
    int32_t depth = 0;
    int32_t statements = 0;
    int32_t lastSemicolon = -1;
    for (int32_t i = 0; i < n; ++i) {
        switch (text[i]) {
            case '(':
                ++depth;
                break;
            case ')':
                if (--depth < 0) return EXPR_ERR_PARENTHESES;
                break;
            case ';':
                if (depth != 0 || i == 0 || i == lastSemicolon + 1) return EXPR_ERR_SYNTAX;
                ++statements;
                lastSemicolon = i;
                break;
            default:
                break;
        }
    }
    if (depth != 0) return EXPR_ERR_PARENTHESES;
    if (lastSemicolon != n - 1) return EXPR_ERR_SEMICOLON;
    *count = statements;
    return EXPR_OK;
}

}  // namespace

/* The root becomes a call of builtinMany over one node per statement; the
 * array is attached before any statement is parsed, so a failure leaves a
 * well-formed partial tree. */
extern "C" int32_t exprParseStatements(ExprContext* context, ExprNode* root, const char* text) {
    if (context == nullptr || root == nullptr || text == nullptr) return EXPR_ERR_ARGUMENT;
    const size_t length = std::strlen(text);
    if (length > static_cast<size_t>(INT32_MAX)) return EXPR_ERR_MEMORY;  // positions are 32-bit
    const int32_t n = static_cast<int32_t>(length);

    int32_t count = 0;
    int32_t code = countStatements(text, n, &count);
    if (code != EXPR_OK) return code;

    if (static_cast<size_t>(count) > SIZE_MAX / sizeof(ExprNode)) return EXPR_ERR_MEMORY;
    ExprNode* statements = static_cast<ExprNode*>(exprAlloc(sizeof(ExprNode) * static_cast<size_t>(count)));
    if (statements == nullptr) return EXPR_ERR_MEMORY;
    root->kind = NODE_CALL;
    root->function = builtinMany;
    root->args = statements;
    root->argCount = count;

    int32_t first = 0;
    int32_t k = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (text[i] != ';') continue;
        code = exprParseRange(context, &statements[k++], text, first, i - 1);
        if (code != EXPR_OK) return code;
        first = i + 1;
    }
    return EXPR_OK;
}

namespace {

/* Steps that leave the context untouched on failure: the working copy,
 * stripped and checked. On success *copy holds the prepared text. */
int32_t prepareText(const char* text, char** copy) {
    const size_t length = std::strlen(text);
    if (length > static_cast<size_t>(INT32_MAX) - 1) return EXPR_ERR_MEMORY;  // positions are 32-bit
    char* work = static_cast<char*>(exprAlloc(length + 1));
    if (work == nullptr) return EXPR_ERR_MEMORY;
    std::memcpy(work, text, length + 1);
    int32_t code = exprStripText(work);
    if (code == EXPR_OK && work[0] == '\0') code = EXPR_ERR_EMPTY;
    if (code == EXPR_OK) code = exprCheckCharacters(work);
    if (code != EXPR_OK) {
        exprDealloc(work);
        return code;
    }
    *copy = work;
    return EXPR_OK;
}

}  // namespace

extern "C" int32_t exprParse(ExprContext* context, const char* text) {
    if (context == nullptr) return EXPR_ERR_ARGUMENT;
    if (context->failed) return EXPR_ERR_FAILED;
    if (context->parsed) return EXPR_ERR_BUSY;
    if (text == nullptr) return EXPR_ERR_ARGUMENT;
    if (text[0] == '\0') return EXPR_ERR_EMPTY;

    char* prepared = nullptr;
    int32_t code = prepareText(text, &prepared);
    if (code != EXPR_OK) return code;

    ExprNode* root = static_cast<ExprNode*>(exprAlloc(sizeof(ExprNode)));
    if (root == nullptr) {
        exprDealloc(prepared);
        return EXPR_ERR_MEMORY;
    }
    context->root = root;
    code = exprParseStatements(context, root, prepared);
    exprDealloc(prepared);

    context->parsed = code == EXPR_OK ? 1 : 0;
    context->failed = code == EXPR_OK ? 0 : 1;
    // The compiled form only speeds up exprEvaluate; without it (no memory)
    // the tree is walked with the same results.
    if (code == EXPR_OK) exprAttachProgram(context);
    return code;
}
