#include "text_analysis.h"

#include <algorithm>
#include <set>
#include <unordered_map>

#include "expr.h"
#include "module_engine.h"
#include "result_codes.h"

namespace quorvel::tools {

namespace {

bool isBlank(unsigned char c) { return (c >= 7 && c <= 13) || c == 32; }

bool inAlphabet(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
    switch (c) {
        case '_': case '.': case '+': case '-': case '*': case '/':
        case '(': case ')': case '&': case ';': case ',': case '=':
            return true;
        default:
            return false;
    }
}

// The module sees the text as a C string: it ends at the first zero byte.
std::string asModuleSeesIt(const std::string& text) { return text.substr(0, text.find('\0')); }

bool isContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

// The names and value addresses of a variable table, in name order.
struct NamedValue {
    std::string name;
    const double* value;
};

std::vector<NamedValue> tableEntries(NameTable* table) {
    std::vector<NamedValue> entries;
    if (!table) return entries;
    // In-order walk without recursion: a table filled in name order is a list.
    std::vector<VarEntry*> pending;
    VarEntry* entry = static_cast<VarEntry*>(table->root);
    while (entry || !pending.empty()) {
        while (entry) {
            pending.push_back(entry);
            entry = entry->left;
        }
        entry = pending.back();
        pending.pop_back();
        entries.push_back({entry->name, &entry->value});
        entry = entry->right;
    }
    return entries;
}

// ---- Which variables a parsed tree touches -----------------------------------

class UsageWalk {
public:
    UsageWalk(NameTable* variables, NameTable* constants) {
        for (const NamedValue& entry : tableEntries(variables)) names_[entry.value] = {entry.name, false};
        for (const NamedValue& entry : tableEntries(constants)) names_[entry.value] = {entry.name, true};
    }

    void walk(const ExprNode* node) {
        if (!node) return;
        switch (node->kind) {
            case NODE_VARIABLE:
                note(node->valuePtr, reads_);
                break;
            case NODE_ASSIGN:
                note(node->target, writes_);
                walk(node->child);
                break;
            case NODE_CALL:
                for (int32_t i = 0; i < node->argCount; ++i) walk(&node->args[i]);
                for (int32_t i = 0; i < node->refCount; ++i) {
                    // A generator reads its seed and steps it; randomize only sets it.
                    if (node->function != &builtinRandomize) note(node->refs[i], reads_);
                    note(node->refs[i], writes_);
                }
                break;
            default:
                break;
        }
    }

    std::vector<std::string> reads, writes, constants, order;

    void finish() {
        reads = std::move(reads_);
        writes = std::move(writes_);
        constants = std::move(constants_);
        order = std::move(order_);
    }

private:
    struct Name {
        std::string text;
        bool constant;
    };

    void note(const double* address, std::vector<std::string>& list) {
        const auto found = names_.find(address);
        if (found == names_.end()) return;
        const Name& name = found->second;
        std::vector<std::string>& target = name.constant ? constants_ : list;
        if (std::find(target.begin(), target.end(), name.text) == target.end()) target.push_back(name.text);
        if (!name.constant && std::find(order_.begin(), order_.end(), name.text) == order_.end())
            order_.push_back(name.text);
    }

