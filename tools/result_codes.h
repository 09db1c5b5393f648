// Names and one-line explanations of the engine's result codes, for people.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel::tools {

// "EXPR_ERR_SEMICOLON" for EXPR_ERR_SEMICOLON; "result code N" for an unknown value.
const char* resultCodeName(int32_t code);
// What the code means and what to do about it, in one line.
const char* resultCodeMessage(int32_t code);
// "EXPR_ERR_SEMICOLON — the last statement is not closed by ";"".
std::string resultCodeLine(int32_t code);

}  // namespace quorvel::tools
