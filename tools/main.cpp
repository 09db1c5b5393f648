// quorvel: try an expression before patching it. `render` plays it through
// the built quorvel.sem, `check` tells why a text would be silent.
#include <cstdio>
#include <string>
#include <vector>

#include "check.h"
#include "cli_options.h"
#include "render.h"

using namespace quorvel::tools;

int main(int argc, char** argv) {
    const CommandLine line = readCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.command) {
        case Command::Render: return runRender(line.render, stdout, stderr);
        case Command::Check: return runCheck(line.check, stdout, stderr);
        case Command::Help: std::fputs(line.message.c_str(), stdout); return kExitOk;
        case Command::None: break;
    }
    std::fputs(line.message.c_str(), stderr);
    return kExitUsage;
}
