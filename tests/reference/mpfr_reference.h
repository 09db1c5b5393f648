// The exact mathematics behind the engine's functions, from MPFR: the
// correctly rounded double of a function at one or two doubles (and whether
// it is exact), and how many units in the last place a computed double lies
// from the exact value. Native test programs only (MPFR is a 64-bit Linux
// library here); one translation unit includes this per program.
#pragma once

#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace quorvel_reference {

// The functions MPFR knows by a name of its own.
enum class Fn {
    Sin,
    Cos,
    Tan,
    Asin,
    Acos,
    Atan,
    Atan2,
    Sinh,
    Cosh,
    Tanh,
    Exp,
    Exp10,
    Ln,
    Log10,
    Pow,
    Sqrt,
    Fmod,
    Ceil,
    Floor,
    Trunc,
    Frac,
};

inline int evaluate(Fn fn, mpfr_t y, double a, double b, mpfr_rnd_t rnd) {
    mpfr_t x, z;
    mpfr_init2(x, 53);
    mpfr_init2(z, 53);
    mpfr_set_d(x, a, MPFR_RNDN);
    mpfr_set_d(z, b, MPFR_RNDN);
    int ternary = 0;
    switch (fn) {
        case Fn::Sin: ternary = mpfr_sin(y, x, rnd); break;
        case Fn::Cos: ternary = mpfr_cos(y, x, rnd); break;
        case Fn::Tan: ternary = mpfr_tan(y, x, rnd); break;
        case Fn::Asin: ternary = mpfr_asin(y, x, rnd); break;
        case Fn::Acos: ternary = mpfr_acos(y, x, rnd); break;
        case Fn::Atan: ternary = mpfr_atan(y, x, rnd); break;
        case Fn::Atan2: ternary = mpfr_atan2(y, x, z, rnd); break;
        case Fn::Sinh: ternary = mpfr_sinh(y, x, rnd); break;
        case Fn::Cosh: ternary = mpfr_cosh(y, x, rnd); break;
        case Fn::Tanh: ternary = mpfr_tanh(y, x, rnd); break;
        case Fn::Exp: ternary = mpfr_exp(y, x, rnd); break;
        case Fn::Exp10: ternary = mpfr_exp10(y, x, rnd); break;
        case Fn::Ln: ternary = mpfr_log(y, x, rnd); break;
        case Fn::Log10: ternary = mpfr_log10(y, x, rnd); break;
        case Fn::Pow: ternary = mpfr_pow(y, x, z, rnd); break;
        case Fn::Sqrt: ternary = mpfr_sqrt(y, x, rnd); break;
        case Fn::Fmod: ternary = mpfr_fmod(y, x, z, rnd); break;
        case Fn::Ceil: ternary = mpfr_ceil(y, x); break;
        case Fn::Floor: ternary = mpfr_floor(y, x); break;
        case Fn::Trunc: ternary = mpfr_trunc(y, x); break;
        case Fn::Frac: ternary = mpfr_frac(y, x, rnd); break;
    }
    mpfr_clear(x);
    mpfr_clear(z);
    return ternary;
}

struct Rounded {
    double value;
    bool exact;  // the mathematical value is this double (NaN counts as exact)
};

// The double nearest f(a, b), subnormals and overflow as IEEE arithmetic has them.
inline Rounded correctlyRounded(Fn fn, double a, double b = 0.0) {
    const mpfr_exp_t emin = mpfr_get_emin(), emax = mpfr_get_emax();
    mpfr_set_emin(-1073);
    mpfr_set_emax(1024);
    mpfr_t y;
    mpfr_init2(y, 53);
    int ternary = evaluate(fn, y, a, b, MPFR_RNDN);
    ternary = mpfr_check_range(y, ternary, MPFR_RNDN);
    ternary = mpfr_subnormalize(y, ternary, MPFR_RNDN);
    const Rounded rounded{mpfr_get_d(y, MPFR_RNDN), ternary == 0 && !mpfr_overflow_p()};
    mpfr_clear_flags();
    mpfr_clear(y);
    mpfr_set_emin(emin);
    mpfr_set_emax(emax);
    return rounded;
}

// |computed - f(a, b)| in units in the last place of the exact value (the
// spacing of doubles at it, subnormal spacing below the normal range). An
// infinity or NaN counts 0 where the correctly rounded result is the same,
// infinity otherwise; so does a zero's sign.
inline double ulpError(Fn fn, double a, double b, double computed) {
    const Rounded best = correctlyRounded(fn, a, b);
    if (std::isnan(best.value) || std::isnan(computed))
        return std::isnan(best.value) && std::isnan(computed) ? 0.0 : INFINITY;
    if (std::isinf(computed) || (computed == 0.0 && best.value == 0.0))
        return computed == best.value && std::signbit(computed) == std::signbit(best.value) ? 0.0 : INFINITY;
    mpfr_t exact, difference;
    mpfr_init2(exact, 256);
    mpfr_init2(difference, 256);
    evaluate(fn, exact, a, b, MPFR_RNDN);
    double error;
    if (mpfr_inf_p(exact)) {
        error = INFINITY;  // a pole, and computed is finite
    } else if (mpfr_zero_p(exact)) {
        error = std::fabs(computed) / 0x1p-1074;
    } else {
        // ulp(t) = 2^(max(e, -1021) - 53), with 2^(e-1) <= |t| < 2^e.
        const long exponent = std::max<long>(mpfr_get_exp(exact), -1021);
        mpfr_sub_d(difference, exact, computed, MPFR_RNDN);
        mpfr_abs(difference, difference, MPFR_RNDN);
        mpfr_mul_2si(difference, difference, 53 - exponent, MPFR_RNDN);
        error = mpfr_get_d(difference, MPFR_RNDU);
    }
    mpfr_clear(exact);
    mpfr_clear(difference);
    return error;
}

}  // namespace quorvel_reference
