// Files of the source tree (examples/, docs/) read by test programs at run
// time, on every build including Windows under wine.
//
// The tree is found from QUORVEL_SOURCE_DIR when the build defines it, and
// otherwise by walking up from the test program's own directory (every
// build lands in <tree>/build/<name>/bin).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace quorvel_test {

inline bool readWholeFile(const std::string& path, std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    text.clear();
    char chunk[4096];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) text.append(chunk, got);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

inline std::string programDirectory() {
    char path[4096] = {};
#if defined(_WIN32)
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path - 1);
    if (length == 0 || length >= sizeof path - 1) return ".";
#else
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return ".";
    path[length] = '\0';
#endif
    std::string directory(path);
    const std::size_t slash = directory.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : directory.substr(0, slash);
}

// Directories that may be the root of the source tree, most likely first.
inline std::vector<std::string> sourceRootCandidates() {
    std::vector<std::string> roots;
#ifdef QUORVEL_SOURCE_DIR
    std::string configured = QUORVEL_SOURCE_DIR;
#if defined(_WIN32)
    // A Unix path, as a cross build records it, is drive Z: under wine.
    if (!configured.empty() && configured[0] == '/') configured = "Z:" + configured;
#endif
    roots.push_back(configured);
#endif
    std::string directory = programDirectory();
    for (int up = 0; up < 6; ++up) {
        roots.push_back(directory);
        const std::size_t slash = directory.find_last_of("/\\");
        if (slash == std::string::npos || slash == 0) break;
        directory.resize(slash);
    }
    return roots;
}

// The text of a file given relative to the source tree, e.g.
// "examples/sine.expr.txt"; false when no candidate root holds it.
inline bool readSourceFile(const std::string& relative, std::string& text, std::string* found = nullptr) {
    for (const std::string& root : sourceRootCandidates()) {
        const std::string path = root + "/" + relative;
        if (readWholeFile(path, text)) {
            if (found) *found = path;
            return true;
        }
    }
    return false;
}

}  // namespace quorvel_test
