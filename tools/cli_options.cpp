#include "cli_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace quorvel::tools {

namespace {

constexpr const char* kInputNames = "uvwxyz";

// Walks the arguments; options take their value as the next argument or
// after "=" (--rate=44100).
class ArgumentReader {
public:
    explicit ArgumentReader(const std::vector<std::string>& args) : args_(args) {}

    bool done() const { return next_ >= args_.size(); }

    // The next argument; splits "--name=value" into the name and a pending value.
    std::string take() {
        std::string arg = args_[next_++];
        pending_.reset();
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            const std::size_t equals = arg.find('=');
            if (equals != std::string::npos) {
                pending_ = arg.substr(equals + 1);
                arg.resize(equals);
            }
        }
        return arg;
    }

    // The value of the option just taken; false when there is none.
    bool value(std::string& out) {
        if (pending_) {
            out = *pending_;
            pending_.reset();
            return true;
        }
        if (done()) return false;
        out = args_[next_++];
        return true;
    }

    bool hasPendingValue() const { return pending_.has_value(); }

private:
    const std::vector<std::string>& args_;
    std::size_t next_ = 0;
    std::optional<std::string> pending_;
};

bool parseInteger(const std::string& text, int64_t& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return false;
    out = value;
    return true;
}

bool parseReal(const std::string& text, double& out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value)) return false;
    out = value;
    return true;
}

// "u=0.25", "u=FILE.wav" or "u=FILE.wav:2".
std::string parseInput(const std::string& text, InputSpec& request) {
    const std::size_t equals = text.find('=');
    if (equals != 1 || std::string(kInputNames).find(text[0]) == std::string::npos)
        return "--in takes INPUT=FILE.wav, INPUT=FILE.wav:CHANNEL or INPUT=NUMBER, with INPUT one of u v w x y z (got \"" +
               text + "\")";
    request.input = static_cast<int32_t>(std::string(kInputNames).find(text[0]));
    const std::string source = text.substr(2);
    if (source.empty()) return "--in " + text + ": a file or a number is missing after \"=\"";
    double value = 0.0;
    if (parseReal(source, value)) {
        if (std::fabs(value) > 3.0e38) return "--in " + text + ": the value does not fit an audio sample";
        request.constant = true;
        request.value = static_cast<float>(value);
        return {};
    }
    request.path = source;
    const std::size_t colon = source.rfind(':');
    if (colon != std::string::npos && colon + 1 < source.size() &&
        source.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
        int64_t channel = 0;
        if (!parseInteger(source.substr(colon + 1), channel) || channel < 1 || channel > 65535)
            return "--in " + text + ": the channel must be 1 or more";
        request.path = source.substr(0, colon);
        request.channel = static_cast<int32_t>(channel);
    }
    if (request.path.empty()) return "--in " + text + ": the file name is missing";
    return {};
}

std::string missingValue(const std::string& option) { return option + " needs a value"; }

}  // namespace

std::string parseRenderArguments(const std::vector<std::string>& args, RenderOptions& options) {
    options = {};
    ArgumentReader reader(args);
    bool inputSeen[6] = {};
    while (!reader.done()) {
        const std::string arg = reader.take();
        std::string value;
        const auto wantValue = [&]() { return reader.value(value); };
        if (arg == "-h" || arg == "--help") {
            options.help = true;
            return {};
        } else if (arg == "--expr" || arg == "--expr-file" || arg == "--init" || arg == "--init-file") {
            if (!wantValue()) return missingValue(arg);
            const bool isExpr = arg.compare(0, 6, "--expr") == 0;
            std::optional<std::string>& text = isExpr ? options.expr : options.init;
            std::optional<std::string>& file = isExpr ? options.exprFile : options.initFile;
            if (text || file)
                return isExpr ? "give the Expr text once: --expr TEXT or --expr-file FILE"
                              : "give the Init text once: --init TEXT or --init-file FILE";
            const bool fromFile = arg.size() > 5 && arg.compare(arg.size() - 5, 5, "-file") == 0;
            (fromFile ? file : text) = value;
        } else if (arg == "--in") {
            if (!wantValue()) return missingValue(arg);
            InputSpec request;
            if (std::string problem = parseInput(value, request); !problem.empty()) return problem;
            if (inputSeen[request.input]) return std::string("input ") + kInputNames[request.input] + " is given twice";
            inputSeen[request.input] = true;
            options.inputs.push_back(request);
        } else if (arg == "--rate") {
            int64_t rate = 0;
            if (!wantValue()) return missingValue(arg);
            if (!parseInteger(value, rate) || rate < 1 || rate > kMaxRate)
                return "--rate takes a whole number of samples per second, 1 to " + std::to_string(kMaxRate) +
                       " (got \"" + value + "\")";
            options.rate = static_cast<int32_t>(rate);
        } else if (arg == "--seconds") {
            double seconds = 0.0;
            if (!wantValue()) return missingValue(arg);
            if (!parseReal(value, seconds) || seconds <= 0.0)
                return "--seconds takes a length above 0 (got \"" + value + "\")";
            options.seconds = seconds;
        } else if (arg == "--samples") {
            int64_t samples = 0;
            if (!wantValue()) return missingValue(arg);
            if (!parseInteger(value, samples) || samples < 1 || samples > kMaxSamples)
                return "--samples takes a whole number from 1 to " + std::to_string(kMaxSamples) + " (got \"" + value +
                       "\")";
            options.samples = samples;
        } else if (arg == "--block") {
            int64_t block = 0;
            if (!wantValue()) return missingValue(arg);
            if (!parseInteger(value, block) || block < 1 || block > kMaxBlock)
                return "--block takes a whole number from 1 to " + std::to_string(kMaxBlock) + " (got \"" + value +
                       "\")";
            options.block = static_cast<int32_t>(block);
        } else if (arg == "-o" || arg == "--output") {
            if (!wantValue()) return missingValue(arg);
            if (value.empty()) return arg + " needs a file name";
            options.output = value;
        } else if (arg == "--csv") {
            if (reader.hasPendingValue()) return "--csv takes no value";
            options.csv = true;
        } else if (arg == "--module") {
            if (!wantValue()) return missingValue(arg);
            options.module = value;
        } else {
            return "unknown option \"" + arg + "\"";
        }
    }
    if (!options.expr && !options.exprFile) return "the Expr text is missing: give --expr TEXT or --expr-file FILE";
    if (options.seconds && options.samples) return "give the length once: --seconds or --samples";
    if (options.seconds) {
        const double samples = std::round(*options.seconds * options.rate);
        if (samples < 1.0) return "--seconds is shorter than one sample at this rate";
        if (samples > static_cast<double>(kMaxSamples)) return "--seconds asks for more than 2147483647 samples";
    }
    return {};
}

