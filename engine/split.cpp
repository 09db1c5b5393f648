// The splitting parser. One statement of the prepared text (no blanks, no
// comments, balanced parentheses) is parsed by scanning its range once at
// parenthesis depth 0 for the operator of lowest precedence, splitting it
// there and parsing the parts the same way. Names are resolved while parsing,
// so the finished tree holds addresses and callbacks, never text.
//
// Depth. Texts come from people and are parsed on whatever thread the host
// delivers a pin update on, so the recursion is bounded by EXPR_MAX_DEPTH.
// Each rule receives the level of the node it fills: a statement's top node
// is level 1, and every operand, sign operand (also of "+", which leaves no
// node of its own), argument and assigned value is parsed one level below its
// parent. Each removed pair of enclosing parentheses also counts as a level,
// so that «((…a…))» is bounded too and removing the pairs stays cheap. A range
// that would stand below EXPR_MAX_DEPTH gives EXPR_ERR_SYNTAX.
//
// Time. A range is scanned at most once per level, and ranges at one level do
// not overlap, so a text costs at most EXPR_MAX_DEPTH scans of its length.
// Operator chains, sign runs and assignment chains hand what the first scan
// found down to their operands instead of scanning again, and groups are
// skipped a word at a time. Too deep a range is refused after one scan: its
// leftmost operand lies one level down per depth-0 additive operator, per
// multiplicative operator of the first term and per leading sign or "(", the
// last value of an assignment chain one level down per depth-0 "=", and the
// content of every parenthesis pair at least one level below the pair. When
// one of these already exceeds the levels left, the range is refused before
// its parts are looked at, so its depth error comes before any other error
// inside it.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "internal.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#if defined(__GNUC__)
// Functions that hold a token buffer stay out of the recursive frames, and
// rules with locals of their own stay out of the frame every level has.
#define EXPR_LEAF      __attribute__((noinline))
#define EXPR_OWN_FRAME __attribute__((noinline))
#else
#define EXPR_LEAF
#define EXPR_OWN_FRAME
#endif

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Notes where a failure stands (prepared positions first..last) for the parse
// report and returns its code. Called where a failure is found, never on the
// way back up, so the innermost place is kept; only failures pay for it.
[[gnu::cold]] int32_t failAt(ExprContext* context, int32_t code, int32_t first, int32_t last) {
    context->failFirst = first;
    context->failLast = last >= first ? last : first;
    return code;
}

ExprNode* allocNodes(int32_t count) {
    if (count <= 0 || static_cast<size_t>(count) > SIZE_MAX / sizeof(ExprNode)) return nullptr;
    return static_cast<ExprNode*>(exprAlloc(sizeof(ExprNode) * static_cast<size_t>(count)));
}

// Makes node a call of callback over count fresh, zero-filled argument
// nodes, which it gives; null when memory runs out (node is then untouched).
ExprNode* makeOperatorCall(ExprNode* node, ExprFunction callback, int32_t count) {
    ExprNode* args = allocNodes(count);
    if (args == nullptr) return nullptr;
    node->kind = NODE_CALL;
    node->function = callback;
    node->args = args;
    node->argCount = count;
    return args;
}

double** allocAddresses(int32_t count) {
    if (count <= 0 || static_cast<size_t>(count) > SIZE_MAX / sizeof(double*)) return nullptr;
    return static_cast<double**>(exprAlloc(sizeof(double*) * static_cast<size_t>(count)));
}

// ---- Leaves: copy a token out of the text and resolve it ---------------------

// Copies first..last into buffer (EXPR_MAX_TOKEN + 1 bytes); false when the
// token is longer than EXPR_MAX_TOKEN.
bool copyToken(const char* text, int32_t first, int32_t last, char* buffer) {
    const int32_t length = last >= first ? last - first + 1 : 0;
    if (length > EXPR_MAX_TOKEN) return false;
    std::memcpy(buffer, text + first, static_cast<size_t>(length));
    buffer[length] = '\0';
    return true;
}

// A name that is not a constant: its address in the variable table, created
// there with 0.0 when new. Only the lookup after the insertion decides.
int32_t resolveVariable(ExprContext* context, const char* name, double** address) {
    NameTable* variables = exprVariables(context);
    if (variables == nullptr) return EXPR_ERR_NO_VARIABLES;
    if (exprFindVariable(variables, name, address) == EXPR_OK) return EXPR_OK;
    exprSetVariable(variables, name, 0.0);
    if (exprFindVariable(variables, name, address) == EXPR_OK) return EXPR_OK;
    return EXPR_ERR_MEMORY;
}

