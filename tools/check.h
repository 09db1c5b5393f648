// `quorvel check`: tells whether a text parses as the module would parse it.
#pragma once

#include <cstdio>

#include "cli_options.h"

namespace quorvel::tools {

// Returns the exit status: 0 the text parses, 1 it does not, 2 the file
// cannot be read.
int runCheck(const CheckOptions& options, std::FILE* out, std::FILE* err);

}  // namespace quorvel::tools
