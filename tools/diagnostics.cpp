#include "diagnostics.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "module_engine.h"
#include "name_tables.h"
#include "pins.h"
#include "result_codes.h"

namespace quorvel::tools {

namespace {

bool isContinuationByte(unsigned char c) {
    return (c & 0xC0) == 0x80;
}
bool isBlank(unsigned char c) {
    return (c >= 7 && c <= 13) || c == ' ';
}
bool isWordByte(unsigned char c) {
    return std::isalnum(c) || c == '_' || c == '.';
}

std::string slice(const std::string& text, int32_t offset, int32_t length) {
    if (offset < 0 || static_cast<std::size_t>(offset) >= text.size()) return "";
    return text.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(std::max(length, 0)));
}

// A piece of a text on one line: a line break shows as "⏎".
std::string oneLine(const std::string& piece) {
    std::string out;
    for (std::size_t i = 0; i < piece.size(); ++i) {
        if (piece[i] == '\r' && i + 1 < piece.size() && piece[i + 1] == '\n') continue;
        if (piece[i] == '\n' || piece[i] == '\r')
            out += "\xE2\x8F\x8E";
        else
            out += piece[i];
    }
    return out;
}

std::string quoted(const std::string& piece) {
    return "\"" + oneLine(piece) + "\"";
}

// ---- The function table ---------------------------------------------------------

struct FunctionRow {
    std::string name;
    int32_t minArgs, maxArgs, minRefs, maxRefs;
};

std::vector<FunctionRow> functionRows(const NameTable* table) {
    std::vector<FunctionRow> rows;
    forEachEntry<FuncEntry>(table, [&](const FuncEntry& f) {
        rows.push_back({f.name, f.minArgs, f.maxArgs, f.minRefs, f.maxRefs});
    });
    return rows;
}

const FunctionRow* findFunction(const std::vector<FunctionRow>& rows, const std::string& name) {
    for (const FunctionRow& row : rows)
        if (row.name == name) return &row;
    return nullptr;
}

std::size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                              std::tolower(static_cast<unsigned char>(b[j - 1]));
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string counted(int32_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// "1", "1 or 2", "1 or more", "any number of".
std::string bounds(int32_t low, int32_t high, const char* one, const char* many) {
    if (high < 0) return std::to_string(low < 0 ? 0 : low) + " or more " + many;
    if (low == high) return counted(low, one, many);
    return std::to_string(low) + " to " + std::to_string(high) + " " + many;
}

std::string takes(const FunctionRow& f) {
    std::string out = f.name + " takes " + bounds(f.minArgs, f.maxArgs, "value", "values");
    if (f.maxRefs != 0) out += " and " + bounds(f.minRefs, f.maxRefs, "&reference", "&references");
    return out;
}

// ---- Hints for a failure -----------------------------------------------------------

// Habits from other languages, by the character the engine refused.
const char* characterHint(const std::string& text, int32_t at) {
    const char c = text[static_cast<std::size_t>(at)];
    const char next = static_cast<std::size_t>(at) + 1 < text.size() ? text[static_cast<std::size_t>(at) + 1] : 0;
    switch (c) {
        case '^': return "there is no power operator: write pow(a, b)";
        case '%': return "there is no remainder operator: write mod(a, b)";
        case '!': return next == '=' ? "write not(equal(a, b)) for a != b" : "write not(x) for !x";
        case '?':
        case ':': return "there is no ?: choice: write if(condition, then, else)";
        case '|': return "write or(a, b) for a || b";
        case '#': return "# starts no comment here: comments are written < like this >";
        case '"':
        case '\'': return "there are no strings: a text holds numbers and names only";
        case '[':
        case ']':
        case '{':
        case '}': return "there are no arrays or blocks: only ( ) group";
        default: break;
    }
    if (static_cast<unsigned char>(c) >= 0x80)
        return "only ASCII letters, digits and _ . + - * / ( ) & ; , = belong to the language (a decimal point is "
               "always \".\")";
    return nullptr;
}

bool looksLikeExponent(const std::string& token) {
    std::size_t i = 0;
    while (i < token.size() && (std::isdigit(static_cast<unsigned char>(token[i])) || token[i] == '.')) ++i;
    if (i == 0 || i >= token.size() || (token[i] != 'e' && token[i] != 'E')) return false;
    ++i;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) ++i;
    return i < token.size() && std::isdigit(static_cast<unsigned char>(token[i]));
}

// The deepest nesting of parentheses, and the most operators or "=" outside
// them, in the statement around an offset: what passes the depth limit.
bool passesDepthLimit(const std::string& text, int32_t offset) {
    std::size_t begin = text.rfind(';', static_cast<std::size_t>(offset));
    begin = begin == std::string::npos ? 0 : begin + 1;
    std::size_t end = text.find(';', static_cast<std::size_t>(offset));
    if (end == std::string::npos) end = text.size();
    int32_t depth = 0, deepest = 0, operators = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const char c = text[i];
        if (c == '(')
            deepest = std::max(deepest, ++depth);
        else if (c == ')')
            --depth;
        else if (depth == 0 && std::strchr("+-*/=", c))
            ++operators;
    }
    return deepest >= EXPR_MAX_DEPTH - 8 || operators >= EXPR_MAX_DEPTH - 8;
}

