#include "render.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <optional>
#include <vector>

#include "expr.h"
#include "module_engine.h"
#include "pin_names.h"
#include "progress.h"
#include "quorvel_host.h"
#include "result_codes.h"
#include "diagnostics.h"
#include "text_file.h"
#include "wav_io.h"

namespace quorvel::tools {

namespace {

// Ends the render with a message and an exit status.
struct Failure {
    std::string message;
    int status = kExitFailed;
};

// One input as the render feeds it.
struct InputSource {
    bool constant = true;
    float value = 0.0f;
    std::vector<float> samples;

    float at(int64_t i) const {
        if (constant) return value;
        return i < static_cast<int64_t>(samples.size()) ? samples[static_cast<std::size_t>(i)] : 0.0f;
    }
};

using InputSources = InputSource[module::kInputCount];

struct Texts {
    std::string expr;
    std::optional<std::string> init;
};

// A text given inline, or read from its file with the file's notes told.
std::string loadText(const std::optional<std::string>& given, const std::optional<std::string>& file, std::FILE* err) {
    if (!file) return *given;
    PinText pin;
    std::string error;
    if (!readPinText(*file, pin, &error)) throw Failure{error};
    for (const std::string& note : pin.notes) std::fprintf(err, "%s\n", note.c_str());
    return pin.text;
}

Texts loadTexts(const RenderOptions& options, std::FILE* err) {
    Texts texts;
    texts.expr = loadText(options.expr, options.exprFile, err);
    if (options.init || options.initFile) texts.init = loadText(options.init, options.initFile, err);
    return texts;
}

// Parses the texts in the engine run beside the plug-in, as the module
// parses them; a text that does not parse ends the render with what
// `check` says about the texts.
void parseTexts(module::ModuleEngine& shadow, const Texts& texts) {
    const bool initFails = texts.init && shadow.parseInit(texts.init->c_str()) != EXPR_OK;
    const bool exprFails = shadow.parseExpr(texts.expr.c_str()) != EXPR_OK;
    if (!initFails && !exprFails) return;
    const std::string which = initFails && exprFails ? "Init and Expr do" : initFails ? "Init does" : "Expr does";
    const std::string report = formatDiagnosis(texts.expr, texts.init, diagnose(texts.expr, texts.init));
    throw Failure{which + " not parse, so nothing is rendered (a host would " +
                  (exprFails ? "play silence" : "run no Init") + "):\n" + report.substr(0, report.size() - 1)};
}

// A variable or constant printed in the CSV.
struct Watch {
    std::string name;
    const double* value;
};

// Looked up after parsing, so that names the texts create are there.
std::vector<Watch> findWatches(const module::ModuleEngine& shadow, const std::vector<std::string>& names) {
    std::vector<Watch> watches;
    for (const std::string& name : names) {
        double* value = nullptr;
        if (exprFindVariable(shadow.variables(), name.c_str(), &value) != EXPR_OK &&
            exprFindVariable(shadow.constants(), name.c_str(), &value) != EXPR_OK)
            throw Failure{"--watch " + name + ": the texts have no variable or constant " + name +
                              " (a variable exists once a text names it; names are case-sensitive)",
                          kExitUsage};
        watches.push_back({name, value});
    }
    return watches;
}

void loadInputs(const RenderOptions& options, InputSources& sources) {
    for (const InputFeed& request : options.inputs) {
        InputSource& source = sources[request.input];
        if (request.constant) {
            source.value = request.value;
            continue;
        }
        WavChannel channel;
        std::string error;
        const std::string input = std::string("input ") + inputName(request.input) + ": ";
        if (!readWavChannel(request.path, request.channel, channel, &error)) throw Failure{input + error};
        if (channel.rate != options.rate)
            throw Failure{input + request.path + " has a sample rate of " + std::to_string(channel.rate) +
                          " Hz, but the render runs at " + std::to_string(options.rate) + " Hz (give --rate " +
                          std::to_string(channel.rate) + ", or resample the file)"};
        if (channel.samples.empty()) throw Failure{input + request.path + " holds no samples"};
        source.constant = false;
        source.samples = std::move(channel.samples);
    }
}

int64_t renderLength(const RenderOptions& options, const InputSources& sources) {
    if (options.samples) return *options.samples;
    if (options.seconds) return static_cast<int64_t>(std::llround(*options.seconds * options.rate));
    int64_t longest = 0;
    for (const InputSource& source : sources)
        if (!source.constant) longest = std::max<int64_t>(longest, static_cast<int64_t>(source.samples.size()));
    return longest > 0 ? longest : options.rate;
}

std::string modulePath(const RenderOptions& options) {
    return options.module.empty() ? host::moduleNextToExecutable() : options.module;
}

// The plug-in, loaded and opened with its texts, as a host sets it up.
struct PlugIn {
    std::unique_ptr<host::Library> library;
    std::unique_ptr<host::Instance> instance;  // declared after: destroyed before its library
};

PlugIn loadPlugIn(const RenderOptions& options, const Texts& texts) {
    PlugIn plugIn;
    const std::string path = modulePath(options);
    std::string error;
    plugIn.library = host::Library::load(path, &error);
    if (!plugIn.library) throw Failure{"cannot load the plug-in " + path + ": " + error};
    plugIn.instance = host::Instance::create(*plugIn.library);
    if (!plugIn.instance) throw Failure{"the plug-in " + path + " made no module instance"};
    host::Instance& instance = *plugIn.instance;
    instance.setSampleRate(static_cast<float>(options.rate));
    instance.setBlockSize(options.block);
    instance.open();
    for (const module::PinRow& row : module::kPins)
        if (instance.findPin(row.name) < 0)
            throw Failure{path + " is not the Quorvel module: it has no pin " + row.name};
    if (texts.init) instance.setText(module::kInitPin, *texts.init);
    instance.setText(module::kExprPin, texts.expr);
    return plugIn;
}

bool sameSample(float a, float b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

// ---- CSV ------------------------------------------------------------------------------

void printCsvHeader(std::FILE* out, const std::vector<Watch>& watches) {
    std::string header = "sample,time";
    for (int32_t k = 0; k < module::kOutputCount; ++k) header += std::string(",") + outputName(k);
    for (const Watch& watch : watches) header += "," + watch.name;
    std::fprintf(out, "%s\n", header.c_str());
}

// NaN without the sign the C library may print for it.
std::string csvNumber(double value) {
    if (std::isnan(value)) return "nan";
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

// The shortest text that reads back as the same double.
std::string csvDouble(double value) {
    if (std::isnan(value)) return "nan";
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

void printCsvRow(std::FILE* out, int64_t n, int32_t rate, const float* outputs, const std::vector<Watch>& watches) {
    std::string row = std::to_string(n) + "," + csvNumber(static_cast<double>(n) / rate);
    for (int32_t k = 0; k < module::kOutputCount; ++k) row += "," + csvNumber(outputs[k]);
    for (const Watch& watch : watches) row += "," + csvDouble(*watch.value);
    std::fprintf(out, "%s\n", row.c_str());
}

// ---- Rendering ------------------------------------------------------------------------

// Where the samples go besides the figures.
struct Sinks {
    WavWriter* writer = nullptr;  // null: no file
    std::FILE* csv = nullptr;     // null: no CSV
    std::vector<Watch> watches;
};

// Runs the plug-in and, beside it, the engine that tells why a sample was
// silent and what a watched variable holds, block by block.
class Renderer {
public:
    Renderer(PlugIn& plugIn, module::ModuleEngine& shadow, const RenderOptions& options, const InputSources& sources,
             Sinks& sinks)
        : plugIn_(plugIn), shadow_(shadow), options_(options), sources_(sources), sinks_(sinks) {
        const std::size_t block = static_cast<std::size_t>(options.block);
        for (int32_t k = 0; k < module::kInputCount; ++k) {
            inputs_[k].assign(block, 0.0f);
            in_[k] = inputs_[k].data();
        }
        for (int32_t k = 0; k < module::kOutputCount; ++k) {
            outputs_[k].assign(block, 0.0f);
            expected_[k].assign(block, 0.0f);
            out_[k] = outputs_[k].data();
            shadowOut_[k] = expected_[k].data();
        }
        interleaved_.assign(block * module::kOutputCount, 0.0f);
    }

    RenderSummary run(int64_t total, std::FILE* err) {
        summary_ = {};
        summary_.samples = total;
        ProgressBar progress(err, total);
        for (int64_t done = 0; done < total;) {
            const int32_t count = static_cast<int32_t>(std::min<int64_t>(options_.block, total - done));
            renderBlock(done, count);
            done += count;
            progress.update(done);
        }
        progress.finish();
        return summary_;
    }

private:
    void renderBlock(int64_t first, int32_t count) {
        for (int32_t k = 0; k < module::kInputCount; ++k)
            for (int32_t i = 0; i < count; ++i) inputs_[k][i] = sources_[k].at(first + i);
        plugIn_.instance->processBlock(in_, out_, count);
        // The engine runs one sample at a time, so that a watched value can be
        // read after each; a stopped Expr silences the rest of its block, as
        // in one call for the whole block.
        bool evaluate = true;
        for (int32_t i = 0; i < count; ++i) {
            int32_t code = EXPR_OK;
            shadow_.process(in_, shadowOut_, static_cast<std::size_t>(i), static_cast<std::size_t>(i) + 1, evaluate,
                            &code);
            evaluate = evaluate && code != EXPR_ERR_ABORTED;
            account(first + i, i, code);
        }
        std::string error;
        if (sinks_.writer && !sinks_.writer->write(interleaved_.data(), count, &error)) throw Failure{error};
    }

    // Sample i of the block, number n of the render.
    void account(int64_t n, int32_t i, int32_t code) {
        if (code != EXPR_OK) {
            ++summary_.silenced;
            ++summary_.silencedBy[code];
        }
        float actual[module::kOutputCount];
        bool agrees = true;
        for (int32_t k = 0; k < module::kOutputCount; ++k) {
            actual[k] = outputs_[k][i];
            summary_.outputs[k].add(actual[k]);
            interleaved_[static_cast<std::size_t>(i) * module::kOutputCount + k] = actual[k];
            agrees = agrees && sameSample(actual[k], expected_[k][i]);
        }
        if (!agrees) ++summary_.disagreements;
        if (sinks_.csv) printCsvRow(sinks_.csv, n, options_.rate, actual, sinks_.watches);
    }

    PlugIn& plugIn_;
    module::ModuleEngine& shadow_;
    const RenderOptions& options_;
    const InputSources& sources_;
    Sinks& sinks_;
    RenderSummary summary_;
    std::vector<float> inputs_[module::kInputCount], outputs_[module::kOutputCount], expected_[module::kOutputCount],
        interleaved_;
    const float* in_[module::kInputCount];
    float* out_[module::kOutputCount];
    float* shadowOut_[module::kOutputCount];
};

// ---- The figures ----------------------------------------------------------------------

std::string secondsText(int64_t samples, int32_t rate) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g s", static_cast<double>(samples) / rate);
    return text;
}

void printFullScaleNotes(std::FILE* out, const RenderSummary& summary) {
    for (int32_t k = 0; k < module::kOutputCount; ++k) {
        const OutputFigures& figures = summary.outputs[k];
        if (figures.overFullScale == 0) continue;
        std::fprintf(out,
                     "note: %s passes full scale (|sample| > 1.0) at %lld of %lld samples, up to %s: a sound card or a "
                     "16-bit file clips it there (%s = 10 is full scale)\n",
                     outputName(k), static_cast<long long>(figures.overFullScale),
                     static_cast<long long>(summary.samples), levelText(figures.peak).c_str(), outputName(k));
    }
}

void printSummary(std::FILE* out, const RenderOptions& options, const RenderSummary& summary) {
    std::fprintf(out, "rendered %lld samples (%s at %d Hz, blocks of %d) through %s\n",
                 static_cast<long long>(summary.samples), secondsText(summary.samples, options.rate).c_str(),
                 options.rate, options.block, modulePath(options).c_str());
    if (!options.output.empty())
        std::fprintf(out, "wrote %s: %s as %d channels of 32-bit float\n", options.output.c_str(),
                     pinNames(module::PinRole::Output, ", ").c_str(), module::kOutputCount);
    std::fprintf(out, "%-6s %-22s %-22s %9s %9s %9s\n", "output", "peak", "RMS", "NaN/inf", "silenced", ">1.0");
    for (int32_t k = 0; k < module::kOutputCount; ++k) {
        const OutputFigures& figures = summary.outputs[k];
        std::fprintf(out, "%-6s %-22s %-22s %9lld %9lld %9lld\n", outputName(k), levelText(figures.peak).c_str(),
                     levelText(figures.rms()).c_str(), static_cast<long long>(figures.nonFinite),
                     static_cast<long long>(summary.silenced), static_cast<long long>(figures.overFullScale));
    }
    for (const auto& [code, count] : summary.silencedBy)
        std::fprintf(out, "%lld samples silenced by %s\n", static_cast<long long>(count), resultCodeLine(code).c_str());
    printFullScaleNotes(out, summary);
    if (summary.disagreements > 0)
        std::fprintf(out,
                     "note: at %lld samples the plug-in's output differs from the engine run beside it (randomize "
                     "reads the clock); the silenced count may be off there\n",
                     static_cast<long long>(summary.disagreements));
}

void checkCsvLength(const RenderOptions& options, int64_t total) {
    if (options.csv && total > kMaxCsvSamples)
        throw Failure{"--csv prints at most " + std::to_string(kMaxCsvSamples) + " samples; this render has " +
                          std::to_string(total) + " (give --samples or --seconds)",
                      kExitUsage};
}

}  // namespace

void OutputFigures::add(float sample) {
    if (!std::isfinite(sample)) {
        ++nonFinite;
        return;
    }
    const double value = std::fabs(static_cast<double>(sample));
    peak = std::max(peak, value);
    sumOfSquares += value * value;
    ++finite;
    if (value > 1.0) ++overFullScale;
}

double OutputFigures::rms() const {
    return finite > 0 ? std::sqrt(sumOfSquares / static_cast<double>(finite)) : 0.0;
}

std::string levelText(double level) {
    char text[64];
    if (level > 0.0)
        std::snprintf(text, sizeof text, "%.6g (%.1f dBFS)", level, 20.0 * std::log10(level));
    else
        std::snprintf(text, sizeof text, "0 (silent)");
    return text;
}

int runRender(const RenderOptions& options, std::FILE* out, std::FILE* err) {
    try {
        const Texts texts = loadTexts(options, err);
        module::ModuleEngine shadow;
        shadow.restart(static_cast<float>(options.rate));
        parseTexts(shadow, texts);
        Sinks sinks;
        sinks.watches = findWatches(shadow, options.watches);
        InputSources sources;
        loadInputs(options, sources);
        const int64_t total = renderLength(options, sources);
        checkCsvLength(options, total);

        PlugIn plugIn = loadPlugIn(options, texts);
        WavWriter writer;
        std::string error;
        if (!options.output.empty()) {
            if (!writer.open(options.output, options.rate, module::kOutputCount, total, &error)) throw Failure{error};
            sinks.writer = &writer;
        }
        if (options.csv) {
            sinks.csv = out;
            printCsvHeader(out, sinks.watches);
        }
        const RenderSummary summary = Renderer(plugIn, shadow, options, sources, sinks).run(total, err);
        if (sinks.writer && !writer.commit(&error)) throw Failure{error};
        printSummary(options.csv ? err : out, options, summary);
        return kExitOk;
    } catch (const Failure& failure) {
        std::fprintf(err, "quorvel render: %s\n", failure.message.c_str());
        return failure.status;
    }
}

}  // namespace quorvel::tools
