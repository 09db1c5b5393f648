#include "result_codes.h"

#include <cstdio>
#include <string>

#include "expr.h"

namespace quorvel::tools {

namespace {

struct CodeText {
    int32_t code;
    const char* name;
    const char* message;
};

// Written for the person who typed the text, as the module uses the engine.
constexpr CodeText kCodes[] = {
    {EXPR_OK, "EXPR_OK", "the text parses"},
    {EXPR_ERR_MEMORY, "EXPR_ERR_MEMORY", "out of memory, or a new name that is not a valid name"},
    {EXPR_ERR_ARGUMENT, "EXPR_ERR_ARGUMENT", "no text was given"},
    {EXPR_ERR_NOT_FOUND, "EXPR_ERR_NOT_FOUND", "a name was not found"},
    {EXPR_ERR_COMMENT, "EXPR_ERR_COMMENT", "a \">\" without its \"<\", or a \"<\" comment that is never closed"},
    {EXPR_ERR_CHARACTER, "EXPR_ERR_CHARACTER", "a character the language does not know, outside a comment"},
    {EXPR_ERR_FAILED, "EXPR_ERR_FAILED", "the text was parsed over a failed one without clearing it"},
    {EXPR_ERR_BUSY, "EXPR_ERR_BUSY", "the text was parsed over a parsed one without clearing it"},
    {EXPR_ERR_EMPTY, "EXPR_ERR_EMPTY", "the text is empty: nothing is left once blanks and comments are removed"},
    {EXPR_ERR_PARENTHESES, "EXPR_ERR_PARENTHESES", "a \")\" without its \"(\", or a \"(\" that is never closed"},
    {EXPR_ERR_SYNTAX, "EXPR_ERR_SYNTAX",
     "a malformed statement: a missing operand, argument or value, an empty statement, a \";\" inside "
     "parentheses, something after a \")\", or nesting deeper than 256 levels"},
    {EXPR_ERR_SEMICOLON, "EXPR_ERR_SEMICOLON", "the last statement is not closed by \";\""},
    {EXPR_ERR_TOKEN, "EXPR_ERR_TOKEN",
     "a malformed name or number (names start with a letter or \"_\", numbers have no exponent), a name or number "
     "longer than 255 characters, or something other than a name before \"=\""},
    {EXPR_ERR_UNKNOWN_FUNCTION, "EXPR_ERR_UNKNOWN_FUNCTION",
     "a call of a function that does not exist (names are case-sensitive)"},
    {EXPR_ERR_ARG_COUNT, "EXPR_ERR_ARG_COUNT",
     "a function is called with too few or too many arguments or &references"},
    {EXPR_ERR_NOT_READY, "EXPR_ERR_NOT_READY", "the text did not parse, so nothing runs and the outputs are silent"},
    {EXPR_ERR_MATH, "EXPR_ERR_MATH", "a math error that is not turned into 0.0: pntchange with two equal positions"},
    {EXPR_ERR_DIVIDE_BY_ZERO, "EXPR_ERR_DIVIDE_BY_ZERO", "division by zero that is not turned into 0.0"},
    {EXPR_ERR_NO_VARIABLES, "EXPR_ERR_NO_VARIABLES", "a variable is needed and there is no variable table"},
    {EXPR_ERR_ABORTED, "EXPR_ERR_ABORTED",
     "the evaluation took too many steps and was stopped (a loop that runs too long or never ends)"},
    {EXPR_ERR_CONST_ASSIGN, "EXPR_ERR_CONST_ASSIGN",
     "an assignment to a constant (time, sample, rate and the M_ constants can only be read)"},
    {EXPR_ERR_CONST_REF, "EXPR_ERR_CONST_REF", "a constant passed as &reference (a seed must be a variable)"},
    {EXPR_ERR_INTERNAL, "EXPR_ERR_INTERNAL", "an internal error of the engine; please report the text"},
};

const CodeText* find(int32_t code) {
    for (const CodeText& entry : kCodes)
        if (entry.code == code) return &entry;
    return nullptr;
}

}  // namespace

const char* resultCodeName(int32_t code) {
    if (const CodeText* entry = find(code)) return entry->name;
    static thread_local char unknown[32];
    std::snprintf(unknown, sizeof unknown, "result code %d", static_cast<int>(code));
    return unknown;
}

const char* resultCodeMessage(int32_t code) {
    const CodeText* entry = find(code);
    return entry ? entry->message : "a result code the engine does not define";
}

std::string resultCodeLine(int32_t code) {
    return std::string(resultCodeName(code)) + " \xE2\x80\x94 " + resultCodeMessage(code);
}

}  // namespace quorvel::tools