void warnBracketsInArrows(const std::string& text, std::vector<Remark>& warnings);

// The bytes the parser skips as comments: "<" to its ">", nested; an
// unclosed "<" runs to the end.
std::vector<bool> commentBytes(const std::string& text) {
    std::vector<bool> comment(text.size(), false);
    int32_t depth = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '<') ++depth;
        comment[i] = depth > 0;
        if (text[i] == '>' && depth > 0) --depth;
    }
    return comment;
}

// Byte positions [begin, end) of a text.
struct Span {
    int32_t begin, end;
};

// The statement holding offset: from after the ";" before it to the ";" at
// or after it, or to the end of the text.
Span statementAround(const std::string& text, const std::vector<bool>& comment, int32_t offset) {
    Span span{0, static_cast<int32_t>(text.size())};
    for (int32_t i = 0; i < static_cast<int32_t>(text.size()); ++i) {
        if (text[static_cast<std::size_t>(i)] != ';' || comment[static_cast<std::size_t>(i)]) continue;
        if (i < offset) {
            span.begin = i + 1;
        } else {
            span.end = i;
            break;
        }
    }
    return span;
}

bool isLineBreak(char c) {
    return c == '\n' || c == '\r';
}

// What the hints read past: comments, and from "//" or "--" written as a
// comment to the end of its line.
struct Reading {
    std::vector<bool> comment;
    std::vector<bool> habit;  // inside "//" or "--" meant as a comment
    bool skipped(int32_t i) const { return comment[static_cast<std::size_t>(i)] || habit[static_cast<std::size_t>(i)]; }
    bool significant(const std::string& text, int32_t i) const {
        return !skipped(i) && !isBlank(static_cast<unsigned char>(text[static_cast<std::size_t>(i)]));
    }
};

// Where a "//", or a "--" meant as a comment (at a statement's start, or
// before a blank or the end of a line), first stands in the span, outside
// comments; each such comment is marked to the end of its line. -1 when none.
int32_t markHabitComments(const std::string& text, Span span, const char* mark, Reading& reading) {
    const bool dashes = mark[0] == '-';
    int32_t first = -1;
    bool statementStarted = false;
    for (int32_t i = span.begin; i + 1 < span.end; ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (reading.skipped(i)) continue;
        const bool found = text[at] == mark[0] && text[at + 1] == mark[1];
        const bool asComment = found && (!dashes || !statementStarted || at + 2 >= text.size() ||
                                         isBlank(static_cast<unsigned char>(text[at + 2])));
        if (!asComment) {
            statementStarted |= !isBlank(static_cast<unsigned char>(text[at]));
            continue;
        }
        if (first < 0) first = i;
        for (int32_t k = i; k < span.end && !isLineBreak(text[static_cast<std::size_t>(k)]); ++k)
            reading.habit[static_cast<std::size_t>(k)] = true;
    }
    return first;
}

// Where a ";" seems missing in the span: after a name, number or ")" that
// ends a line, outside parentheses, when the next line goes on with a name,
// a number or "(". The place just after that line's last character; -1 when none.
int32_t missingSemicolon(const std::string& text, const Reading& reading, Span span) {
    int32_t depth = 0, last = -1;
    bool lineBroken = false;
    for (int32_t i = span.begin; i < span.end; ++i) {
        const char c = text[static_cast<std::size_t>(i)];
        if (!reading.skipped(i) && isLineBreak(c)) lineBroken = true;
        if (!reading.significant(text, i)) continue;
        const bool starts = isWordByte(static_cast<unsigned char>(c)) || c == '(';
        const char before = last >= 0 ? text[static_cast<std::size_t>(last)] : 0;
        const bool ended = last >= 0 && (isWordByte(static_cast<unsigned char>(before)) || before == ')');
        if (lineBroken && depth == 0 && starts && ended) return last + 1;
        if (c == '(') ++depth;
        if (c == ')') --depth;
        last = i;
        lineBroken = false;
    }
    return -1;
}

// The significant characters of [begin, end), blanks between them made one space.
std::string readable(const std::string& text, const Reading& reading, int32_t begin, int32_t end) {
    std::string out;
    bool gap = false;
    for (int32_t i = begin; i < end; ++i) {
        if (reading.skipped(i)) continue;
        const char c = text[static_cast<std::size_t>(i)];
        if (isBlank(static_cast<unsigned char>(c))) {
            gap = !out.empty();
            continue;
        }
        if (gap) out += ' ';
        out += c;
        gap = false;
    }
    return out;
}