std::string parseCheckArguments(const std::vector<std::string>& args, CheckOptions& options) {
    options = {};
    bool textsOnly = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!textsOnly && (arg == "-h" || arg == "--help")) {
            options.help = true;
            return {};
        }
        if (!textsOnly && arg == "--") {
            textsOnly = true;
        } else if (!textsOnly && (arg == "-f" || arg == "--file")) {
            if (i + 1 >= args.size()) return arg + " needs a file name";
            if (options.text || options.file) return "give one text: TEXT or -f FILE";
            options.file = args[++i];
        } else if (!textsOnly && arg.size() > 1 && arg[0] == '-' && arg.find_first_of(";=( ") == std::string::npos) {
            return "unknown option \"" + arg + "\" (a text that starts with \"-\" goes after \"--\")";
        } else {
            if (options.text || options.file) return "give one text: TEXT or -f FILE";
            options.text = arg;
        }
    }
    if (!options.text && !options.file) return "the text is missing: give TEXT or -f FILE";
    return {};
}

const char* programUsage() {
    return "usage: quorvel COMMAND [OPTIONS]\n"
           "\n"
           "  quorvel render ...   render an expression through the Quorvel plug-in\n"
           "  quorvel check ...    tell whether a text parses, and where it does not\n"
           "  quorvel help COMMAND show the options of a command\n";
}

const char* renderUsage() {
    return "usage: quorvel render (--expr TEXT | --expr-file FILE) [--init TEXT | --init-file FILE]\n"
           "                      [--in INPUT=FILE.wav[:CHANNEL] | --in INPUT=NUMBER]...\n"
           "                      [--rate HZ] [--seconds S | --samples N] [--block N]\n"
           "                      [-o OUT.wav] [--csv] [--module PATH]\n"
           "\n"
           "Runs the texts in the quorvel.sem plug-in, as a host does, and prints per output\n"
           "its peak, its RMS, how many samples are NaN or infinite and how many a failed\n"
           "evaluation silenced.\n"
           "\n"
           "  --expr TEXT, --expr-file FILE   the Expr text (runs at every sample)\n"
           "  --init TEXT, --init-file FILE   the Init text (runs once, at the first sample)\n"
           "  --in u=FILE.wav[:CHANNEL]       feed input u (or v, w, x, y, z) from a WAV file,\n"
           "                                  channel 1 unless given; silence after its end\n"
           "  --in u=NUMBER                   feed input u a constant sample value\n"
           "  --rate HZ                       sample rate, default 48000; input files must match\n"
           "  --seconds S, --samples N        length; default: the longest input file, else 1 s\n"
           "  --block N                       samples per processing block, default 256\n"
           "  -o OUT.wav                      write out1, out2, out3 as three 32-bit float channels\n"
           "  --csv                           print every sample as CSV on standard output\n"
           "                                  (at most 100000 samples; the figures go to stderr)\n"
           "  --module PATH                   the plug-in to load, default quorvel.sem next to quorvel\n"
           "\n"
           "Exit status: 0 rendered, 1 a file, the module or the output failed, 2 bad usage.\n";
}

const char* checkUsage() {
    return "usage: quorvel check TEXT\n"
           "       quorvel check -f FILE      (-f - reads standard input)\n"
           "\n"
           "Parses the text as the module would and prints the result code with what it\n"
           "means; for a failure which statement failed and where it stands, on success\n"
           "the variables the text reads, writes and creates.\n"
           "\n"
           "Exit status: 0 the text parses, 1 it does not, 2 bad usage or an unreadable file.\n";
}

}  // namespace quorvel::tools
