// Parsing entry: the working copy of a text, blanks and comments, the
// expression alphabet and the statement list. The statements themselves are
// parsed by the splitting parser (split.cpp).

#include <climits>
#include <cstdint>
#include <cstring>

#include "internal.h"

namespace {

bool isBlank(unsigned char c) {
    return (c >= 7 && c <= 13) || c == ' ';
}

bool isAlphabet(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '_':
        case '.':
        case '+':
        case '-':
        case '*':
        case '/':
        case '(':
        case ')':
        case '&':
        case ';':
        case ',':
        case '=': return true;
        default: return false;
    }
}

/* Hands keep(offset) the offset of every byte of text that is neither blank
 * nor inside "<" ... ">" (which nest), in order. EXPR_ERR_COMMENT when the
 * brackets do not balance, with *culprit at the ">" that closes nothing or
 * the outermost "<" left open. The one definition of what a text keeps. */
template <class Keep> int32_t forEachKeptByte(const char* text, Keep keep, int32_t* culprit) {
    size_t depth = 0;
    int32_t outermostOpen = -1;
    for (const char* in = text; *in != '\0'; ++in) {
        const unsigned char c = static_cast<unsigned char>(*in);
        if (isBlank(c)) continue;
        if (c == '<') {
            if (depth++ == 0) outermostOpen = static_cast<int32_t>(in - text);
        } else if (c == '>') {
            if (depth == 0) {
                *culprit = static_cast<int32_t>(in - text);
                return EXPR_ERR_COMMENT;
            }
            --depth;
        } else if (depth == 0) {
            keep(in - text);
        }
    }
    *culprit = outermostOpen;
    return depth == 0 ? EXPR_OK : EXPR_ERR_COMMENT;
}

}  // namespace

/* Drops blanks everywhere and everything between "<" and ">", which nest.
 * What stands on both sides of a blank or a comment is joined. */
extern "C" int32_t exprStripText(char* text) {
    if (text == nullptr) return EXPR_ERR_ARGUMENT;
    char* out = text;
    int32_t culprit = -1;
    const int32_t code = forEachKeptByte(
        text, [&](ptrdiff_t at) { *out++ = text[at]; }, &culprit);
    if (code != EXPR_OK) return code;
    *out = '\0';
    return EXPR_OK;
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

// Notes where a failure of the statement list stands, for the parse report.
[[gnu::cold]] int32_t failAt(ExprContext* context, int32_t code, int32_t first, int32_t last, int32_t statement) {
    context->failFirst = first;
    context->failLast = last;
    context->failStatement = statement;
    return code;
}

/* Counts the statements of a prepared text of length n: every ";" closes one,
 * none may be empty, none may stand inside parentheses, and the text must end
 * with ";". */
int32_t countStatements(ExprContext* context, const char* text, int32_t n, int32_t* count) {
    int32_t depth = 0;
    int32_t statements = 0;
    int32_t lastSemicolon = -1;
    int32_t outermostOpen = -1;
    for (int32_t i = 0; i < n; ++i) {
        switch (text[i]) {
            case '(':
                if (depth++ == 0) outermostOpen = i;
                break;
            case ')':
                if (--depth < 0) return failAt(context, EXPR_ERR_PARENTHESES, i, i, statements);
                break;
            case ';':
                if (depth != 0) return failAt(context, EXPR_ERR_SYNTAX, outermostOpen, i, statements);
                if (i == 0 || i == lastSemicolon + 1) return failAt(context, EXPR_ERR_SYNTAX, i, i, statements);
                ++statements;
                lastSemicolon = i;
                break;
            default: break;
        }
    }
    if (depth != 0) return failAt(context, EXPR_ERR_PARENTHESES, outermostOpen, outermostOpen, statements);
    if (lastSemicolon != n - 1) return failAt(context, EXPR_ERR_SEMICOLON, lastSemicolon + 1, n - 1, statements);
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
    int32_t code = countStatements(context, text, n, &count);
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
        code = exprParseRange(context, &statements[k], text, first, i - 1);
        if (code != EXPR_OK) {
            context->failStatement = k;
            return code;
        }
        ++k;
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
    context->failFirst = context->failLast = context->failStatement = -1;
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

// ---- The parse report -----------------------------------------------------------

namespace {

// What the statement-list and splitting parsers noted, in prepared
// positions, turned into offsets of the original text: the kept bytes are
// counted again, by the same definition the preparation used.
void placeInOriginal(const ExprContext* context, const char* text, ExprParseReport* report) {
    int32_t kept = 0, first = -1, last = -1, culprit = -1;
    forEachKeptByte(
        text,
        [&](ptrdiff_t at) {
            if (kept == context->failFirst) first = static_cast<int32_t>(at);
            if (kept == context->failLast) last = static_cast<int32_t>(at);
            ++kept;
        },
        &culprit);
    if (first < 0) return;
    report->offset = first;
    report->length = (last >= first ? last : first) - first + 1;
    report->statement = context->failStatement;
}

// The number of statements closed before an offset of the original text.
int32_t statementAt(const char* text, int32_t offset) {
    int32_t closed = 0, culprit = -1;
    forEachKeptByte(
        text, [&](ptrdiff_t at) { closed += at < offset && text[at] == ';' ? 1 : 0; }, &culprit);
    return closed;
}

// A byte the alphabet refuses, with the continuation bytes of its UTF-8
// sequence, so that "٫" is marked whole.
void placeRefusedCharacter(const char* text, ExprParseReport* report) {
    int32_t found = -1, culprit = -1;
    forEachKeptByte(
        text,
        [&](ptrdiff_t at) {
            if (found < 0 && !isAlphabet(static_cast<unsigned char>(text[at]))) found = static_cast<int32_t>(at);
        },
        &culprit);
    if (found < 0) return;
    int32_t length = 1;
    if (static_cast<unsigned char>(text[found]) >= 0xC0)
        while ((static_cast<unsigned char>(text[found + length]) & 0xC0) == 0x80) ++length;
    report->offset = found;
    report->length = length;
    report->statement = statementAt(text, found);
}

void describeParse(const ExprContext* context, const char* text, int32_t code, ExprParseReport* report) {
    *report = ExprParseReport{code, -1, 0, -1};
    if (code == EXPR_OK || context == nullptr || text == nullptr || code == EXPR_ERR_FAILED || code == EXPR_ERR_BUSY)
        return;
    if (context->failFirst >= 0) {
        placeInOriginal(context, text, report);
        return;
    }
    int32_t culprit = -1;
    switch (code) {
        case EXPR_ERR_EMPTY:
            report->offset = 0;
            report->length = static_cast<int32_t>(std::strlen(text) > INT32_MAX ? INT32_MAX : std::strlen(text));
            break;
        case EXPR_ERR_COMMENT:
            forEachKeptByte(
                text, [](ptrdiff_t) {}, &culprit);
            if (culprit < 0) break;
            report->offset = culprit;
            report->length = 1;
            report->statement = statementAt(text, culprit);
            break;
        case EXPR_ERR_CHARACTER: placeRefusedCharacter(text, report); break;
        default: break;
    }
}

}  // namespace

extern "C" int32_t exprParseWithReport(ExprContext* context, const char* text, ExprParseReport* report) {
    const int32_t code = exprParse(context, text);
    if (report != nullptr) describeParse(context, text, code, report);
    return code;
}