    std::unordered_map<const double*, Name> names_;
    std::vector<std::string> reads_, writes_, constants_, order_;
};

void describeUsage(const std::string& text, ParseReport& report) {
    ModuleEngine fresh;
    std::set<std::string> bound;
    for (const NamedValue& entry : tableEntries(fresh.variables())) bound.insert(entry.name);

    ModuleEngine engine;
    if (engine.parseExpr(text.c_str()) != EXPR_OK) return;
    UsageWalk walk(engine.variables(), engine.constants());
    walk.walk(engine.exprContext()->root);
    walk.finish();
    report.reads = walk.reads;
    report.writes = walk.writes;
    report.constants = walk.constants;
    for (const std::string& name : walk.order)
        if (!bound.count(name)) report.creates.push_back(name);
}

// Statements before a prepared position: the ";" at depth 0 ahead of it.
int32_t statementAt(const std::string& prepared, std::size_t position) {
    int32_t statement = 1;
    int32_t depth = 0;
    for (std::size_t i = 0; i < position && i < prepared.size(); ++i) {
        if (prepared[i] == '(') ++depth;
        if (prepared[i] == ')') --depth;
        if (prepared[i] == ';' && depth <= 0) ++statement;
    }
    return statement;
}

std::size_t preparedPositionOf(const PreparedText& prepared, std::size_t offset) {
    const auto at = std::lower_bound(prepared.origin.begin(), prepared.origin.end(), offset);
    return static_cast<std::size_t>(at - prepared.origin.begin());
}

void markStatement(const PreparedText& prepared, const StatementSpan& span, ParseReport& report) {
    report.statementBegin = prepared.origin[span.first];
    report.statementEnd = prepared.origin[span.last] + 1;
}

// What the character at fault is, for the text-level result codes.
std::string describeFault(int32_t code, const std::string& text, std::size_t offset, const std::string& prepared,
                          std::size_t position) {
    const char c = offset < text.size() ? text[offset] : '\0';
    switch (code) {
        case EXPR_ERR_COMMENT:
            return c == '<' ? "this \"<\" is never closed by \">\"" : "this \">\" has no \"<\" before it";
        case EXPR_ERR_CHARACTER:
            return "this character is not part of the language (put notes inside < >)";
        case EXPR_ERR_PARENTHESES:
            return c == '(' ? "this \"(\" is never closed" : "this \")\" has no \"(\" before it";
        case EXPR_ERR_SYNTAX:
            if (position == 0) return "the text starts with \";\"";
            if (position > 0 && prepared[position - 1] == ';') return "an empty statement: \";\" follows \";\"";
            return "a \";\" inside parentheses: a \")\" is missing before it";
        default:
            return {};
    }
}

}  // namespace

int32_t prepareText(const std::string& original, PreparedText& prepared, std::size_t* offset) {
    const std::string text = asModuleSeesIt(original);
    prepared = {};
    *offset = kNoOffset;
    if (text.empty()) return EXPR_ERR_EMPTY;
    std::vector<std::size_t> openComments;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (isBlank(c)) continue;
        if (c == '<') {
            openComments.push_back(i);
        } else if (c == '>') {
            if (openComments.empty()) {
                *offset = i;
                return EXPR_ERR_COMMENT;
            }
            openComments.pop_back();
        } else if (openComments.empty()) {
            prepared.text.push_back(static_cast<char>(c));
            prepared.origin.push_back(i);
        }
    }
    if (!openComments.empty()) {
        *offset = openComments.front();  // the outermost comment that is never closed
        return EXPR_ERR_COMMENT;
    }
    if (prepared.text.empty()) return EXPR_ERR_EMPTY;
    for (std::size_t i = 0; i < prepared.text.size(); ++i) {
        if (!inAlphabet(static_cast<unsigned char>(prepared.text[i]))) {
            *offset = prepared.origin[i];
            return EXPR_ERR_CHARACTER;
        }
    }
    return EXPR_OK;
}

int32_t splitStatements(const PreparedText& prepared, std::vector<StatementSpan>& spans, std::size_t* position) {
    const std::string& text = prepared.text;
    spans.clear();
    *position = kNoOffset;
    std::vector<std::size_t> open;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '(') open.push_back(i);
        if (c == ')') {
            if (open.empty()) {
                *position = i;
                return EXPR_ERR_PARENTHESES;
            }
            open.pop_back();
        }
        if (c == ';') {
            // Inside parentheses, or closing an empty statement.
            if (!open.empty() || i == start) {
                *position = i;
                return EXPR_ERR_SYNTAX;
            }
            spans.push_back({start, i});
            start = i + 1;
        }
    }
    if (!open.empty()) {
        *position = open.front();
        return EXPR_ERR_PARENTHESES;
    }
    if (start < text.size()) {
        spans.push_back({start, text.size() - 1});
        *position = text.size() - 1;
        return EXPR_ERR_SEMICOLON;
    }
    return EXPR_OK;
}

ParseReport analyseText(const std::string& text) {
    ParseReport report;
    {
        ModuleEngine engine;
        report.code = engine.parseExpr(text.c_str());
    }

    PreparedText prepared;
    std::size_t offset = kNoOffset;
    const int32_t textCode = prepareText(text, prepared, &offset);
    if (textCode != EXPR_OK) {
        if (textCode == report.code && offset != kNoOffset) {
            report.offset = offset;
            report.failedStatement = statementAt(prepared.text, preparedPositionOf(prepared, offset));
            report.detail = describeFault(textCode, text, offset, prepared.text, kNoOffset);
        }
        return report;
    }

    std::vector<StatementSpan> spans;
    std::size_t position = kNoOffset;
    const int32_t splitCode = splitStatements(prepared, spans, &position);
    if (splitCode != EXPR_OK) {
        if (splitCode == report.code) {
            report.offset = prepared.origin[position];
            report.failedStatement = statementAt(prepared.text, position);
            report.detail = describeFault(splitCode, text, report.offset, prepared.text, position);
            if (splitCode == EXPR_ERR_SEMICOLON) {
                report.statementCount = static_cast<int32_t>(spans.size());
                report.failedStatement = report.statementCount;
                report.offset = prepared.origin[spans.back().first];
                markStatement(prepared, spans.back(), report);
            }
        }
        return report;
    }

    report.statementCount = static_cast<int32_t>(spans.size());
    if (report.code == EXPR_OK) {
        describeUsage(text, report);
        return report;
    }
    // The parse stops at the first statement that fails, and a statement
    // fails or parses the same way on its own.
    for (std::size_t k = 0; k < spans.size(); ++k) {
        ModuleEngine engine;
        const StatementSpan& span = spans[k];
        const int32_t code = engine.parseExpr(prepared.text.substr(span.first, span.last - span.first + 1).c_str());
        if (code == EXPR_OK) continue;
        if (code == report.code) {
            report.failedStatement = static_cast<int32_t>(k + 1);
            report.offset = prepared.origin[span.first];
            markStatement(prepared, span, report);
        }
        break;
    }
    return report;
}