bool isConstant(ExprContext* context, const char* name, double** address) {
    NameTable* constants = exprConstants(context);
    return constants != nullptr && exprFindVariable(constants, name, address) == EXPR_OK;
}

// The test every assignment target, function name and reference name passes.
EXPR_LEAF int32_t checkName(const char* text, int32_t first, int32_t last) {
    char name[EXPR_MAX_TOKEN + 1];
    if (!copyToken(text, first, last, name) || !exprIsIdentifier(name)) return EXPR_ERR_TOKEN;
    return EXPR_OK;
}

// A name that is written through (assignment target or reference): never a
// constant, which gives constantCode.
EXPR_LEAF int32_t resolveWritable(ExprContext* context, const char* text, int32_t first, int32_t last,
                                  int32_t constantCode, double** address) {
    char name[EXPR_MAX_TOKEN + 1];
    if (!copyToken(text, first, last, name)) return EXPR_ERR_TOKEN;
    double* constant = nullptr;
    if (isConstant(context, name, &constant)) return constantCode;
    return resolveVariable(context, name, address);
}

struct FunctionInfo {
    ExprFunction function;
    int32_t minArgs, maxArgs, minRefs, maxRefs;
};

EXPR_LEAF int32_t lookupFunction(ExprContext* context, const char* text, int32_t first, int32_t last,
                                 FunctionInfo* info) {
    char name[EXPR_MAX_TOKEN + 1];
    if (!copyToken(text, first, last, name) || !exprIsIdentifier(name)) return EXPR_ERR_TOKEN;
    info->function = nullptr;
    const int32_t code = exprFindFunction(exprFunctions(context), &info->function, name, &info->minArgs, &info->maxArgs,
                                          &info->minRefs, &info->maxRefs);
    if (code == EXPR_ERR_NOT_FOUND || (code == EXPR_OK && info->function == nullptr)) return EXPR_ERR_UNKNOWN_FUNCTION;
    return code;
}

// ---- The scan ---------------------------------------------------------------------
//
// Ranges handed to the scans lie inside the text: exprParseRange checks that
// once per statement, so the scans need no terminator test of their own.

// Word-at-a-time counting of one byte value, for skipping groups. A word is
// as wide as a pointer, so 32-bit builds use 32-bit arithmetic.
using ScanWord = uintptr_t;
constexpr int32_t kWordBytes = static_cast<int32_t>(sizeof(ScanWord));
constexpr ScanWord kEveryByte = ~ScanWord(0) / 255;  // 0x0101...

int32_t countByte(ScanWord word, unsigned char byte) {
    const ScanWord low7 = kEveryByte * 0x7f;
    const ScanWord v = word ^ (kEveryByte * byte);            // zero bytes where equal
    const ScanWord zero = ~(((v & low7) + low7) | v | low7);  // 0x80 in exactly those bytes
    return static_cast<int32_t>(((zero >> 7) * kEveryByte) >> (8 * (kWordBytes - 1)));
}

#if defined(__SSE2__)
int32_t bitCount16(uint32_t x) {
    x = x - ((x >> 1) & 0x5555);
    x = (x & 0x3333) + ((x >> 2) & 0x3333);
    x = (x + (x >> 4)) & 0x0f0f;
    return static_cast<int32_t>((x + (x >> 8)) & 0x1f);
}

// Sixteen bytes at a time while no ")" among them can close the group.
int32_t skipBlocks(const char* text, int32_t i, int32_t last, int32_t* depth, int32_t* deepest) {
    const __m128i open = _mm_set1_epi8('(');
    const __m128i close = _mm_set1_epi8(')');
    while (last - i >= 15) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        const uint32_t closeMask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, close)));
        const int32_t closes = closeMask != 0 ? bitCount16(closeMask) : 0;
        if (*depth - closes <= 0) break;
        const uint32_t openMask = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, open)));
        *depth += (openMask != 0 ? bitCount16(openMask) : 0) - closes;
        if (*depth > *deepest) *deepest = *depth;
        i += 16;
    }
    return i;
}
#endif

