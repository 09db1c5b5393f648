// The long accuracy run (scripts/accuracy): every function of accuracy.h
// over N arguments of the identity check's generator (a million unless
// given) and its hard cases, against MPFR. Prints per function the largest
// error in units in the last place, with its argument, and the share of
// results correctly rounded.
//
//   accuracy_run [N] [NAME...]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "accuracy/accuracy.h"

int main(int argc, char** argv) {
    using namespace accuracy;
    long count = 1000000;
    int first = 1;
    if (argc > 1 && std::strspn(argv[1], "0123456789") == std::strlen(argv[1])) {
        count = std::atol(argv[1]);
        first = 2;
    }
    std::printf("| Function | Arguments | Max ulp | Correctly rounded |\n|---|---|---|---|\n");
    std::fflush(stdout);
    bool within = true;
    for (const Checked& function : checkedFunctions()) {
        bool wanted = first == argc;
        for (int i = first; i < argc; ++i) wanted = wanted || std::strcmp(argv[i], function.name) == 0;
        if (!wanted) continue;
        int index = -1;
        for (int f = 0; f < identity::kFunctionCount; ++f)
            if (std::strcmp(identity::kFunctions[f].name, function.name) == 0) index = f;
        Tally tally;
        for (const identity::Argument& argument : identity::arguments(index, static_cast<int>(count)))
            tally.add(function, argument);
        for (const identity::Argument& argument : hardCases(function)) tally.add(function, argument);
        std::printf("| %s | %ld | %.3f | %.4f %% |\n", function.name, tally.count, tally.maxUlp, 100.0 * tally.share());
        if (tally.maxUlp > 0.0)
            std::fprintf(stderr, "%s: worst %s\n", function.name, tally.worstText(function).c_str());
        std::fflush(stdout);
        within = within && tally.maxUlp <= 1.0;
    }
    return within ? 0 : 1;
}
