// The command lines of `quorvel render` and `quorvel check`, read into
// options. Reading checks everything that can be checked without touching a
// file, so that bad usage is reported before any work is done.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::tools {

// Exit statuses of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // check: the text does not parse; render: a file, the module or the output failed
inline constexpr int kExitUsage = 2;

struct InputSpec {
    int32_t input = 0;       // 0 ... 5 for u ... z
    bool constant = false;
    float value = 0.0f;      // the constant sample value
    std::string path;        // the WAV file
    int32_t channel = 1;     // 1-based channel of the file
};

struct RenderOptions {
    std::optional<std::string> expr, exprFile, init, initFile;
    std::vector<InputSpec> inputs;
    int32_t rate = 48000;
    std::optional<double> seconds;
    std::optional<int64_t> samples;
    int32_t block = 256;
    std::string output;  // empty: no file
    bool csv = false;
    std::string module;  // empty: quorvel.sem next to the program
    bool help = false;
};

struct CheckOptions {
    std::optional<std::string> text;
    std::optional<std::string> file;  // "-" reads standard input
    bool help = false;
};

// Empty on success, otherwise what is wrong with the command line.
std::string parseRenderArguments(const std::vector<std::string>& args, RenderOptions& options);
std::string parseCheckArguments(const std::vector<std::string>& args, CheckOptions& options);

inline constexpr int64_t kMaxSamples = 2147483647;  // about 12 hours at 48 kHz
inline constexpr int64_t kMaxCsvSamples = 100000;
inline constexpr int32_t kMaxBlock = 65536;
inline constexpr int32_t kMaxRate = 1000000;

const char* renderUsage();
const char* checkUsage();
const char* programUsage();

}  // namespace quorvel::tools