// The ")" that closes the "(" at open, or -1 when it is not closed by last.
// *nesting becomes at least the depth reached, the group itself being 1 (a
// lower bound where whole words are skipped). This loop carries most of the
// parsing time: a word whose ")" cannot close the group is skipped whole,
// other bytes are counted branch-free.
int32_t groupEnd(const char* text, int32_t open, int32_t last, int32_t* nesting) {
    int32_t depth = 1;
    int32_t deepest = *nesting > 1 ? *nesting : 1;
    int32_t i = open + 1;
    while (i <= last) {
#if defined(__SSE2__)
        i = skipBlocks(text, i, last, &depth, &deepest);
#endif
        while (last - i >= kWordBytes - 1) {
            ScanWord word;
            std::memcpy(&word, text + i, sizeof word);
            const int32_t closes = countByte(word, ')');
            if (depth - closes <= 0) break;
            depth += countByte(word, '(') - closes;
            deepest = depth > deepest ? depth : deepest;
            i += kWordBytes;
        }
        const int32_t stop = last - i >= kWordBytes - 1 ? i + kWordBytes : last + 1;
        for (; i < stop; ++i) {
            const char c = text[i];
            depth += static_cast<int32_t>(c == '(') - static_cast<int32_t>(c == ')');
            deepest = depth > deepest ? depth : deepest;
            if (depth == 0) {
                *nesting = deepest;
                return i;
            }
        }
    }
    *nesting = deepest;
    return -1;
}

// The items and references of a parenthesised list, should it be a call's.
struct ItemCount {
    int32_t items;
    int32_t refs;
    int32_t code;  // EXPR_ERR_SYNTAX for a depth-0 "&" that does not open its item
    int32_t at;    // where that "&" stands
};

// groupEnd for the first group of a range, counting its list on the way so
// that a call costs no pass of its own. An "&" inside nested parentheses is
// not counted; it is judged where that inner text is parsed.
int32_t groupItems(const char* text, int32_t open, int32_t last, int32_t* nesting, ItemCount* count) {
    int32_t commas = 0, refs = 0, code = EXPR_OK, at = -1;
    int32_t deepest = *nesting > 1 ? *nesting : 1;
    bool itemStart = true;
    for (int32_t i = open + 1; i <= last; ++i) {
        const char c = text[i];
        if (c == '(') {
            int32_t inner = 0;
            i = groupEnd(text, i, last, &inner);
            if (i < 0) break;
            deepest = inner + 1 > deepest ? inner + 1 : deepest;
        } else if (c == ')') {
            *count = ItemCount{i == open + 1 ? 0 : commas + 1, refs, code, at};
            *nesting = deepest;
            return i;
        } else if (c == ',') {
            ++commas;
            itemStart = true;
            continue;
        } else if (c == '&') {
            if (!itemStart && code == EXPR_OK) {
                code = EXPR_ERR_SYNTAX;
                at = i;
            }
            ++refs;
        }
        itemStart = false;
    }
    *nesting = deepest;
    return -1;
}

struct RangeScan {
    int32_t last;                   // where the range ends (an item ends before its ",")
    int32_t openPos;                // first "(" at depth 0
    int32_t closePos;               // the ")" that closes it
    int32_t equalsPos;              // first "=" at depth 0
    int32_t additivePos;            // last binary "+" or "-" at depth 0
    int32_t multiplicativePos;      // last "*" or "/" at depth 0
    int32_t signPos;                // first unary "+" or "-" at depth 0
    int32_t equalsCount;            // "=" at depth 0
    int32_t additiveCount;          // binary "+" and "-" at depth 0
    int32_t leadingMultiplicative;  // "*" and "/" at depth 0 before the first binary "+" or "-"
    int32_t nesting;                // deepest parenthesis depth
    ItemCount call;                 // the list in the first group
};

