// The engine's functions against MPFR: which routine computes each
// mathematical built-in, the hard cases it is checked on, and the tally of a
// run (largest error in units in the last place, share correctly rounded).
// Shared by accuracy_test (hard cases and a few thousand arguments per
// function, on every native test run) and accuracy_run (scripts/accuracy,
// a million arguments and more).
#pragma once

#include <string>
#include <vector>

#include "identity/identity.h"
#include "reference/mpfr_reference.h"

namespace accuracy {

struct Checked {
    const char* name;  // the built-in, as identity::kFunctions names it
    quorvel_reference::Fn fn;
    double (*compute)(double a, double b);  // the engine's routine behind it
};

// Every built-in that one MPFR function defines; logn and the polar
// functions are IEEE compositions of these.
const std::vector<Checked>& checkedFunctions();

// The hard cases of a function: near multiples of pi/2 up to huge
// arguments, the overflow edges of exp, sinh and cosh, subnormal results,
// logarithms near 1, pow near overflow and underflow and of negative bases
// with whole exponents, signed zeros and infinities, atan2 in every quadrant.
std::vector<identity::Argument> hardCases(const Checked& function);

struct Tally {
    long count = 0;
    long correctlyRounded = 0;
    double maxUlp = 0.0;
    identity::Argument worst{0.0, 0.0};
    double worstComputed = 0.0;

    void add(const Checked& function, const identity::Argument& argument);
    double share() const { return count ? static_cast<double>(correctlyRounded) / count : 1.0; }
    std::string worstText(const Checked& function) const;
};

}  // namespace accuracy
