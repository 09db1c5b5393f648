#include "check.h"

#include <string>

#include "expr.h"
#include "diagnostics.h"
#include "text_file.h"

namespace quorvel::tools {

namespace {

// The text of TEXT or of a file, with the file's notes on standard error;
// false when the file cannot be read.
bool loadCheckedText(const std::optional<std::string>& text, const std::optional<std::string>& file,
                     std::string& loaded, std::FILE* err) {
    if (!file) {
        loaded = text.value_or("");
        return true;
    }
    std::string error;
    PinText pin;
    if (!readPinText(*file, pin, &error)) {
        std::fprintf(err, "quorvel check: %s\n", error.c_str());
        return false;
    }
    for (const std::string& note : pin.notes) std::fprintf(err, "%s\n", note.c_str());
    loaded = std::move(pin.text);
    return true;
}

}  // namespace

int runCheck(const CheckOptions& options, std::FILE* out, std::FILE* err) {
    std::string expr;
    if (!loadCheckedText(options.text, options.file, expr, err)) return kExitUsage;
    std::optional<std::string> init;
    if (options.init || options.initFile) {
        init.emplace();
        if (!loadCheckedText(options.init, options.initFile, *init, err)) return kExitUsage;
    }
    const Diagnosis diagnosis = diagnose(expr, init);
    const std::string report = options.json ? diagnosisJson(diagnosis) + "\n" : formatDiagnosis(expr, init, diagnosis);
    std::fputs(report.c_str(), out);
    return diagnosis.code() == EXPR_OK ? kExitOk : kExitFailed;
}

}  // namespace quorvel::tools