// One pass over first..last; an argument item (item set) ends early at a
// depth-0 ",". A "+" or "-" is unary at the start of the range, right after
// the range's first depth-0 "=", or right after another depth-0 operator;
// otherwise binary.
EXPR_LEAF int32_t scanRange(const char* text, int32_t first, int32_t last, bool item, RangeScan* scan) {
    RangeScan s{last, -1, -1, -1, -1, -1, -1, 0, 0, 0, 0, {0, 0, EXPR_OK, -1}};
    bool unary = true;
    for (int32_t i = first; i <= last; ++i) {
        switch (text[i]) {
            case '(': {
                const bool firstGroup = s.openPos < 0;
                const int32_t close =
                    firstGroup ? groupItems(text, i, last, &s.nesting, &s.call) : groupEnd(text, i, last, &s.nesting);
                if (close < 0) {
                    scan->last = i;  // the "(" left open
                    return EXPR_ERR_PARENTHESES;
                }
                if (firstGroup) {
                    s.openPos = i;
                    s.closePos = close;
                }
                i = close;
                unary = false;
                break;
            }
            case ')': scan->last = i; return EXPR_ERR_PARENTHESES;
            case ',':
                if (item) {
                    s.last = i - 1;
                    *scan = s;
                    return EXPR_OK;
                }
                unary = false;
                break;
            case '=':
                ++s.equalsCount;
                unary = s.equalsPos < 0;
                if (unary) s.equalsPos = i;
                break;
            case '+':
            case '-':
                if (unary) {
                    if (s.signPos < 0) s.signPos = i;
                } else {
                    s.additivePos = i;
                    ++s.additiveCount;
                }
                unary = true;
                break;
            case '*':
            case '/':
                s.multiplicativePos = i;
                if (s.additiveCount == 0) ++s.leadingMultiplicative;
                unary = true;
                break;
            default: unary = false; break;
        }
    }
    *scan = s;
    return EXPR_OK;
}

// ---- Marking what passes the depth limit (failures only) ------------------------

// The n-th (from 1) byte of first..last outside parentheses that is one of
// bytes, or last when there are fewer.
[[gnu::cold]] int32_t nthOutsideGroups(const char* text, int32_t first, int32_t last, const char* bytes, int64_t n) {
    int32_t depth = 0;
    for (int32_t i = first; i <= last; ++i) {
        const char c = text[i];
        if (c == '(')
            ++depth;
        else if (c == ')')
            --depth;
        else if (depth == 0 && std::strchr(bytes, c) != nullptr && --n <= 0)
            return i;
    }
    return last;
}

// The "(" at which the groups of first..last pass `levels` levels.
[[gnu::cold]] int32_t openingBeyond(const char* text, int32_t first, int32_t last, int64_t levels) {
    int64_t depth = 0;
    for (int32_t i = first; i <= last; ++i) {
        if (text[i] == '(' && ++depth > levels) return i;
        if (text[i] == ')') --depth;
    }
    return first;
}

// Leading signs and "(" of a range: each puts the leftmost operand at least
// one level lower.
int32_t leadingOpeners(const char* text, int32_t first, int32_t last) {
    int32_t i = first;
    while (i <= last && (text[i] == '(' || text[i] == '+' || text[i] == '-')) ++i;
    return i - first;
}

// How many pairs enclose first..last, given that the "(" at first is closed
// by the ")" at last: pair j encloses when the depth stays at j or above
// between them, so the count is the least of the leading "(" run, the
// trailing ")" run and the lowest depth between the two runs. Words that
// cannot bring the depth below the count so far are skipped whole.
EXPR_LEAF int32_t enclosingPairs(const char* text, int32_t first, int32_t last) {
    int32_t opening = 0;
    while (first + opening <= last && text[first + opening] == '(') ++opening;
    int32_t closing = 0;
    while (last - closing >= first && text[last - closing] == ')') ++closing;
    int32_t pairs = opening < closing ? opening : closing;
    int32_t depth = opening;
    const int32_t coreLast = last - closing;
    int32_t i = first + opening;
    while (i <= coreLast && pairs > 1) {
        if (coreLast - i >= kWordBytes - 1) {
            ScanWord word;
            std::memcpy(&word, text + i, sizeof word);
            const int32_t closes = countByte(word, ')');
            if (depth - closes >= pairs) {
                depth += countByte(word, '(') - closes;
                i += kWordBytes;
                continue;
            }
        }
        if (text[i] == '(') {
            ++depth;
        } else if (text[i] == ')') {
            --depth;
            if (depth < pairs) pairs = depth;
        }
        ++i;
    }
    return pairs;
}

