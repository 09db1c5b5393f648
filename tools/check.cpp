#include "check.h"

#include <string>

#include "expr.h"
#include "render.h"
#include "text_analysis.h"

namespace quorvel::tools {

int runCheck(const CheckOptions& options, std::FILE* out, std::FILE* err) {
    std::string text;
    if (options.file) {
        std::string error;
        if (!readTextFile(*options.file, text, &error)) {
            std::fprintf(err, "quorvel check: %s\n", error.c_str());
            return kExitUsage;
        }
    } else {
        text = *options.text;
    }
    const ParseReport report = analyseText(text);
    std::fputs(formatReport(text, report).c_str(), out);
    return report.code == EXPR_OK ? kExitOk : kExitFailed;
}

}  // namespace quorvel::tools
