// What `check` tells people about a text: the engine's own parse result,
// which statement failed and where it stands (the engine reports no
// position, so the text is taken apart here the way the parser does), and on
// success the variables the text reads, writes and creates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::tools {

inline constexpr std::size_t kNoOffset = static_cast<std::size_t>(-1);

// The text with blanks and comments removed, and for every character left
// its byte offset in the original.
struct PreparedText {
    std::string text;
    std::vector<std::size_t> origin;
};

// A statement of the prepared text: positions of its first character and of
// its closing ";" (or of its last character when it is not closed).
struct StatementSpan {
    std::size_t first;
    std::size_t last;
};

// Removes blanks and comments and checks the characters, as the parser does.
// Returns EXPR_OK, EXPR_ERR_COMMENT, EXPR_ERR_EMPTY or EXPR_ERR_CHARACTER;
// *offset is the original offset of the character at fault (kNoOffset when
// none: an empty text).
int32_t prepareText(const std::string& original, PreparedText& prepared, std::size_t* offset);

// Splits the prepared text into statements, as the parser does. Returns
// EXPR_OK, EXPR_ERR_PARENTHESES, EXPR_ERR_SYNTAX or EXPR_ERR_SEMICOLON;
// *position is the prepared position at fault. The spans found are kept,
// an unclosed last statement included.
int32_t splitStatements(const PreparedText& prepared, std::vector<StatementSpan>& spans, std::size_t* position);

struct ParseReport {
    int32_t code = 0;                 // what the module's parse gives
    int32_t statementCount = 0;       // statements in the text, an unclosed last one included
    int32_t failedStatement = 0;      // 1-based; 0 when not known or on success
    std::size_t offset = kNoOffset;   // original offset of the character or statement at fault
    std::size_t statementBegin = kNoOffset;  // original byte range of the failed statement
    std::size_t statementEnd = kNoOffset;
    std::string detail;               // what is wrong at the offset, when known
    // On success: names in order of first appearance.
    std::vector<std::string> reads, writes, creates, constants;
};

// Parses the text as the module would (with the engine set up like the
// module's), and finds where a failure stands.
ParseReport analyseText(const std::string& text);

// 1-based line and column (in characters) of a byte offset.
struct LineColumn {
    std::size_t line;
    std::size_t column;
};
LineColumn lineColumnOf(const std::string& text, std::size_t offset);

// The bytes [begin, end) of a text on one line: blanks folded into one space,
// cut to at most maxChars characters with "…".
std::string oneLine(const std::string& text, std::size_t begin, std::size_t end, std::size_t maxChars = 72);

// The whole report for people, as `check` prints it.
std::string formatReport(const std::string& text, const ParseReport& report);

}  // namespace quorvel::tools