// The "(" that opens the ")" at close, searching back to first; -1 if none.
int32_t groupStart(const char* text, int32_t first, int32_t close) {
    int32_t depth = 1;
    for (int32_t i = close - 1; i >= first; --i) {
        const char c = text[i];
        depth += static_cast<int32_t>(c == ')') - static_cast<int32_t>(c == '(');
        if (depth == 0) return i;
    }
    return -1;
}

bool isOperator(char c) {
    return c == '+' || c == '-' || c == '*' || c == '/';
}

// The last depth-0 operator of one precedence in first..last, searched
// backwards, for a range known to hold one and no "=". A "+" or "-" is
// binary unless it stands at first or right after another operator.
int32_t lastOperator(const char* text, int32_t first, int32_t last, bool additive) {
    for (int32_t i = last; i >= first; --i) {
        const char c = text[i];
        if (c == ')') {
            i = groupStart(text, first, i);
            if (i < 0) return -1;
        } else if (additive ? (c == '+' || c == '-') && i > first && !isOperator(text[i - 1])
                            : (c == '*' || c == '/')) {
            return i;  // a "*" or "/" at first is then refused by the binary rule
        }
    }
    return -1;
}

// The end of the item that starts at start: the position before the next
// depth-0 "," or before closePos.
int32_t itemEnd(const char* text, int32_t start, int32_t closePos) {
    int32_t nesting = 0;
    int32_t i = start;
    while (i < closePos && text[i] != ',') {
        if (text[i] == '(') {
            i = groupEnd(text, i, closePos - 1, &nesting);
            if (i < 0) return closePos - 1;
        }
        ++i;
    }
    return i - 1;
}

int32_t parseAt(ExprContext* context, ExprNode* node, const char* text, int32_t first, int32_t last, int32_t level,
                bool item, int32_t* end, RangeScan* known);

int32_t parseRangeAt(ExprContext* context, ExprNode* node, const char* text, int32_t first, int32_t last,
                     int32_t level) {
    return parseAt(context, node, text, first, last, level, false, nullptr, nullptr);
}

int32_t parseChainAt(ExprContext* context, ExprNode* node, const char* text, int32_t first, int32_t last, int32_t level,
                     int32_t operators, bool additive);

// ---- The rules ----------------------------------------------------------------------

// The first depth-0 "=" in first..last, or -1.
int32_t nextEquals(const char* text, int32_t first, int32_t last) {
    int32_t nesting = 0;
    for (int32_t i = first; i <= last; ++i) {
        if (text[i] == '=') return i;
        if (text[i] == '(' && (i = groupEnd(text, i, last, &nesting)) < 0) return -1;
    }
    return -1;
}

/* statement -> name "=" statement
 * When more "=" follow, the value is itself an assignment at the next of
 * them, found without scanning the value again. */
EXPR_OWN_FRAME int32_t exprParseAssignment(ExprContext* context, ExprNode* node, const char* text, int32_t first,
                                           int32_t last, int32_t equalsPos, int32_t level, RangeScan& scan) {
    if (equalsPos <= first || equalsPos >= last) return failAt(context, EXPR_ERR_SYNTAX, equalsPos, equalsPos);
    int32_t code = checkName(text, first, equalsPos - 1);
    if (code != EXPR_OK) return failAt(context, code, first, equalsPos - 1);
    ExprNode* child = allocNodes(1);
    if (child == nullptr) return failAt(context, EXPR_ERR_MEMORY, first, last);
    node->kind = NODE_ASSIGN;
    node->child = child;
    code = resolveWritable(context, text, first, equalsPos - 1, EXPR_ERR_CONST_ASSIGN, &node->target);
    if (code != EXPR_OK) return failAt(context, code, first, equalsPos - 1);
    if (scan.equalsCount > 1) {
        // The scan becomes the value's: only its "=" fields are read there.
        scan.equalsPos = nextEquals(text, equalsPos + 1, last);
        scan.equalsCount -= 1;
        scan.nesting = 0;
        if (scan.equalsPos < 0) return failAt(context, EXPR_ERR_INTERNAL, first, last);
        return parseAt(context, child, text, equalsPos + 1, last, level + 1, false, nullptr, &scan);
    }
    return parseRangeAt(context, child, text, equalsPos + 1, last, level + 1);
}

/* sum -> sum "+" term | sum "-" term;  term -> term "*" factor | term "/" factor
 * The operator is the last of its precedence at depth 0, so chains group to
 * the left. leftOperators is how many more of that precedence stand before
 * it: the left operand then splits at the next of them, found backwards,
 * so that a chain is not scanned again at every level. */