LineColumn lineColumnOf(const std::string& text, std::size_t offset) {
    LineColumn at{1, 1};
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            ++at.line;
            at.column = 1;
        } else if (!isContinuationByte(c)) {
            ++at.column;
        }
    }
    return at;
}

std::string oneLine(const std::string& text, std::size_t begin, std::size_t end, std::size_t maxChars) {
    std::string line;
    std::size_t chars = 0;
    bool pendingSpace = false;
    end = std::min(end, text.size());
    for (std::size_t i = begin; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (isBlank(c)) {
            pendingSpace = !line.empty();
            continue;
        }
        if (!isContinuationByte(c)) {
            if (chars + (pendingSpace ? 1 : 0) >= maxChars) return line + "\xE2\x80\xA6";
            if (pendingSpace) {
                line.push_back(' ');
                ++chars;
            }
            pendingSpace = false;
            ++chars;
        }
        line.push_back(static_cast<char>(c));
    }
    return line;
}

namespace {

// The source line holding the offset, and a caret under the character.
std::string pointAt(const std::string& text, std::size_t offset) {
    std::size_t begin = offset;
    while (begin > 0 && text[begin - 1] != '\n') --begin;
    std::size_t end = text.find('\n', offset);
    if (end == std::string::npos) end = text.size();
    // Show at most 60 characters before the fault.
    std::size_t charsBefore = 0;
    for (std::size_t i = begin; i < offset; ++i)
        if (!isContinuationByte(static_cast<unsigned char>(text[i]))) ++charsBefore;
    std::string prefix;
    while (charsBefore > 60) {
        ++begin;
        while (begin < offset && isContinuationByte(static_cast<unsigned char>(text[begin]))) ++begin;
        --charsBefore;
        prefix = "\xE2\x80\xA6";
    }
    std::string shown;
    std::size_t chars = 0;
    for (std::size_t i = begin; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!isContinuationByte(c) && ++chars > 100) {
            shown += "\xE2\x80\xA6";
            break;
        }
        shown.push_back(isBlank(c) ? ' ' : static_cast<char>(c));
    }
    return "    " + prefix + shown + "\n    " + std::string(charsBefore + (prefix.empty() ? 0 : 1), ' ') + "^\n";
}

std::string joined(const std::vector<std::string>& names) {
    if (names.empty()) return "(none)";
    std::string out;
    for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
    return out;
}

}  // namespace

std::string formatReport(const std::string& text, const ParseReport& report) {
    std::string out;
    if (report.code == EXPR_OK) {
        out += std::string(resultCodeName(EXPR_OK)) + " \xE2\x80\x94 the text parses: " +
               std::to_string(report.statementCount) +
               (report.statementCount == 1 ? " statement\n" : " statements\n");
        out += "reads:     " + joined(report.reads) + "\n";
        out += "writes:    " + joined(report.writes) + "\n";
        out += "creates:   " + joined(report.creates) + "\n";
        out += "constants: " + joined(report.constants) + "\n";
        for (const std::string& name : report.writes) {
            if (name.size() == 1 && std::string("uvwxyz").find(name[0]) != std::string::npos)
                out += "note: " + name + " is input " + name +
                       ": the module sets it from the input at every sample, so it keeps nothing from one sample to "
                       "the next\n";
        }
        for (const std::string& name : report.creates) {
            if (std::find(report.writes.begin(), report.writes.end(), name) == report.writes.end())
                out += "note: " + name + " is read but never written here; it stays 0.0 unless the other text (Init "
                       "or Expr) sets it\n";
        }
        return out;
    }
    out += resultCodeLine(report.code) + "\n";
    if (report.offset == kNoOffset) return out;
    const LineColumn at = lineColumnOf(text, report.offset);
    std::string where = "statement " + std::to_string(report.failedStatement);
    if (report.statementCount > 0 && report.code != EXPR_ERR_SEMICOLON)
        where += " of " + std::to_string(report.statementCount);
    where += ", line " + std::to_string(at.line) + ", column " + std::to_string(at.column);
    if (report.statementBegin != kNoOffset) {
        out += where + ": " + oneLine(text, report.statementBegin, report.statementEnd) + "\n";
    } else {
        out += where + (report.detail.empty() ? "" : ": " + report.detail) + "\n" + pointAt(text, report.offset);
    }
    return out;
}

}  // namespace quorvel::tools
