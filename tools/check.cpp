#include "check.h"

#include <string>

#include "expr.h"
#include "text_analysis.h"
#include "text_file.h"

namespace quorvel::tools {

int runCheck(const CheckOptions& options, std::FILE* out, std::FILE* err) {
    std::string text;
    if (options.file) {
        std::string error;
        PinText pin;
        if (!readPinText(*options.file, pin, &error)) {
            std::fprintf(err, "quorvel check: %s\n", error.c_str());
            return kExitUsage;
        }
        for (const std::string& note : pin.notes) std::fprintf(err, "%s\n", note.c_str());
        text = std::move(pin.text);
    } else {
        text = *options.text;
    }
    const ParseReport report = analyseText(text);
    std::fputs(formatReport(text, report).c_str(), out);
    return report.code == EXPR_OK ? kExitOk : kExitFailed;
}

}  // namespace quorvel::tools
