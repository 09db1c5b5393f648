#include "text_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <system_error>

#include "diagnostics.h"

namespace quorvel::tools {

namespace {

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

bool readWhole(const std::string& path, std::string& text, std::string* error) {
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        *error = "cannot read " + path + ": it is a directory";
        return false;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (file.bad()) {
        *error = "cannot read " + path;
        return false;
    }
    return true;
}

std::string zeroByteNote(const std::string& source, const std::string& text, std::size_t zero) {
    const LineColumn at = lineColumnOf(text, static_cast<int32_t>(zero));
    const std::size_t after = text.size() - zero - 1;
    return "note: " + source + ": a zero byte at line " + std::to_string(at.line) + ", column " +
           std::to_string(at.column) + " ends the text for the module, which never sees the " + std::to_string(after) +
           (after == 1 ? " byte" : " bytes") + " after it";
}

}  // namespace

PinText preparePinText(const std::string& source, std::string raw) {
    PinText pin;
    if (raw.compare(0, sizeof kByteOrderMark - 1, kByteOrderMark) == 0) {
        raw.erase(0, sizeof kByteOrderMark - 1);
        pin.notes.push_back("note: " + source + " starts with a UTF-8 byte-order mark; it is skipped, as a host's " +
                            "text pin never holds one");
    }
    if (const std::size_t zero = raw.find('\0'); zero != std::string::npos)
        pin.notes.push_back(zeroByteNote(source, raw, zero));
    pin.text = std::move(raw);
    return pin;
}

bool readPinText(const std::string& path, PinText& out, std::string* error) {
    std::string raw;
    if (!readWhole(path, raw, error)) return false;
    out = preparePinText(path == "-" ? "standard input" : path, std::move(raw));
    return true;
}

}  // namespace quorvel::tools