bool isIdentifier(const std::string& name) {
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0]))) return false;
    return std::all_of(name.begin(), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

// "out1 += 1" (the engine refuses "out1 +" as a name to assign): the way
// to write it, placed at "+=".
std::optional<Remark> compoundAssignmentHint(const std::string& text, const Reading& reading, Span statement,
                                             const ExprParseReport& r) {
    if (r.length < 1 || static_cast<std::size_t>(r.offset) + static_cast<std::size_t>(r.length) > text.size())
        return {};
    int32_t first = statement.begin;
    while (first < statement.end && !reading.significant(text, first)) ++first;
    int32_t op = r.offset + r.length - 1;
    while (op > r.offset && !reading.significant(text, op)) --op;
    int32_t equals = r.offset + r.length;
    while (equals < statement.end && !reading.significant(text, equals)) ++equals;
    if (first != r.offset || equals >= statement.end || text[static_cast<std::size_t>(equals)] != '=') return {};
    const char sign = text[static_cast<std::size_t>(op)];
    const std::string name = readable(text, reading, r.offset, op);
    if (!std::strchr("+-*/", sign) || !isIdentifier(name)) return {};
    std::string value = readable(text, reading, equals + 1, statement.end);
    int32_t depth = 0;
    bool operators = false;
    for (std::size_t i = 1; i < value.size(); ++i) {
        depth += value[i] == '(' ? 1 : value[i] == ')' ? -1 : 0;
        operators |= depth == 0 && std::strchr("+-*/", value[i]) != nullptr && value[i - 1] != '(';
    }
    if (value.empty() || value.size() > 40)
        value = "\xE2\x80\xA6";
    else if (operators && sign != '+')
        value = "(" + value + ")";
    return Remark{std::string("there is no ") + sign + "=: write " + name + " = " + name + " " + sign + " " + value, op,
                  equals - op + 1};
}

// "2u", "0.5 u": a number written before a name, read as one token; the
// product to write instead.
std::string productHint(const std::string& culprit) {
    std::string joined;
    for (char c : culprit)
        if (!isBlank(static_cast<unsigned char>(c))) joined += c;
    std::size_t split = 0, dots = 0;
    while (split < joined.size() && (std::isdigit(static_cast<unsigned char>(joined[split])) || joined[split] == '.'))
        dots += joined[split++] == '.' ? 1 : 0;
    if (split == dots || dots > 1 || !isIdentifier(joined.substr(split))) return "";
    return "a number before a name multiplies nothing: write " + joined.substr(0, split) + " * " + joined.substr(split);
}

// The first "(" in the span still open at its end, and how many are.
std::pair<int32_t, int32_t> unclosedParenthesis(const std::string& text, const Reading& reading, Span span) {
    std::vector<int32_t> open;
    for (int32_t i = span.begin; i < span.end; ++i) {
        if (reading.skipped(i)) continue;
        const char c = text[static_cast<std::size_t>(i)];
        if (c == '(') open.push_back(i);
        if (c == ')' && !open.empty()) open.pop_back();
    }
    return {open.empty() ? -1 : open.front(), static_cast<int32_t>(open.size())};
}

// Hints for what the engine's code says, at the failure's place.
void addCodeHints(const std::string& text, const std::vector<FunctionRow>& functions, const Reading& reading,
                  Span statement, bool semicolonMissing, TextDiagnosis& d) {
    const ExprParseReport& r = d.report;
    const std::string culprit = slice(text, r.offset, r.length);
    auto hint = [&](const std::string& line) { d.hints.push_back({line}); };
    std::vector<Remark> arrows;
    switch (r.code) {
        case EXPR_ERR_CHARACTER:
            if (const char* line = r.offset >= 0 ? characterHint(text, r.offset) : nullptr) hint(line);
            break;
        case EXPR_ERR_COMMENT:
            warnBracketsInArrows(text, arrows);
            for (const Remark& arrow : arrows) hint(arrow.text);
            if (culprit == ">")
                hint("x > 0? write above(x, 0): \">\" only closes a comment, and comments are < like this >");
            else if (culprit == "<")
                hint("x < 0? write below(x, 0): \"<\" opens a comment that runs to its \">\"");
            break;
        case EXPR_ERR_SEMICOLON: hint("end every statement with \";\""); break;
        case EXPR_ERR_TOKEN: {
            // The engine's token ends before a sign: 2.5E-3 is marked as 2.5E.
            const std::string product = productHint(culprit);
            if (looksLikeExponent(culprit + slice(text, r.offset + r.length, 2)))
                hint("numbers have no exponent: write 1000 for 1e3, 0.001 for 1e-3");
            else if (culprit.find("&&") != std::string::npos)
                hint("write and(a, b) for a && b");
            else if (const std::optional<Remark> compound = compoundAssignmentHint(text, reading, statement, r))
                d.hints.push_back(*compound);
            else if (semicolonMissing)
                break;
            else if (!product.empty())
                hint(product);
            else if (!culprit.empty() && std::isdigit(static_cast<unsigned char>(culprit[0])))
                hint("names start with a letter or \"_\"");
            break;
        }
        case EXPR_ERR_SYNTAX: {
            const std::size_t at = static_cast<std::size_t>(std::max(r.offset, 0));
            const auto near = [&](const char* pair) {
                const std::size_t from = at >= 2 ? at - 2 : 0;
                const std::size_t found = text.find(pair, from);
                return found != std::string::npos && found <= at + 2;
            };
            const auto [unclosed, open] = unclosedParenthesis(text, reading, statement);
            if (near("=="))
                hint("write equal(a, b) for a == b");
            else if (near("&&"))
                hint("write and(a, b) for a && b");
            else if (unclosed >= 0 && statement.end < static_cast<int32_t>(text.size()))
                d.hints.push_back(
                    {open == 1 ? "this \"(\" is not closed before the \";\""
                               : "this \"(\" and " + std::to_string(open - 1) + " more are not closed before the \";\"",
                     unclosed, 1});
            else if (r.offset >= 0 && passesDepthLimit(text, r.offset))
                hint("nesting deeper than " + std::to_string(EXPR_MAX_DEPTH) +
                     " levels: split a long sum or chain over several statements (s = s + ...;)");
            break;
        }
        case EXPR_ERR_PARENTHESES:
            if (culprit == "(")
                hint("this \"(\" is never closed");
            else if (culprit == ")")
                hint("this \")\" closes no \"(\"");
            break;
        case EXPR_ERR_UNKNOWN_FUNCTION: {
            std::vector<std::pair<std::size_t, std::string>> near;
            for (const FunctionRow& f : functions) {
                const std::size_t distance = editDistance(culprit, f.name);
                if (distance <= (culprit.size() > 4 ? 2u : 1u)) near.push_back({distance, f.name});
            }
            std::sort(near.begin(), near.end());
            if (!near.empty()) {
                std::string names = near[0].second;
                for (std::size_t k = 1; k < near.size() && k < 3; ++k) names += " or " + near[k].second;
                hint("did you mean " + names + "?");
            } else {
                hint(quoted(culprit) + " is no function (names are case-sensitive); docs/language.md lists all 49");
            }
            break;
        }
        case EXPR_ERR_ARG_COUNT: {
            const std::string name = oneLine(culprit.substr(0, culprit.find('(')));
            if (const FunctionRow* f = findFunction(functions, name)) {
                hint(takes(*f));
                if (f->maxRefs != 0 && culprit.find('&') == std::string::npos)
                    hint(name + " keeps its state in a variable passed as &reference: " + name + "(" +
                         (f->minArgs > 0 ? "low, high, " : "") + "&seed)");
            }
            break;
        }
        case EXPR_ERR_CONST_ASSIGN:
            hint(oneLine(culprit) + " can only be read: time, sample, rate and the M_ constants are set by the module");
            break;
        default: break;
    }
}

// Codes of a statement that went wrong in its middle, where a ";" missing
// at a line's end is the likely cause.
bool failsInsideStatement(int32_t code) {
    switch (code) {
        case EXPR_ERR_SEMICOLON:
        case EXPR_ERR_SYNTAX:
        case EXPR_ERR_TOKEN:
        case EXPR_ERR_PARENTHESES:
        case EXPR_ERR_UNKNOWN_FUNCTION:
        case EXPR_ERR_ARG_COUNT: return true;
        default: return false;
    }
}

// Habits from other languages in the failing statement (comments written
// "//" or "--", a ";" missing at a line's end), placed where they stand,
// then what the code itself suggests.
void addFailureHints(const std::string& text, const std::vector<FunctionRow>& functions, TextDiagnosis& d) {
    const ExprParseReport& r = d.report;
    Reading reading{commentBytes(text), std::vector<bool>(text.size(), false)};
    const bool placed = r.offset >= 0 && static_cast<std::size_t>(r.offset) < text.size();
    const Span statement = placed ? statementAround(text, reading.comment, r.offset) : Span{0, 0};
    int32_t missing = -1;
    if (placed) {
        for (const char* mark : {"//", "--"}) {
            const int32_t at = markHabitComments(text, statement, mark, reading);
            if (at >= 0)
                d.hints.push_back(
                    {std::string(mark) + " starts no comment here: comments are written < like this >", at, 2});
        }
        missing = failsInsideStatement(r.code) ? missingSemicolon(text, reading, statement) : -1;
        if (missing >= 0)
            d.hints.push_back({"a \";\" is missing at the end of line " +
                                   std::to_string(lineColumnOf(text, missing).line) +
                                   ": every statement ends with \";\"",
                               missing, 0});
        // What the engine refused inside a comment of another language is no habit of its own.
        if (reading.habit[static_cast<std::size_t>(r.offset)]) return;
    }
    addCodeHints(text, functions, reading, statement, missing >= 0, d);
}

// ---- Warnings for a text that parses ------------------------------------------------

// Names or numbers the parser reads as one although a blank, a line break or
// a comment stands inside them ("level⏎out1" is levelout1).
void warnJoinedWords(const std::string& text, std::vector<Remark>& warnings) {
    int32_t depth = 0, wordStart = -1, wordEnd = -1;
    bool gap = false, gapInWord = false;
    auto endWord = [&]() {
        if (wordStart >= 0 && gapInWord) {
            std::string joined;
            for (int32_t i = wordStart; i <= wordEnd; ++i)
                if (isWordByte(static_cast<unsigned char>(text[i]))) joined += text[i];
            warnings.push_back({quoted(slice(text, wordStart, wordEnd - wordStart + 1)) +
                                    " is read as one name or number, " + joined +
                                    ": blanks, line breaks and comments do not separate them "
                                    "(a statement ends only at \";\")",
                                wordStart, wordEnd - wordStart + 1});
        }
        wordStart = -1;
        gapInWord = false;
    };
    for (int32_t i = 0; i < static_cast<int32_t>(text.size()); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '<')
            ++depth;
        else if (c == '>' && depth > 0)
            --depth;
        if (c == '<' || c == '>' || depth > 0 || isBlank(c)) {
            gap = true;
            continue;
        }
        if (isWordByte(c)) {
            if (wordStart < 0)
                wordStart = i;
            else if (gap)
                gapInWord = true;
            wordEnd = i;
        } else {
            endWord();
        }
        gap = false;
    }
    endWord();
}

