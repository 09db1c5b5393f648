// The playground's entry into the module's engine, compiled to WebAssembly.
// The page, its audio worklet, the tests and the benchmark all call these
// exports; what sounds comes from ModuleEngine, exactly as the plug-in runs
// it. This file only moves texts, sample blocks and names across the
// boundary, and reports where a text fails.
//
// Each wasm instance has its own memory, so the one text buffer below is
// per caller (the page's parser, the worklet, a test).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "diagnostics.h"
#include "expr.h"
#include "module_engine.h"
#include "name_tables.h"
#include "pins.h"
#include "result_codes.h"

#define PLAYGROUND_EXPORT(name) extern "C" __attribute__((export_name(#name)))

using namespace quorvel::module;

namespace {

// The most frames one process call takes. The audio worklet hands 128 at a
// time; the offline render and the benchmark may hand more.
constexpr std::size_t kMaxFrames = 4096;

// The last parse's report of where the text failed, and a note the page
// adds of its own (empty but for a NUL).
struct Report {
    ExprParseReport parse = {EXPR_OK, -1, 0, -1};
    const char* note = "";
};

// Names joined by NUL bytes, with one more NUL at the end.
void appendName(std::string& list, const char* name) {
    list += name;
    list += '\0';
}

// text as a JSON string.
void appendJson(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

// One text's advice: {"hints": [...], "warnings": [{"text", "offset", "length"}]}.
void appendAdvice(std::string& out, const quorvel::tools::TextDiagnosis& text) {
    out += "{\"hints\":[";
    for (std::size_t i = 0; i < text.hints.size(); ++i) {
        if (i > 0) out += ',';
        appendJson(out, text.hints[i]);
    }
    out += "],\"warnings\":[";
    for (std::size_t i = 0; i < text.warnings.size(); ++i) {
        const quorvel::tools::Remark& warning = text.warnings[i];
        out += i > 0 ? ",{\"text\":" : "{\"text\":";
        appendJson(out, warning.text);
        out += ",\"offset\":" + std::to_string(warning.offset) + ",\"length\":" + std::to_string(warning.length) + "}";
    }
    out += "]}";
}

std::vector<char> gTexts[2];  // the texts the caller is handing over
std::string gNames;           // the last name list asked for
Report gReport;               // the last parse's report
std::string gAdvice;          // the last diagnosis, as JSON

// The text in slot 0 or 1, `bytes` long and NUL-terminated; null when the
// slot holds no such text.
const char* textIn(int32_t slot, std::size_t bytes) {
    if (slot < 0 || slot > 1 || bytes >= gTexts[slot].size()) return nullptr;
    gTexts[slot][bytes] = '\0';
    return gTexts[slot].data();
}

}  // namespace

// One module instance with its block buffers, and the variables the watch shows.
struct Session {
    ModuleEngine engine;
    float inputs[kInputCount][kMaxFrames] = {};
    float outputs[kOutputCount][kMaxFrames] = {};
    int32_t codes[kMaxFrames] = {};
    const float* inputPointers[kInputCount] = {};
    float* outputPointers[kOutputCount] = {};

    // The variable table only grows, and only by parsing, so the watch's
    // list is renewed after each parse and read between them.
    std::string watchNames;
    std::vector<const double*> watchValues;
    std::vector<double> watchSnapshot;
    int32_t watchVersion = 0;

    Session() {
        for (int32_t k = 0; k < kInputCount; ++k) inputPointers[k] = inputs[k];
        for (int32_t k = 0; k < kOutputCount; ++k) outputPointers[k] = outputs[k];
        renewWatch();
    }