int32_t exprParseBinary(ExprContext* context, ExprNode* node, const char* text, int32_t first, int32_t last,
                        int32_t operatorPos, int32_t level, ExprFunction callback, int32_t leftOperators) {
    if (operatorPos <= first || operatorPos >= last) return failAt(context, EXPR_ERR_SYNTAX, operatorPos, operatorPos);
    ExprNode* operands = makeOperatorCall(node, callback, 2);
    if (operands == nullptr) return failAt(context, EXPR_ERR_MEMORY, first, last);
    const bool additive = callback == opAdd || callback == opSub;
    const int32_t code =
        leftOperators > 0
            ? parseChainAt(context, &operands[0], text, first, operatorPos - 1, level + 1, leftOperators, additive)
            : parseRangeAt(context, &operands[0], text, first, operatorPos - 1, level + 1);
    if (code != EXPR_OK) return code;
    return parseRangeAt(context, &operands[1], text, operatorPos + 1, last, level + 1);
}

// The callback of the operator at text[at], one of "+", "-", "*" and "/".
ExprFunction operatorCallback(char sign) {
    switch (sign) {
        case '+': return opAdd;
        case '-': return opSub;
        case '*': return opMul;
        default: return opDiv;
    }
}

// The left operand of a chain, which holds `operators` more operators of the
// precedence just split and, like the whole range, no "=" at depth 0. The
// scan of the whole range has already checked its depth.
int32_t parseChainAt(ExprContext* context, ExprNode* node, const char* text, int32_t first, int32_t last, int32_t level,
                     int32_t operators, bool additive) {
    if (level > EXPR_MAX_DEPTH) return failAt(context, EXPR_ERR_SYNTAX, first, last);
    const int32_t at = lastOperator(text, first, last, additive);
    if (at < 0) return failAt(context, EXPR_ERR_INTERNAL, first, last);
    return exprParseBinary(context, node, text, first, last, at, level, operatorCallback(text[at]), operators - 1);
}

/* factor -> "+" factor | "-" factor
 * One sign per level: «--x» is a negation of a negation, «+x» is x. The
 * range holds no binary operator, so the operand's scan is the range's own
 * less the sign, and a run of signs is not scanned again at every level. */
EXPR_OWN_FRAME int32_t exprParseSign(ExprContext* context, ExprNode* node, const char* text, int32_t first,
                                     int32_t last, int32_t signPos, int32_t level, RangeScan& scan) {
    if (signPos != first) return failAt(context, EXPR_ERR_INTERNAL, first, last);
    // The scan becomes the operand's.
    scan.signPos = signPos < last && (text[signPos + 1] == '+' || text[signPos + 1] == '-') ? signPos + 1 : -1;
    if (text[signPos] == '+') return parseAt(context, node, text, signPos + 1, last, level + 1, false, nullptr, &scan);
    ExprNode* operand = makeOperatorCall(node, opNeg, 1);
    if (operand == nullptr) return failAt(context, EXPR_ERR_MEMORY, first, last);
    return parseAt(context, operand, text, signPos + 1, last, level + 1, false, nullptr, &scan);
}

bool outside(int32_t count, int32_t low, int32_t high) {
    return (low >= 0 && count < low) || (high >= 0 && count > high);
}

// "&" name: the address of a variable, created with 0.0 when new.
int32_t parseReference(ExprContext* context, const char* text, int32_t first, int32_t last, double** address) {
    const int32_t code = checkName(text, first, last);
    if (code != EXPR_OK) return code;
    return resolveWritable(context, text, first, last, EXPR_ERR_CONST_REF, address);
}

/* primary -> name "(" arguments ")"
 * arguments -> nothing | item { "," item };  item -> "&" name | statement
 * The counts (made by the scan that found the parentheses) are checked
 * against the entry's bounds before any item is parsed. Value arguments and
 * references go to two arrays, each in text order. */