// "->", "=>", ">=" and "<=" in or around a comment: the bracket in them opens
// or closes the comment, which then ends elsewhere than its writer meant.
void warnBracketsInArrows(const std::string& text, std::vector<Remark>& warnings) {
    int32_t depth = 0;
    for (int32_t i = 0; i < static_cast<int32_t>(text.size()); ++i) {
        const char c = text[static_cast<std::size_t>(i)];
        const char before = i > 0 ? text[static_cast<std::size_t>(i) - 1] : 0;
        const char after = static_cast<std::size_t>(i) + 1 < text.size() ? text[static_cast<std::size_t>(i) + 1] : 0;
        if (c == '<') {
            if (depth > 0 && after == '=')
                warnings.push_back({"\"<=\" inside a comment opens a comment nested in it", i, 2});
            ++depth;
        } else if (c == '>' && depth > 0) {
            if (before == '-' || before == '=' || after == '=')
                warnings.push_back({std::string("the \">\" of \"") + (after == '=' ? ">=" : std::string{before, '>'}) +
                                        "\" closes the comment here",
                                    before == '-' || before == '=' ? i - 1 : i, 2});
            --depth;
        }
    }
}

// ---- Which names a parsed tree touches ------------------------------------------------

// The names a tree reads, writes and uses as constants, each list in order of
// first appearance, and all variables in that order.
struct Usage {
    std::vector<std::string> reads, writes, constants, order;
};

