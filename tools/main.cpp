// quorvel: try an expression before patching it. `render` plays it through
// the built quorvel.sem, `check` tells why a text would be silent.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "check.h"
#include "cli_options.h"
#include "render.h"

using namespace quorvel::tools;

namespace {

int usageError(const char* command, const std::string& problem, const char* usage) {
    std::fprintf(stderr, "quorvel %s: %s\n\n%s", command, problem.c_str(), usage);
    return kExitUsage;
}

int help(const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fputs(programUsage(), stdout);
    } else if (args[0] == "render") {
        std::fputs(renderUsage(), stdout);
    } else if (args[0] == "check") {
        std::fputs(checkUsage(), stdout);
    } else {
        std::fprintf(stderr, "quorvel help: no command \"%s\"\n\n%s", args[0].c_str(), programUsage());
        return kExitUsage;
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(programUsage(), stderr);
        return kExitUsage;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "render") {
        RenderOptions options;
        if (std::string problem = parseRenderArguments(args, options); !problem.empty())
            return usageError("render", problem, renderUsage());
        if (options.help) {
            std::fputs(renderUsage(), stdout);
            return kExitOk;
        }
        return runRender(options, stdout, stderr);
    }
    if (command == "check") {
        CheckOptions options;
        if (std::string problem = parseCheckArguments(args, options); !problem.empty())
            return usageError("check", problem, checkUsage());
        if (options.help) {
            std::fputs(checkUsage(), stdout);
            return kExitOk;
        }
        return runCheck(options, stdout, stderr);
    }
    if (command == "help" || command == "-h" || command == "--help") return help(args);
    std::fprintf(stderr, "quorvel: no command \"%s\"\n\n%s", command.c_str(), programUsage());
    return kExitUsage;
}
