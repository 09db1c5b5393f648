// The command line of `quorvel`, read into options. Reading checks everything
// that can be checked without touching a file, so that bad usage is reported
// before any work is done.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::tools {

// Exit statuses of the program.
inline constexpr int kExitOk = 0;
// check: the text does not parse; render: a text does not parse, or a file,
// the module or the output failed.
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// What one --in feeds an input: a constant sample or a channel of a WAV file.
struct InputFeed {
    int32_t input = 0;  // 0 ... module::kInputCount - 1, in the order of the input pins
    bool constant = false;
    float value = 0.0f;   // the constant sample value
    std::string path;     // the WAV file
    int32_t channel = 1;  // 1-based channel of the file
};

struct RenderOptions {
    std::optional<std::string> expr, exprFile, init, initFile;
    std::vector<InputFeed> inputs;
    int32_t rate = 48000;
    std::optional<double> seconds;
    std::optional<int64_t> samples;
    int32_t block = 256;
    std::string output;  // empty: no file
    bool csv = false;
    std::vector<std::string> watches;  // variables printed in the CSV beside the outputs
    std::string module;                // empty: quorvel.sem next to the program
};

struct CheckOptions {
    std::optional<std::string> text;
    std::optional<std::string> file;            // "-" reads standard input
    std::optional<std::string> init, initFile;  // the Init text checked with it
    bool json = false;                          // the diagnosis as the playground reads it
};

enum class Command { None, Render, Check, Help };

struct CommandLine {
    Command command = Command::None;
    RenderOptions render;
    CheckOptions check;
    // Help: what to print on standard output. None: what is wrong, with
    // where to read the options, for standard error.
    std::string message;
};

// Reads the arguments after the program's name.
CommandLine readCommandLine(const std::vector<std::string>& args);

inline constexpr int64_t kMaxSamples = 2147483647;  // about 12 hours at 48 kHz
inline constexpr int64_t kMaxCsvSamples = 100000;
inline constexpr int32_t kMaxBlock = 65536;
inline constexpr int32_t kMaxRate = 1000000;

}  // namespace quorvel::tools