class UsageWalk {
public:
    UsageWalk(const NameTable* variables, const NameTable* constants) {
        forEachEntry<VarEntry>(variables, [this](const VarEntry& e) { names_.emplace(&e.value, Name{e.name, false}); });
        forEachEntry<VarEntry>(constants, [this](const VarEntry& e) { names_.emplace(&e.value, Name{e.name, true}); });
    }

    Usage walk(const ExprNode* root) {
        visit(root);
        return std::move(usage_);
    }

private:
    // One record per table entry, found by the value's address: a node costs
    // one lookup of a pointer, never a string comparison.
    struct Name {
        const char* text;
        bool constant;
        bool read = false, written = false, seen = false;
    };

    void visit(const ExprNode* node) {
        // Iterative: trees may be as deep as the parser allows.
        std::vector<const ExprNode*> pending{node};
        while (!pending.empty()) {
            const ExprNode* n = pending.back();
            pending.pop_back();
            if (!n) continue;
            switch (n->kind) {
                case NODE_VARIABLE: note(n->valuePtr, &Name::read, usage_.reads); break;
                case NODE_ASSIGN:
                    pending.push_back(n->child);
                    note(n->target, &Name::written, usage_.writes);
                    break;
                case NODE_CALL:
                    for (int32_t i = 0; i < n->refCount; ++i) {
                        // A generator reads its seed and steps it; randomize only sets it.
                        if (n->function != &builtinRandomize) note(n->refs[i], &Name::read, usage_.reads);
                        note(n->refs[i], &Name::written, usage_.writes);
                    }
                    for (int32_t i = n->argCount - 1; i >= 0; --i) pending.push_back(&n->args[i]);
                    break;
                default: break;
            }
        }
    }

