// The functions under check, their hard cases and the tally (accuracy.h).
#include "accuracy.h"

#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdio>

#include "engine/routines.h"

namespace accuracy {

using identity::Argument;
using quorvel_reference::Fn;

namespace {

double ipart(double a, double) {
    double integral;
    exprMathModf(a, &integral);
    return integral;
}
double fpart(double a, double) {
    double integral;
    return exprMathModf(a, &integral);
}

double up(double x, int steps = 1) {
    for (int i = 0; i < steps; ++i) x = std::nextafter(x, INFINITY);
    return x;
}
double down(double x, int steps = 1) {
    for (int i = 0; i < steps; ++i) x = std::nextafter(x, -INFINITY);
    return x;
}

// x and its neighbours up to spread units in the last place either way.
void around(std::vector<Argument>& list, double x, double b = 0.0, int spread = 3) {
    for (int i = -spread; i <= spread; ++i) list.push_back({i < 0 ? down(x, -i) : up(x, i), b});
}

// The double nearest k pi / 2 for k = m 2^e, with pi to enough bits for the
// largest doubles.
double nearestMultipleOfHalfPi(double m, int e) {
    mpfr_t x;
    mpfr_init2(x, 2400);
    mpfr_const_pi(x, MPFR_RNDN);
    mpfr_mul_d(x, x, m, MPFR_RNDN);
    mpfr_mul_2si(x, x, e - 1, MPFR_RNDN);
    const double nearest = mpfr_get_d(x, MPFR_RNDN);
    mpfr_clear(x);
    return nearest;
}

const double kSpecials[] = {0.0,
                            -0.0,
                            INFINITY,
                            -INFINITY,
                            NAN,
                            1.0,
                            -1.0,
                            0x1p-1074,
                            -0x1p-1074,
                            0x1p-1022,
                            -0x1p-1022,
                            0x1.fffffffffffffp1023,
                            -0x1.fffffffffffffp1023};

}  // namespace

const std::vector<Checked>& checkedFunctions() {
    static const std::vector<Checked> list = {
        {"sin", Fn::Sin, [](double a, double) { return exprFromRegister(exprDirectSin(a)); }},
        {"cos", Fn::Cos, [](double a, double) { return exprFromRegister(exprDirectCos(a)); }},
        {"tan", Fn::Tan, [](double a, double) { return exprFromRegister(exprDirectTan(a)); }},
        {"asin", Fn::Asin, [](double a, double) { return exprFromRegister(exprBareAsin(a)); }},
        {"acos", Fn::Acos, [](double a, double) { return exprFromRegister(exprBareAcos(a)); }},
        {"atan", Fn::Atan, [](double a, double) { return exprFromRegister(exprDirectAtan(a)); }},
        {"atan2", Fn::Atan2, [](double a, double b) { return exprFromRegister(exprDirectAtan2(a, b)); }},
        {"sinh", Fn::Sinh, [](double a, double) { return exprFromRegister(exprBareSinh(a)); }},
        {"cosh", Fn::Cosh, [](double a, double) { return exprFromRegister(exprBareCosh(a)); }},
        {"tanh", Fn::Tanh, [](double a, double) { return exprFromRegister(exprBareTanh(a)); }},
        {"exp", Fn::Exp, [](double a, double) { return exprFromRegister(exprDirectExp(a)); }},
        {"pow10", Fn::Exp10, [](double a, double) { return exprFromRegister(exprBarePow10(a)); }},
        {"ln", Fn::Ln, [](double a, double) { return exprFromRegister(exprDirectLn(a)); }},
        {"log", Fn::Log10, [](double a, double) { return exprFromRegister(exprDirectLog(a)); }},
        {"pow", Fn::Pow, [](double a, double b) { return exprFromRegister(exprBarePow(a, b)); }},
        {"mod", Fn::Fmod, [](double a, double b) { return exprFromRegister(exprBareFmod(a, b)); }},
        {"ipart", Fn::Trunc, ipart},
        {"fpart", Fn::Frac, fpart},
        {"ceil", Fn::Ceil, [](double a, double) { return exprFromRegister(exprBareCeil(a)); }},
        {"floor", Fn::Floor, [](double a, double) { return exprFromRegister(exprBareFloor(a)); }},
    };
    return list;
}

std::vector<Argument> hardCases(const Checked& function) {
    std::vector<Argument> list;
    const Fn fn = function.fn;
    const bool two = fn == Fn::Atan2 || fn == Fn::Pow || fn == Fn::Fmod;
    for (double a : kSpecials) {
        if (!two) list.push_back({a, 0.0});
        for (double b : kSpecials)
            if (two) list.push_back({a, b});
    }
    switch (fn) {
        case Fn::Sin:
        case Fn::Cos:
        case Fn::Tan:
            for (int k = 1; k <= 64; ++k) around(list, nearestMultipleOfHalfPi(k, 0));
            for (int e = 10; e <= 1020; e += 10)
                for (double m : {1.0, 3.0, 12345.0, 6381956970095103.0})
                    if (std::ldexp(m, e) < 0x1p1023) around(list, nearestMultipleOfHalfPi(m, e), 0.0, 1);
            around(list, 6381956970095103.0 * 0x1p797);
            around(list, 1e22);
            around(list, 0x1p-26);
            around(list, 0x1p-1022);
            break;
        case Fn::Asin:
        case Fn::Acos:
            around(list, 1.0, 0.0, 8);
            around(list, -1.0, 0.0, 8);
            around(list, 0.5);
            around(list, 0x1p-26);
            break;
        case Fn::Atan:
            for (double x : {1.0, 0x1p-26, 0x1p26, 1e300, 0x1p-1022}) {
                around(list, x);
                around(list, -x);
            }
            break;
        case Fn::Atan2:
            // Every quadrant and both axes, near the diagonals too.
            for (double y : {1.0, 3.0, 1e-300, 1e300, 0x1p-1074})
                for (double x : {1.0, 2.0, 1e-300, 1e300, 0x1p-1074, 0.0})
                    for (double sy : {1.0, -1.0})
                        for (double sx : {1.0, -1.0}) {
                            list.push_back({sy * y, sx * x});
                            list.push_back({sy * x, sx * y});
                            list.push_back({sy * y, sx * up(y)});
                        }
            break;
        case Fn::Sinh:
        case Fn::Cosh:
            around(list, 710.4758600739439, 0.0, 16);
            around(list, -710.4758600739439, 0.0, 16);
            for (double x : {0x1p-26, 0x1p-1074, 0x1p-1022, 0.5, 1.0, 22.0, 709.0}) around(list, x), around(list, -x);
            break;
        case Fn::Tanh:
            for (double x : {0x1p-26, 0x1p-1074, 0x1p-1022, 0.5, 0.55, 1.0, 19.061547465398498, 22.0})
                around(list, x), around(list, -x);
            break;
        case Fn::Exp:
            around(list, 709.782712893384, 0.0, 16);                                // overflow
            around(list, -708.3964185322641, 0.0, 16);                              // the normal range's end
            around(list, -745.1332191019411, 0.0, 16);                              // the last subnormal
            for (double x = -745.0; x < -708.0; x += 1.0) around(list, x, 0.0, 1);  // subnormal results
            around(list, 0x1p-54);
            around(list, -0x1p-54);
            break;
        case Fn::Exp10:
            around(list, 308.25471555991675, 0.0, 16);
            around(list, -307.6526555685888, 0.0, 16);
            around(list, -323.3062153431158, 0.0, 16);
            for (int k = -30; k <= 30; ++k) around(list, k, 0.0, 1);
            break;
        case Fn::Ln:
        case Fn::Log10:
            around(list, 1.0, 0.0, 64);  // near 1
            for (int k = 1; k <= 52; ++k)
                list.push_back({1.0 + std::ldexp(1.0, -k), 0.0}), list.push_back({1.0 - std::ldexp(1.0, -k - 1), 0.0});
            for (double x :
                 {0x1p-1074, 0x1p-1060, 0x1p-1022, 10.0, 100.0, 1e22, 2.718281828459045, 0x1.fffffffffffffp1023})
                around(list, x);
            break;
        case Fn::Pow:
            // Near overflow and underflow.
            for (double b : {1023.0, 1024.0, -1022.0, -1074.0, -1075.0})
                for (double a : {2.0, 0.5}) around(list, a, b), around(list, a, up(b)), around(list, a, down(b));
            for (double a : {10.0, 3.0, 1.5, 1e10}) {
                const double toOverflow = 1024.0 / std::log2(a), toUnderflow = -1074.0 / std::log2(a);
                around(list, a, toOverflow, 8);
                around(list, a, toUnderflow, 8);
            }
            // Negative bases with whole exponents, and others (domain errors).
            for (double a : {-3.0, -1.5, -0.5, -10.0, -1.0000000000000002})
                for (double b : {1.0, 2.0, 3.0, 7.0, 31.0, 40.0, -3.0, -31.0, 1e15 + 1, 0.5, 1.0 / 3})
                    list.push_back({a, b});
            // Near 1 to large powers.
            for (double b : {1e10, 1e15, -1e15, 0x1p60}) around(list, 1.0, b, 4);
            break;
        case Fn::Fmod:
            for (double a : {7.0, 1e300, 0x1p-1074, 5.5, 0x1.fffffffffffffp1023})
                for (double b : {3.0, 0.1, 0x1p-1074, 1e-300, 2.0, 1e300})
                    list.push_back({a, b}), list.push_back({-a, b}), list.push_back({a, -b});
            break;
        default:
            for (double x : {0.5, 1.5, 2.5, 0x1p52 - 0.5, 0x1p52 + 1, 0x1p53, 0.9999999999999999, 1e300, 1e-300})
                list.push_back({x, 0.0}), list.push_back({-x, 0.0});
            break;
    }
    return list;
}

void Tally::add(const Checked& function, const Argument& argument) {
    const double computed = function.compute(argument.a, argument.b);
    const auto best = quorvel_reference::correctlyRounded(function.fn, argument.a, argument.b);
    ++count;
    const bool same = (std::isnan(computed) && std::isnan(best.value)) ||
                      std::bit_cast<uint64_t>(computed) == std::bit_cast<uint64_t>(best.value);
    if (same) {
        ++correctlyRounded;
        return;
    }
    const double error = quorvel_reference::ulpError(function.fn, argument.a, argument.b, computed);
    if (error > maxUlp || count == 1) {
        maxUlp = std::max(maxUlp, error);
        worst = argument;
        worstComputed = computed;
    }
}

std::string Tally::worstText(const Checked& function) const {
    const auto best = quorvel_reference::correctlyRounded(function.fn, worst.a, worst.b);
    char text[256];
    std::snprintf(text, sizeof text,
                  "%s(%.17g, %.17g) [bits 0x%016" PRIX64 ", 0x%016" PRIX64 "] gives %.17g (0x%016" PRIX64
                  "), correctly rounded %.17g (0x%016" PRIX64 "): %.3f ulp",
                  function.name, worst.a, worst.b, std::bit_cast<uint64_t>(worst.a), std::bit_cast<uint64_t>(worst.b),
                  worstComputed, std::bit_cast<uint64_t>(worstComputed), best.value,
                  std::bit_cast<uint64_t>(best.value), maxUlp);
    return text;
}

}  // namespace accuracy