    void renewWatch() {
        watchNames.clear();
        watchValues.clear();
        quorvel::tools::forEachEntry<VarEntry>(engine.variables(), [this](const VarEntry& entry) {
            appendName(watchNames, entry.name);
            watchValues.push_back(&entry.value);
        });
        watchSnapshot.assign(watchValues.size(), 0.0);
        ++watchVersion;
    }
};

// ---- Sessions ---------------------------------------------------------------

// A new instance, as the host makes one; null without memory.
PLAYGROUND_EXPORT(pg_session_new) Session* pgSessionNew() {
    auto* session = new (std::nothrow) Session;
    if (session && !session->engine.ready()) {
        delete session;
        return nullptr;
    }
    return session;
}

PLAYGROUND_EXPORT(pg_session_free) void pgSessionFree(Session* session) {
    delete session;
}

// As the host opens the module: time and counter start again at the next
// block, Init runs at its first sample, `rate` reads the new rate.
PLAYGROUND_EXPORT(pg_restart) void pgRestart(Session* session, float rate) {
    session->engine.restart(rate);
}

// ---- Texts ------------------------------------------------------------------

// Room in slot 0 or 1 for a text of `bytes` bytes, filled by the caller
// before pg_parse (slot 0) or pg_diagnose (both). The page caps the length
// of what it hands over.
PLAYGROUND_EXPORT(pg_text_buffer) char* pgTextBuffer(int32_t slot, std::size_t bytes) {
    if (slot < 0 || slot > 1) return nullptr;
    gTexts[slot].resize(bytes + 1);
    return gTexts[slot].data();
}

// Parses the text in slot 0 (its first `bytes` bytes) into Expr (pin
// kExprPin) or Init (kInitPin) as a pin update does; the result code, with
// the report in pg_report_*.
PLAYGROUND_EXPORT(pg_parse) int32_t pgParse(Session* session, int32_t pin, std::size_t bytes) {
    gReport = Report{};
    const char* text = textIn(0, bytes);
    if (!text || (pin != kExprPin && pin != kInitPin)) {
        gReport.parse.code = EXPR_ERR_ARGUMENT;
        return gReport.parse.code;
    }
    // A host hands the module a zero-terminated text, which cannot hold a
    // NUL; the page refuses one where it stands instead of cutting the text.
    if (const void* nul = std::memchr(text, 0, bytes)) {
        const auto at = static_cast<int32_t>(static_cast<const char*>(nul) - text);
        gReport.parse = {EXPR_ERR_CHARACTER, at, 1, -1};
        gReport.note = "a NUL character cannot reach the module: remove it";
        return gReport.parse.code;
    }
    ModuleEngine& engine = session->engine;
    if (pin == kExprPin)
        engine.parseExpr(text, &gReport.parse);
    else
        engine.parseInit(text, &gReport.parse);
    session->renewWatch();
    return gReport.parse.code;
}

PLAYGROUND_EXPORT(pg_report_code) int32_t pgReportCode() {
    return gReport.parse.code;
}
PLAYGROUND_EXPORT(pg_report_offset) int32_t pgReportOffset() {
    return gReport.parse.offset;
}
PLAYGROUND_EXPORT(pg_report_length) int32_t pgReportLength() {
    return gReport.parse.length;
}
PLAYGROUND_EXPORT(pg_report_statement) int32_t pgReportStatement() {
    return gReport.parse.statement;
}
PLAYGROUND_EXPORT(pg_report_note) const char* pgReportNote() {
    return gReport.note;
}

// What `quorvel check` tells people beyond the code: hints for a failure
// (habits from other languages, names near a misspelt one) and warnings for
// texts that parse but mislead, for the Expr text in slot 0 and the Init
// text in slot 1 (none when initBytes is negative):
// {"expr": ADVICE, "init": ADVICE or null}, ADVICE as appendAdvice writes it.
PLAYGROUND_EXPORT(pg_diagnose) const char* pgDiagnose(std::size_t exprBytes, int32_t initBytes) {
    const char* expr = textIn(0, exprBytes);
    const char* init = initBytes >= 0 ? textIn(1, static_cast<std::size_t>(initBytes)) : nullptr;
    gAdvice = "null";
    if (!expr || (initBytes >= 0 && !init)) return gAdvice.c_str();
    std::optional<std::string> initText;
    if (init) initText.emplace(init, static_cast<std::size_t>(initBytes));
    const quorvel::tools::Diagnosis diagnosis = quorvel::tools::diagnose(std::string(expr, exprBytes), initText);
    gAdvice = "{\"expr\":";
    appendAdvice(gAdvice, diagnosis.texts.back());
    gAdvice += ",\"init\":";
    if (initText && diagnosis.texts.size() == 2)
        appendAdvice(gAdvice, diagnosis.texts.front());
    else
        gAdvice += "null";
    gAdvice += "}";
    return gAdvice.c_str();
}

PLAYGROUND_EXPORT(pg_code_name) const char* pgCodeName(int32_t code) {
    return quorvel::tools::resultCodeName(code);
}
PLAYGROUND_EXPORT(pg_code_message) const char* pgCodeMessage(int32_t code) {
    return quorvel::tools::resultCodeMessage(code);
}

// ---- Processing -------------------------------------------------------------

PLAYGROUND_EXPORT(pg_max_frames) std::size_t pgMaxFrames() {
    return kMaxFrames;
}
PLAYGROUND_EXPORT(pg_input) float* pgInput(Session* session, int32_t k) {
    return session->inputs[k];
}
PLAYGROUND_EXPORT(pg_output) float* pgOutput(Session* session, int32_t k) {
    return session->outputs[k];
}
PLAYGROUND_EXPORT(pg_codes) int32_t* pgCodes(Session* session) {
    return session->codes;
}

// One block of `frames` samples from the input buffers into the output
// buffers, with each sample's code in pg_codes; the number of samples that
// were silenced by a failure.
PLAYGROUND_EXPORT(pg_process) int32_t pgProcess(Session* session, std::size_t frames) {
    if (frames > kMaxFrames) frames = kMaxFrames;
    session->engine.process(session->inputPointers, session->outputPointers, 0, frames, true, session->codes);
    int32_t silenced = 0;
    for (std::size_t i = 0; i < frames; ++i) silenced += session->codes[i] != EXPR_OK ? 1 : 0;
    return silenced;
}

// How often Init has run in this session, and its result code at the last
// run: an Init stopped by its budget (EXPR_ERR_ABORTED) left its later
// statements undone.
PLAYGROUND_EXPORT(pg_init_runs) uint32_t pgInitRuns(Session* session) {
    return session->engine.initRuns();
}
PLAYGROUND_EXPORT(pg_init_code) int32_t pgInitCode(Session* session) {
    return session->engine.initCode();
}

// ---- The watch --------------------------------------------------------------

// Bumped whenever the variables' names may have changed.
PLAYGROUND_EXPORT(pg_watch_version) int32_t pgWatchVersion(Session* session) {
    return session->watchVersion;
}
PLAYGROUND_EXPORT(pg_watch_count) std::size_t pgWatchCount(Session* session) {
    return session->watchValues.size();
}
// Every variable's name, in name order, joined by NUL bytes.
PLAYGROUND_EXPORT(pg_watch_names) const char* pgWatchNames(Session* session) {
    return session->watchNames.data();
}

// The variables' values now, in the order of their names.
PLAYGROUND_EXPORT(pg_watch_values) const double* pgWatchValues(Session* session) {
    for (std::size_t i = 0; i < session->watchValues.size(); ++i) session->watchSnapshot[i] = *session->watchValues[i];
    return session->watchSnapshot.data();
}

// ---- The language's names, for highlighting ---------------------------------

// The built-in functions (kind 0) or the constants, time, sample and rate
// included (kind 1), as the module's tables hold them: NUL-separated.
PLAYGROUND_EXPORT(pg_names) const char* pgNames(Session* session, int32_t kind) {
    gNames.clear();
    if (kind == 0)
        quorvel::tools::forEachEntry<FuncEntry>(session->engine.functions(),
                                                [](const FuncEntry& entry) { appendName(gNames, entry.name); });
    else
        quorvel::tools::forEachEntry<VarEntry>(session->engine.constants(),
                                               [](const VarEntry& entry) { appendName(gNames, entry.name); });
    gNames += '\0';
    return gNames.data();
}

// The pins, from the module's own table.
PLAYGROUND_EXPORT(pg_pin_count) int32_t pgPinCount() {
    return kPinCount;
}
PLAYGROUND_EXPORT(pg_pin_name) const char* pgPinName(int32_t index) {
    return index >= 0 && index < kPinCount ? kPins[index].name : "";
}
// 0 input, 1 Init, 2 Expr, 3 output (PinRole).
PLAYGROUND_EXPORT(pg_pin_role) int32_t pgPinRole(int32_t index) {
    return index >= 0 && index < kPinCount ? static_cast<int32_t>(kPins[index].role) : -1;
}