    void note(const double* address, bool Name::*flag, std::vector<std::string>& list) {
        const auto found = names_.find(address);
        if (found == names_.end()) return;
        Name& name = found->second;
        if (name.constant) {
            if (!name.seen) usage_.constants.push_back(name.text);
            name.seen = true;
            return;
        }
        if (!(name.*flag)) list.push_back(name.text);
        name.*flag = true;
        if (!name.seen) usage_.order.push_back(name.text);
        name.seen = true;
    }

    std::unordered_map<const double*, Name> names_;
    Usage usage_;
};

bool isPinVariable(const std::string& name, module::PinRole role) {
    for (const module::PinRow& row : module::kPins)
        if (row.role == role && name == row.name) return true;
    return false;
}

// out4, Out1, OUT2: looks like an output and is none.
bool looksLikeOutput(const std::string& name) {
    if (name.size() < 4 || isPinVariable(name, module::PinRole::Output)) return false;
    std::string lower;
    for (char c : name) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower.rfind("out", 0) == 0 && std::all_of(lower.begin() + 3, lower.end(), [](char c) {
               return std::isdigit(static_cast<unsigned char>(c));
           });
}

std::string outputNames() {
    std::string out;
    for (int32_t k = 0; k < module::kOutputCount; ++k)
        out += (k == 0                          ? ""
                : k + 1 == module::kOutputCount ? " or "
                                                : ", ") +
               std::string(module::kPins[module::pinIndex(module::PinRole::Output, k)].name);
    return out;
}

// Where each word of a text first stands, outside comments (a name joined
// across a blank is not found; its warning says where it is); with
// assigned, only where an "=" follows it.
std::unordered_map<std::string, int32_t> firstOffsets(const std::string& text, bool assigned = false) {
    std::unordered_map<std::string, int32_t> offsets;
    int32_t depth = 0;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '<') ++depth;
        if (c == '>' && depth > 0) --depth;
        if (depth > 0 || !isWordByte(c)) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && isWordByte(static_cast<unsigned char>(text[end]))) ++end;
        std::size_t next = end;
        while (next < text.size() && isBlank(static_cast<unsigned char>(text[next]))) ++next;
        if (!assigned || (next < text.size() && text[next] == '='))
            offsets.emplace(text.substr(i, end - i), static_cast<int32_t>(i));
        i = end;
    }
    return offsets;
}

int32_t offsetIn(const std::unordered_map<std::string, int32_t>& offsets, const std::string& name) {
    const auto found = offsets.find(name);
    return found == offsets.end() ? -1 : found->second;
}

void describeSuccess(const std::string& text, module::ModuleEngine& engine, ExprContext* context,
                     const std::unordered_set<std::string>& boundBefore, TextDiagnosis& d) {
    Usage usage = UsageWalk(engine.variables(), engine.constants()).walk(context->root);
    d.reads = std::move(usage.reads);
    d.writes = std::move(usage.writes);
    d.constants = std::move(usage.constants);
    for (const std::string& name : usage.order)
        if (boundBefore.count(name) == 0) d.creates.push_back(name);
    const auto offsets = firstOffsets(text);
    for (const std::string& name : d.creates)
        if (looksLikeOutput(name))
            d.warnings.push_back(
                {name + " is no output: the outputs are " + outputNames() + " (names are case-sensitive)",
                 offsetIn(offsets, name), static_cast<int32_t>(name.size())});
    warnJoinedWords(text, d.warnings);
    warnBracketsInArrows(text, d.warnings);
    const auto assignments = firstOffsets(text, true);
    for (const std::string& name : d.writes)
        if (isPinVariable(name, module::PinRole::Input)) {
            const int32_t assigned = offsetIn(assignments, name);
            d.notes.push_back({name + " is input " + name +
                                   ": the module sets it from the input at every sample, so it keeps nothing from "
                                   "one sample to the next",
                               assigned >= 0 ? assigned : offsetIn(offsets, name), static_cast<int32_t>(name.size())});
        }
}

std::unordered_set<std::string> variableNames(const NameTable* table) {
    std::unordered_set<std::string> names;
    forEachEntry<VarEntry>(table, [&](const VarEntry& e) { names.insert(e.name); });
    return names;
}

