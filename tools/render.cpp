#include "render.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <system_error>
#include <vector>

#include "expr.h"
#include "module_engine.h"
#include "pins.h"
#include "progress.h"
#include "quorvel_host.h"
#include "result_codes.h"
#include "wav_io.h"

namespace quorvel::tools {

namespace {

const char* inputName(int32_t k) { return kPins[pinIndex(PinRole::Input, k)].name; }
const char* outputName(int32_t k) { return kPins[pinIndex(PinRole::Output, k)].name; }

struct Failure {
    std::string message;
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

struct Texts {
    std::string expr;
    std::optional<std::string> init;
};

Texts loadTexts(const RenderOptions& options) {
    Texts texts;
    std::string error;
    if (options.exprFile) {
        if (!readTextFile(*options.exprFile, texts.expr, &error)) throw Failure{error};
    } else {
        texts.expr = *options.expr;
    }
    if (options.initFile) {
        std::string init;
        if (!readTextFile(*options.initFile, init, &error)) throw Failure{error};
        texts.init = init;
    } else if (options.init) {
        texts.init = *options.init;
    }
    return texts;
}

void loadInputs(const RenderOptions& options, InputSource (&sources)[6]) {
    for (const InputSpec& request : options.inputs) {
        InputSource& source = sources[request.input];
        if (request.constant) {
            source.value = request.value;
            continue;
        }
        WavChannel channel;
        std::string error;
        if (!readWavChannel(request.path, request.channel, channel, &error))
            throw Failure{std::string("input ") + inputName(request.input) + ": " + error};
        if (channel.rate != options.rate)
            throw Failure{std::string("input ") + inputName(request.input) + ": " + request.path + " has a sample rate of " +
                          std::to_string(channel.rate) + " Hz, but the render runs at " + std::to_string(options.rate) +
                          " Hz (give --rate " + std::to_string(channel.rate) + ", or resample the file)"};
        if (channel.samples.empty())
            throw Failure{std::string("input ") + inputName(request.input) + ": " + request.path + " holds no samples"};
        source.constant = false;
        source.samples = std::move(channel.samples);
    }
}

int64_t renderLength(const RenderOptions& options, const InputSource (&sources)[6]) {
    if (options.samples) return *options.samples;
    if (options.seconds) return static_cast<int64_t>(std::llround(*options.seconds * options.rate));
    int64_t longest = 0;
    for (const InputSource& source : sources)
        if (!source.constant) longest = std::max<int64_t>(longest, static_cast<int64_t>(source.samples.size()));
    return longest > 0 ? longest : options.rate;
}

// The plug-in, loaded and opened with its texts, as a host sets it up.
struct PlugIn {
    std::unique_ptr<host::Library> library;
    std::unique_ptr<host::Instance> instance;  // declared after: destroyed before its library
};

PlugIn loadPlugIn(const RenderOptions& options, const Texts& texts) {
    PlugIn plugIn;
    const std::string path = options.module.empty() ? host::moduleNextToExecutable() : options.module;
    std::string error;
    plugIn.library = host::Library::load(path, &error);
    if (!plugIn.library) throw Failure{"cannot load the plug-in " + path + ": " + error};
    plugIn.instance = host::Instance::create(*plugIn.library);
    if (!plugIn.instance) throw Failure{"the plug-in " + path + " made no module instance"};
    host::Instance& instance = *plugIn.instance;
    instance.setSampleRate(static_cast<float>(options.rate));
    instance.setBlockSize(options.block);
    instance.open();
    for (const PinRow& row : kPins)
        if (instance.findPin(row.name) < 0)
            throw Failure{path + " is not the Quorvel module: it has no pin " + row.name};
    if (texts.init) instance.setText(kInitPin, *texts.init);
    instance.setText(kExprPin, texts.expr);
    return plugIn;
}

bool sameSample(float a, float b) { return a == b || (std::isnan(a) && std::isnan(b)); }

void printCsvHeader(std::FILE* out) { std::fputs("sample,time,out1,out2,out3\n", out); }

// NaN without the sign the C library may print for it.
std::string csvNumber(double value) {
    if (std::isnan(value)) return "nan";
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", value);
    return text;
}

void printCsvRow(std::FILE* out, int64_t n, int32_t rate, const float* values) {
    std::fprintf(out, "%lld,%s,%s,%s,%s\n", static_cast<long long>(n), csvNumber(static_cast<double>(n) / rate).c_str(),
                 csvNumber(values[0]).c_str(), csvNumber(values[1]).c_str(), csvNumber(values[2]).c_str());
}

RenderSummary renderThrough(PlugIn& plugIn, const RenderOptions& options, const Texts& texts,
                            const InputSource (&sources)[6], int64_t total, WavWriter* writer, std::FILE* csv,
                            std::FILE* err) {
    RenderSummary summary;
    summary.samples = total;
    summary.hasInit = texts.init.has_value();

    // The engine beside the plug-in, only to learn why a sample was silent.
    ModuleEngine shadow;
    shadow.restart(static_cast<float>(options.rate));
    if (texts.init) summary.initParse = shadow.parseInit(texts.init->c_str());
    summary.exprParse = shadow.parseExpr(texts.expr.c_str());

    const std::size_t block = static_cast<std::size_t>(options.block);
    std::vector<float> inputs[kInputCount], outputs[kOutputCount], expected[kOutputCount];
    std::vector<int32_t> codes(block);
    for (auto& buffer : inputs) buffer.assign(block, 0.0f);
    for (auto& buffer : outputs) buffer.assign(block, 0.0f);
    for (auto& buffer : expected) buffer.assign(block, 0.0f);
    std::vector<float> interleaved(block * 3);
    const float* in[kInputCount];
    float* out[kOutputCount];
    float* shadowOut[kOutputCount];
    for (int k = 0; k < kInputCount; ++k) in[k] = inputs[k].data();
    for (int k = 0; k < kOutputCount; ++k) out[k] = outputs[k].data();
    for (int k = 0; k < kOutputCount; ++k) shadowOut[k] = expected[k].data();

    ProgressBar progress(err, total);
    std::string error;
    for (int64_t done = 0; done < total;) {
        const int32_t count = static_cast<int32_t>(std::min<int64_t>(static_cast<int64_t>(block), total - done));
        for (int k = 0; k < 6; ++k)
            for (int32_t i = 0; i < count; ++i) inputs[k][i] = sources[k].at(done + i);
        plugIn.instance->processBlock(in, out, count);
        shadow.process(in, shadowOut, 0, static_cast<std::size_t>(count), true, codes.data());

        for (int32_t i = 0; i < count; ++i) {
            const int32_t code = codes[static_cast<std::size_t>(i)];
            if (code != EXPR_OK) {
                ++summary.silenced;
                ++summary.silencedBy[code];
            }
            const float actual[3] = {outputs[0][i], outputs[1][i], outputs[2][i]};
            bool agrees = true;
            for (int k = 0; k < 3; ++k) {
                summary.outputs[k].add(actual[k]);
                interleaved[static_cast<std::size_t>(i) * 3 + k] = actual[k];
                agrees &= sameSample(actual[k], expected[k][i]);
            }
            if (!agrees) ++summary.disagreements;
            if (csv) printCsvRow(csv, done + i, options.rate, actual);
        }
        if (writer && !writer->write(interleaved.data(), count, &error)) throw Failure{error};
        done += count;
        progress.update(done);
    }
    progress.finish();
    return summary;
}

std::string secondsText(int64_t samples, int32_t rate) {
    char text[64];
    std::snprintf(text, sizeof text, "%.6g s", static_cast<double>(samples) / rate);
    return text;
}

void printSummary(std::FILE* out, const RenderOptions& options, const RenderSummary& summary,
                  const std::string& modulePath) {
    std::fprintf(out, "rendered %lld samples (%s at %d Hz, blocks of %d) through %s\n",
                 static_cast<long long>(summary.samples), secondsText(summary.samples, options.rate).c_str(),
                 options.rate, options.block, modulePath.c_str());
    if (!options.output.empty())
        std::fprintf(out, "wrote %s: out1, out2, out3 as 3 channels of 32-bit float\n", options.output.c_str());
    std::fprintf(out, "%-6s %-22s %-22s %9s %9s\n", "output", "peak", "RMS", "NaN/inf", "silenced");
    for (int k = 0; k < 3; ++k) {
        const OutputFigures& figures = summary.outputs[k];
        std::fprintf(out, "%-6s %-22s %-22s %9lld %9lld\n", outputName(k), levelText(figures.peak).c_str(),
                     levelText(figures.rms()).c_str(), static_cast<long long>(figures.nonFinite),
                     static_cast<long long>(summary.silenced));
    }
    if (summary.exprParse != EXPR_OK) {
        std::fprintf(out, "Expr does not parse, so every sample is silent: %s\n"
                          "  (quorvel check shows where)\n",
                     resultCodeLine(summary.exprParse).c_str());
    } else {
        for (const auto& [code, count] : summary.silencedBy)
            std::fprintf(out, "%lld samples silenced by %s\n", static_cast<long long>(count),
                         resultCodeLine(code).c_str());
    }
    if (summary.hasInit && summary.initParse != EXPR_OK)
        std::fprintf(out, "Init does not parse, so it does nothing: %s\n", resultCodeLine(summary.initParse).c_str());
    if (summary.disagreements > 0)
        std::fprintf(out,
                     "note: at %lld samples the plug-in's output differs from the engine run beside it (randomize "
                     "reads the clock); the silenced count may be off there\n",
                     static_cast<long long>(summary.disagreements));
}

}  // namespace

void OutputFigures::add(float sample) {
    if (!std::isfinite(sample)) {
        ++nonFinite;
        return;
    }
    const double value = static_cast<double>(sample);
    peak = std::max(peak, std::fabs(value));
    sumOfSquares += value * value;
    ++finite;
}

double OutputFigures::rms() const { return finite > 0 ? std::sqrt(sumOfSquares / static_cast<double>(finite)) : 0.0; }

std::string levelText(double level) {
    char text[64];
    if (level > 0.0)
        std::snprintf(text, sizeof text, "%.6g (%.1f dBFS)", level, 20.0 * std::log10(level));
    else
        std::snprintf(text, sizeof text, "0 (silent)");
    return text;
}

bool readTextFile(const std::string& path, std::string& text, std::string* error) {
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

int runRender(const RenderOptions& options, std::FILE* out, std::FILE* err) {
    std::FILE* figures = options.csv ? err : out;
    try {
        const Texts texts = loadTexts(options);
        InputSource sources[6];
        loadInputs(options, sources);
        const int64_t total = renderLength(options, sources);
        if (options.csv && total > kMaxCsvSamples) {
            std::fprintf(err, "quorvel render: --csv prints at most %lld samples; this render has %lld (give "
                              "--samples or --seconds)\n",
                         static_cast<long long>(kMaxCsvSamples), static_cast<long long>(total));
            return kExitUsage;
        }
        PlugIn plugIn = loadPlugIn(options, texts);
        WavWriter writer;
        std::string error;
        if (!options.output.empty() && !writer.open(options.output, options.rate, 3, total, &error)) throw Failure{error};
        if (options.csv) printCsvHeader(out);
        const RenderSummary summary =
            renderThrough(plugIn, options, texts, sources, total, options.output.empty() ? nullptr : &writer,
                          options.csv ? out : nullptr, err);
        if (!options.output.empty() && !writer.commit(&error)) throw Failure{error};
        printSummary(figures, options, summary,
                     options.module.empty() ? host::moduleNextToExecutable() : options.module);
        return kExitOk;
    } catch (const Failure& failure) {
        std::fprintf(err, "quorvel render: %s\n", failure.message.c_str());
        return kExitFailed;
    }
}

}  // namespace quorvel::tools