EXPR_OWN_FRAME int32_t exprParseCall(ExprContext* context, ExprNode* node, const char* text, int32_t first,
                                     int32_t last, int32_t openPos, int32_t closePos, const ItemCount& count,
                                     int32_t level) {
    if (exprFunctions(context) == nullptr) return failAt(context, EXPR_ERR_UNKNOWN_FUNCTION, first, openPos - 1);
    if (closePos <= openPos || closePos > last) return failAt(context, EXPR_ERR_SYNTAX, first, last);
    FunctionInfo info;
    int32_t code = lookupFunction(context, text, first, openPos - 1, &info);
    if (code != EXPR_OK) return failAt(context, code, first, openPos - 1);
    if (count.code != EXPR_OK) return failAt(context, count.code, count.at, count.at);

    const int32_t refCount = count.refs;
    const int32_t argCount = count.items - refCount;
    if (outside(argCount, info.minArgs, info.maxArgs) || outside(refCount, info.minRefs, info.maxRefs))
        return failAt(context, EXPR_ERR_ARG_COUNT, first, closePos);

    ExprNode* args = nullptr;
    double** refs = nullptr;
    if (argCount > 0 && (args = allocNodes(argCount)) == nullptr) return failAt(context, EXPR_ERR_MEMORY, first, last);
    if (refCount > 0 && (refs = allocAddresses(refCount)) == nullptr) {
        exprDealloc(args);
        return failAt(context, EXPR_ERR_MEMORY, first, last);
    }
    node->kind = NODE_CALL;
    node->function = info.function;
    node->args = args;
    node->argCount = argCount;
    node->refs = refs;
    node->refCount = refCount;
    if (count.items == 0) return EXPR_OK;

    // Each value item is scanned once, by its own parse, which finds its end.
    int32_t nextArg = 0, nextRef = 0, start = openPos + 1;
    for (;;) {
        int32_t end = closePos - 1;
        if (text[start] == '&') {
            if (nextRef >= refCount) return failAt(context, EXPR_ERR_INTERNAL, start, start);
            end = itemEnd(text, start, closePos);
            code = parseReference(context, text, start + 1, end, &refs[nextRef++]);
            if (code != EXPR_OK) return failAt(context, code, start, end);
        } else {
            if (nextArg >= argCount) return failAt(context, EXPR_ERR_INTERNAL, start, start);
            code = parseAt(context, &args[nextArg++], text, start, closePos - 1, level + 1, true, &end, nullptr);
        }
        if (code != EXPR_OK) return code;
        if (end + 1 >= closePos) return EXPR_OK;
        start = end + 2;
    }
}

/* primary -> name | number
 * Constants first, then variables; a new name becomes a variable with 0.0.
 * Only number literals are folded: constants are read through their address. */
EXPR_LEAF int32_t exprParseAtom(ExprContext* context, ExprNode* node, const char* text, int32_t first, int32_t last) {
    if (last < first) return failAt(context, EXPR_ERR_INTERNAL, first, first);
    char token[EXPR_MAX_TOKEN + 1];
    if (!copyToken(text, first, last, token)) return failAt(context, EXPR_ERR_TOKEN, first, last);
    if (exprIsIdentifier(token)) {
        double* address = nullptr;
        node->kind = NODE_VARIABLE;
        if (isConstant(context, token, &address)) {
            node->valuePtr = address;
            return EXPR_OK;
        }
        const int32_t code = resolveVariable(context, token, &node->valuePtr);
        return code == EXPR_OK ? code : failAt(context, code, first, last);
    }
    if (exprIsNumber(token)) {
        node->kind = NODE_CONSTANT;
        node->value = exprDecimalValue(token);
        return EXPR_OK;
    }
    return failAt(context, EXPR_ERR_TOKEN, first, last);
}

/* statement -> name "=" statement | sum
 * primary -> "(" statement ")"
 * The rule is chosen by the operator of lowest precedence at depth 0:
 * "=", then binary "+" "-", then "*" "/", then a leading sign; a range
 * enclosed in parentheses loses them in this loop, without recursion.
 * An argument item (item set) runs from first to its depth-0 "," or to
 * last, and *end receives where it ends. */