template <typename Entry> std::vector<std::string> entryNames(const NameTable* table) {
    std::vector<std::string> names;
    forEachEntry<Entry>(table, [&](const Entry& e) { names.push_back(e.name); });
    return names;
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// The constant a name was probably meant to be: pi or PI for M_PI, e for
// M_E, Rate for rate; empty when none.
std::string constantLike(const std::string& name, const std::vector<std::string>& constants) {
    for (const std::string& constant : constants)
        if (sameIgnoringCase(name, constant) ||
            (constant.rfind("M_", 0) == 0 && sameIgnoringCase(name, constant.substr(2))))
            return constant;
    return "";
}

// Across both texts: what Expr never assigns to an output, and what is read
// where neither text writes it.
void warnAcrossTexts(const std::string& expr, const std::optional<std::string>& init,
                     const std::vector<std::string>& constants, Diagnosis& diagnosis) {
    for (const TextDiagnosis& d : diagnosis.texts)
        if (d.report.code != EXPR_OK) return;
    TextDiagnosis& exprText = diagnosis.texts.back();
    std::unordered_set<std::string> written;
    for (const TextDiagnosis& d : diagnosis.texts) written.insert(d.writes.begin(), d.writes.end());
    bool assignsOutput = false;
    for (int32_t k = 0; k < module::kOutputCount; ++k)
        assignsOutput |= written.count(module::kPins[module::pinIndex(module::PinRole::Output, k)].name) != 0;
    if (!assignsOutput)
        exprText.warnings.push_back({"the texts never assign " + outputNames() +
                                     ": the outputs keep the values they last had (0 until a text assigns them)"});
    for (TextDiagnosis& d : diagnosis.texts) {
        std::vector<std::string> unwritten;
        for (const std::string& name : d.reads)
            if (written.count(name) == 0 && !isPinVariable(name, module::PinRole::Input) &&
                !isPinVariable(name, module::PinRole::Output))
                unwritten.push_back(name);
        if (unwritten.empty()) continue;
        const auto offsets = firstOffsets(d.label == "Init" ? *init : expr);
        const std::string texts = init ? "Init or Expr" : "Expr";
        for (const std::string& name : unwritten) {
            const std::string constant = constantLike(name, constants);
            d.warnings.push_back({constant.empty() ? name + " is read but never written in " + texts + ": it stays 0" +
                                                         (init ? "" : " (check --init takes a text that sets it)")
                                                   : name + " is no constant but a variable never written in " + texts +
                                                         ", so it stays 0: did you mean " + constant + "?",
                                  offsetIn(offsets, name), static_cast<int32_t>(name.size())});
        }
    }
}

TextDiagnosis diagnoseOne(const std::string& label, const std::string& text, module::ModuleEngine& engine, bool isInit,
                          const std::vector<FunctionRow>& functions) {
    TextDiagnosis d;
    d.label = label;
    const std::unordered_set<std::string> boundBefore = variableNames(engine.variables());
    const char* source = text.c_str();
    isInit ? engine.parseInit(source, &d.report) : engine.parseExpr(source, &d.report);
    ExprContext* context = isInit ? engine.initContext() : engine.exprContext();
    d.statements = context->parsed && context->root ? context->root->argCount : 0;
    if (d.report.code == EXPR_OK)
        describeSuccess(text, engine, context, boundBefore, d);
    else
        addFailureHints(text, functions, d);
    return d;
}

// ---- Formatting -------------------------------------------------------------------------

// The source line holding the offset, and marks under length bytes from it.
std::string underline(const std::string& text, int32_t offset, int32_t length) {
    const std::size_t at = static_cast<std::size_t>(offset);
    std::size_t begin = text.rfind('\n', at == 0 ? 0 : at - 1);
    begin = at == 0 || begin == std::string::npos ? 0 : begin + 1;
    if (at > 0 && text[at - 1] == '\n') begin = at;
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    // At most 60 characters before the culprit and 100 in all.
    std::size_t before = 0;
    for (std::size_t i = begin; i < at; ++i) before += isContinuationByte(static_cast<unsigned char>(text[i])) ? 0 : 1;
    std::string prefix;
    while (before > 60) {
        ++begin;
        while (begin < at && isContinuationByte(static_cast<unsigned char>(text[begin]))) ++begin;
        --before;
        prefix = "\xE2\x80\xA6";
    }
    std::string shown;
    std::size_t chars = 0, marks = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!isContinuationByte(c)) {
            if (++chars > 100) {
                shown += "\xE2\x80\xA6";
                break;
            }
            if (i >= at && i < at + static_cast<std::size_t>(std::max(length, 1))) ++marks;
        }
        shown.push_back(isBlank(c) ? ' ' : static_cast<char>(c));
    }
    const std::size_t pad = before + (prefix.empty() ? 0 : 1);
    return "    " + prefix + shown + "\n    " + std::string(pad, ' ') +
           std::string(std::max<std::size_t>(marks, 1), '^') + "\n";
}

std::string joined(const std::vector<std::string>& names) {
    if (names.empty()) return "(none)";
    std::string out;
    for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
    return out;
}

std::string where(const std::string& text, int32_t offset) {
    const LineColumn at = lineColumnOf(text, offset);
    return "line " + std::to_string(at.line) + ", column " + std::to_string(at.column);
}

