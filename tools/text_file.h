// Texts read from files for the pins, as people's editors write them: what
// the module is given, and notes on what it would not see.
#pragma once

#include <string>
#include <vector>

namespace quorvel::tools {

struct PinText {
    std::string text;                // what the module is given
    std::vector<std::string> notes;  // "note: ..." lines for people
};

// The module is given the text without a leading UTF-8 byte-order mark
// (Windows editors write one, and the language has no such character); text
// after a zero byte stays, but is named, since the module stops reading there.
// `source` names the text in the notes.
PinText preparePinText(const std::string& source, std::string raw);

// Reads a whole file ("-" reads standard input) and prepares it. False with
// *error naming the file when it cannot be read.
bool readPinText(const std::string& path, PinText& out, std::string* error);

}  // namespace quorvel::tools