int32_t parseAt(ExprContext* context, ExprNode* node, const char* text, int32_t first, int32_t last, int32_t level,
                bool item, int32_t* end, RangeScan* known) {
    if (level > EXPR_MAX_DEPTH) return failAt(context, EXPR_ERR_SYNTAX, first, last);
    RangeScan own;
    for (;;) {
        // A scan handed down by a sign or an assignment lives in the caller's
        // frame and is not copied.
        RangeScan& scan = known != nullptr ? *known : own;
        known = nullptr;
        if (&scan == &own) {
            const int32_t code = scanRange(text, first, last, item, &own);
            if (code != EXPR_OK) return failAt(context, code, own.last, own.last);
        }
        if (item) *end = scan.last;
        item = false;
        last = scan.last;
        // Nothing where an operand belongs: the operator or "," before it is at fault.
        if (first > last) return failAt(context, EXPR_ERR_SYNTAX, first > 0 ? first - 1 : 0, first > 0 ? first - 1 : 0);

        const int64_t levelsLeft = EXPR_MAX_DEPTH - level;
        if (scan.nesting - 1 > levelsLeft) {
            const int32_t at = openingBeyond(text, first, last, levelsLeft + 1);
            return failAt(context, EXPR_ERR_SYNTAX, at, at);
        }
        if (scan.equalsPos >= 0) {
            if (scan.equalsCount > levelsLeft) {
                const int32_t at = nthOutsideGroups(text, first, last, "=", levelsLeft + 1);
                return failAt(context, EXPR_ERR_SYNTAX, at, at);
            }
            return exprParseAssignment(context, node, text, first, last, scan.equalsPos, level, scan);
        }
        const int64_t leftmostDepth =
            static_cast<int64_t>(scan.additiveCount) + scan.leadingMultiplicative + leadingOpeners(text, first, last);
        if (leftmostDepth > levelsLeft) {
            // Everything left of this operator stands too deep.
            const int32_t at = nthOutsideGroups(text, first, last, "+-*/", leftmostDepth - levelsLeft);
            return failAt(context, EXPR_ERR_SYNTAX, first, at);
        }

        if (scan.additivePos >= 0) {
            const int32_t at = scan.additivePos;
            const int32_t before = scan.additiveCount - 1;
            return exprParseBinary(context, node, text, first, last, at, level, operatorCallback(text[at]), before);
        }
        if (scan.multiplicativePos >= 0) {
            const int32_t at = scan.multiplicativePos;
            const int32_t before = scan.leadingMultiplicative - 1;  // no "+" or "-": all of them
            return exprParseBinary(context, node, text, first, last, at, level, operatorCallback(text[at]), before);
        }
        if (scan.signPos >= 0) return exprParseSign(context, node, text, first, last, scan.signPos, level, scan);
        if (scan.openPos == first) {
            if (scan.closePos == first + 1) return failAt(context, EXPR_ERR_SYNTAX, first, first + 1);
            if (scan.closePos != last) return failAt(context, EXPR_ERR_SYNTAX, scan.closePos + 1, last);
            const int32_t pairs = enclosingPairs(text, first, last);
            if (pairs > levelsLeft) return failAt(context, EXPR_ERR_SYNTAX, first, last);
            level += pairs;
            first += pairs;
            last -= pairs;
            continue;
        }
        if (scan.openPos < 0) return exprParseAtom(context, node, text, first, last);
        if (scan.closePos != last) return failAt(context, EXPR_ERR_SYNTAX, scan.closePos + 1, last);
        return exprParseCall(context, node, text, first, last, scan.openPos, scan.closePos, scan.call, level);
    }
}

}  // namespace

extern "C" int32_t exprParseRange(ExprContext* context, ExprNode* node, const char* text, int32_t first, int32_t last) {
    if (context == nullptr || node == nullptr || text == nullptr) return EXPR_ERR_ARGUMENT;
    if (first > last) return failAt(context, EXPR_ERR_SYNTAX, first, first);
    if (first < 0) return EXPR_ERR_INTERNAL;
    // The scans below trust the range to lie inside the text.
    for (int32_t i = first; i <= last; ++i) {
        if (text[i] == '\0') return failAt(context, EXPR_ERR_SYNTAX, i, i);
    }
    return parseRangeAt(context, node, text, first, last, 1);
}

/* number -> digits [ "." digits ], with at least one digit in all */
extern "C" int32_t exprIsNumber(const char* text) {
    if (text == nullptr) return 0;
    int32_t digits = 0;
    const char* p = text;
    for (; isDigit(*p); ++p) ++digits;
    if (*p == '.') {
        for (++p; isDigit(*p); ++p) ++digits;
    }
    return digits > 0 && *p == '\0' ? 1 : 0;
}