// "hint: ", "warning: " or "note: ", its place when it has one, and the
// line with its place marked.
std::string formatRemark(const std::string& text, const char* kind, const Remark& remark) {
    const bool placed = remark.offset >= 0 && static_cast<std::size_t>(remark.offset) <= text.size();
    std::string out = std::string(kind) + ": " + (placed ? where(text, remark.offset) + ": " : "") + remark.text + "\n";
    if (placed) out += underline(text, remark.offset, remark.length);
    return out;
}

std::string formatOne(const std::string& text, const TextDiagnosis& d, bool labelled) {
    const std::string label = labelled ? d.label + ": " : "";
    std::string out;
    if (d.report.code == EXPR_OK) {
        out += label + resultCodeName(EXPR_OK) +
               " \xE2\x80\x94 the text parses: " + counted(d.statements, "statement", "statements") + "\n";
        out += "reads:     " + joined(d.reads) + "\n";
        out += "writes:    " + joined(d.writes) + "\n";
        out += "creates:   " + joined(d.creates) + "\n";
        out += "constants: " + joined(d.constants) + "\n";
    } else {
        out += label + resultCodeLine(d.report.code) + "\n";
        if (d.report.offset >= 0 && static_cast<std::size_t>(d.report.offset) < text.size()) {
            out += where(text, d.report.offset) + ", statement " + std::to_string(d.report.statement + 1) + ": " +
                   quoted(slice(text, d.report.offset, std::min(d.report.length, 60))) + "\n";
            out += underline(text, d.report.offset, d.report.length);
        }
    }
    for (const Remark& hint : d.hints) out += formatRemark(text, "hint", hint);
    for (const Remark& warning : d.warnings) out += formatRemark(text, "warning", warning);
    for (const Remark& note : d.notes) out += formatRemark(text, "note", note);
    return out;
}

// ---- JSON -------------------------------------------------------------------------------

void appendJson(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

void appendRemarks(std::string& out, const char* key, const std::vector<Remark>& remarks) {
    out += std::string(",\"") + key + "\":[";
    for (std::size_t i = 0; i < remarks.size(); ++i) {
        out += i > 0 ? ",{\"text\":" : "{\"text\":";
        appendJson(out, remarks[i].text);
        out += ",\"offset\":" + std::to_string(remarks[i].offset) + ",\"length\":" + std::to_string(remarks[i].length) +
               "}";
    }
    out += "]";
}

void appendText(std::string& out, const TextDiagnosis& d) {
    const ExprParseReport& r = d.report;
    out += "{\"code\":";
    appendJson(out, resultCodeName(r.code));
    out += ",\"offset\":" + std::to_string(r.offset) + ",\"length\":" + std::to_string(r.length) +
           ",\"statement\":" + std::to_string(r.statement);
    appendRemarks(out, "hints", d.hints);
    appendRemarks(out, "warnings", d.warnings);
    appendRemarks(out, "notes", d.notes);
    out += "}";
}

}  // namespace

int32_t Diagnosis::code() const {
    for (const TextDiagnosis& d : texts)
        if (d.report.code != EXPR_OK) return d.report.code;
    return EXPR_OK;
}

Diagnosis diagnose(const std::string& expr, const std::optional<std::string>& init) {
    Diagnosis diagnosis;
    module::ModuleEngine engine;
    if (!engine.ready()) {
        TextDiagnosis failed;
        failed.label = "Expr";
        failed.report = ExprParseReport{EXPR_ERR_MEMORY, -1, 0, -1};
        diagnosis.texts.push_back(failed);
        return diagnosis;
    }
    const std::vector<FunctionRow> functions = functionRows(engine.functions());
    if (init) diagnosis.texts.push_back(diagnoseOne("Init", *init, engine, true, functions));
    diagnosis.texts.push_back(diagnoseOne("Expr", expr, engine, false, functions));
    warnAcrossTexts(expr, init, entryNames<VarEntry>(engine.constants()), diagnosis);
    return diagnosis;
}

std::string formatDiagnosis(const std::string& expr, const std::optional<std::string>& init,
                            const Diagnosis& diagnosis) {
    std::string out;
    for (const TextDiagnosis& d : diagnosis.texts)
        out += formatOne(d.label == "Init" && init ? *init : expr, d, init.has_value());
    return out;
}

std::string diagnosisJson(const Diagnosis& diagnosis) {
    std::string out = "{\"expr\":";
    appendText(out, diagnosis.texts.back());
    out += ",\"init\":";
    if (diagnosis.texts.size() == 2)
        appendText(out, diagnosis.texts.front());
    else
        out += "null";
    return out + "}";
}

LineColumn lineColumnOf(const std::string& text, int32_t offset) {
    LineColumn at{1, 1};
    for (int32_t i = 0; i < offset && static_cast<std::size_t>(i) < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[static_cast<std::size_t>(i)]);
        if (c == '\n') {
            ++at.line;
            at.column = 1;
        } else if (!isContinuationByte(c)) {
            ++at.column;
        }
    }
    return at;
}

}  // namespace quorvel::tools
