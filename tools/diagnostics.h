// What `check` (and render, for a text that does not parse) tells people:
// the engine's own report of where a parse failed, a hint when the text
// shows a habit from another language, and warnings for texts that parse
// but probably do not mean what they say. The texts are parsed once each,
// by the module's own engine; everything here is linear in their length.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "expr.h"

namespace quorvel::tools {

// A remark tied to bytes of a text; offset -1 when it has no place.
struct Remark {
    std::string text;
    int32_t offset = -1;
    int32_t length = 0;
};

struct TextDiagnosis {
    std::string label;  // "Expr" or "Init"
    ExprParseReport report{};
    int32_t statements = 0;  // statements closed by ";"
    // For a failure; offset -1: at the failure's own place.
    std::vector<Remark> hints;
    // For a text that parses: what probably is not meant, and what is worth knowing.
    std::vector<Remark> warnings;
    std::vector<Remark> notes;
    // On success: names in order of first appearance.
    std::vector<std::string> reads, writes, creates, constants;
};

struct Diagnosis {
    std::vector<TextDiagnosis> texts;  // Init first when given, then Expr
    // The first failing code, or EXPR_OK when every text parses.
    int32_t code() const;
};

// Parses Init (when given) and then Expr in one engine set up as the module
// sets it up, as the module would parse them.
Diagnosis diagnose(const std::string& expr, const std::optional<std::string>& init = std::nullopt);

// The report for people: per text the code, where (line, column, the line
// with the culprit underlined), a message in plain words, hints and warnings.
std::string formatDiagnosis(const std::string& expr, const std::optional<std::string>& init,
                            const Diagnosis& diagnosis);

// 1-based line and column (in characters) of a byte offset.
struct LineColumn {
    int32_t line;
    int32_t column;
};
LineColumn lineColumnOf(const std::string& text, int32_t offset);

// The diagnosis as JSON, for the playground and `check --json`:
// {"expr": TEXT, "init": TEXT or null}, TEXT being {"code": NAME, "offset",
// "length", "statement" (as the engine reports them), "hints", "warnings",
// "notes": [{"text", "offset", "length"}]}; offsets in bytes.
std::string diagnosisJson(const Diagnosis& diagnosis);

}  // namespace quorvel::tools
