// Writes tests/builtins/outcome_table.h: what every mathematical built-in
// gives today for each argument of its list below, under both zero-on-math-
// error settings: the result code, errno afterwards, and the value's bits.
// The table was taken from the runtime's mathematics before the engine
// computed its own; the engine must keep every outcome it records.
//
//   build/native/bin/outcome_table > tests/builtins/outcome_table.h
//
// A row is marked exact where the mathematical result is that double (MPFR
// says so, or the function is exact by construction): there the test asks
// for the bits; elsewhere for the class of the value.

#include <bit>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "builtins/outcome_row.h"
#include "reference/mpfr_reference.h"
#include "support/engine_rig.h"

namespace {

using quorvel_reference::correctlyRounded;
using quorvel_reference::Fn;

double d(uint64_t bits) {
    return std::bit_cast<double>(bits);
}
uint64_t bitsOf(double value) {
    return std::bit_cast<uint64_t>(value);
}

constexpr double kInf = INFINITY;
const double kQNaN = d(0x7FF8000000000ABC);  // a quiet NaN with a payload
const double kNNaN = d(0xFFF8000000000DEF);  // a negative one with another
const double kSNaN = d(0x7FF0000000000123);  // a signalling NaN
const double kSub = d(1);                    // the smallest subnormal
const double kMaxSub = d(0x000FFFFFFFFFFFFF);
const double kMin = 0x1p-1022;
const double kMax = d(0x7FEFFFFFFFFFFFFF);
constexpr double kPi = 0x1.921fb54442d18p+1;

double up(double x) {
    return std::nextafter(x, kInf);
}
double down(double x) {
    return std::nextafter(x, -kInf);
}

// The values every one-argument function meets.
std::vector<double> specials() {
    return {0.0, -0.0, kInf, -kInf, kQNaN, kNNaN, kSNaN, kSub, -kSub, kMaxSub, -kMaxSub, kMin, -kMin, kMax, -kMax};
}
std::vector<double> ordinary() {
    return {1.0,      -1.0,         0.5,        -0.5,    2.0,         -2.0,       3.0,   -3.0,   0.1,     -0.1,
            2.5,      -2.5,         7.25,       1e-8,    -1e-8,       1e-300,     1e300, -1e300, up(1.0), down(1.0),
            -up(1.0), -down(1.0),   kPi,        kPi / 2, kPi / 4,     2 * kPi,    100.0, 440.0,  1000.0,  -1000.0,
            1e22,     0x1p52 - 0.5, 0x1p52 + 1, 0x1p53,  -0x1p53 + 1, 123456.789, -0.999};
}

std::vector<double> concat(std::vector<double> a, const std::vector<double>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<double> unaryArguments(const std::vector<double>& extra) {
    return concat(concat(specials(), ordinary()), extra);
}

// How a row's exactness is decided.
using Exactness = std::function<bool(double a, double b, double c, double value)>;

bool sameDouble(double x, double y) {
    return (std::isnan(x) && std::isnan(y)) || bitsOf(x) == bitsOf(y);
}
Exactness byConstruction() {
    return [](double, double, double, double) { return true; };
}
// Exact where MPFR's value is exact and the engine gives that double.
Exactness byMpfr(Fn fn) {
    return [fn](double a, double b, double, double value) {
        const auto rounded = correctlyRounded(fn, a, b);
        return rounded.exact && sameDouble(rounded.value, value);
    };
}
// A function of one MPFR function of the second argument, such as r cos(angle).
Exactness byMpfrOfSecond(Fn fn) {
    return [fn](double, double b, double, double) { return correctlyRounded(fn, b).exact; };
}
Exactness byMpfrSwapped(Fn fn) {
    return [fn](double a, double b, double, double) { return correctlyRounded(fn, b, a).exact; };
}
Exactness logn() {
    return [](double a, double b, double, double) {
        return correctlyRounded(Fn::Ln, a).exact && correctlyRounded(Fn::Ln, b).exact;
    };
}
// poly of degree n at a: exact where every power of a is.
Exactness polyOfDegree(int degree) {
    return [degree](double a, double, double, double) {
        for (int e = 0; e <= degree; ++e)
            if (!correctlyRounded(Fn::Pow, a, e).exact) return false;
        return true;
    };
}

struct Template {
    const char* text;                            // over the variables a, b and c
    std::vector<std::vector<double>> arguments;  // each list crossed with the others
    Exactness exactness;
};

std::vector<Template> templates() {
    const std::vector<double> trig = {kPi / 2 * 3, kPi * 2,   0x1.921fb54442d18p+10, 1e5 * kPi, 0x1p1023, 1e15,
                                      8.2e17,      0x1.3p+10, 3.1415926535897931e10, 5e-324 * 3};
    const std::vector<double> unit = {up(-1.0), 0.9999999999999999, up(1.0), 1.0, -1.0, 0.5, 1e-17};
    const std::vector<double> hyperbolic = {710.4758600739439,
                                            up(710.4758600739439),
                                            -710.4758600739439,
                                            -up(710.4758600739439),
                                            22.0,
                                            -22.0,
                                            19.06,
                                            1e-10,
                                            709.0,
                                            0.0001};
    const std::vector<double> exponential = {709.782712893384,
                                             up(709.782712893384),
                                             -745.1332191019411,
                                             -745.1332191019412,
                                             -708.3964185322641,
                                             -708.4,
                                             -1074.0,
                                             1024.0,
                                             1e-20};
    const std::vector<double> decimal = {308.25471555991675,
                                         up(308.25471555991675),
                                         -323.3062153431158,
                                         -323.3062153431159,
                                         -307.6526555685888,
                                         -308.0,
                                         22.0,
                                         23.0,
                                         -5.0,
                                         0.3};
    const std::vector<double> logarithmic = {10.0, 0.01, 1e-310, 2.718281828459045, 1024.0, 0x1p-1070, 1e16};
    const std::vector<double> parts = {
        0.5,    -0.5,        0x1p52 - 0.5,      -0x1p52 + 0.5, 0.9999999999999999, -0.9999999999999999,
        0x1p52, 1e300 + 0.0, 4503599627370495.5};

    const std::vector<double> powBases = {0.0,
                                          -0.0,
                                          kInf,
                                          -kInf,
                                          kQNaN,
                                          1.0,
                                          -1.0,
                                          0.5,
                                          -0.5,
                                          2.0,
                                          -2.0,
                                          -8.0,
                                          10.0,
                                          kMax,
                                          -kMax,
                                          kSub,
                                          up(1.0),
                                          down(1.0),
                                          2.718281828459045,
                                          -3.0,
                                          1e300,
                                          1e-300};
    const std::vector<double> powExponents = {
        0.0,     -0.0, kInf,   -kInf,  kQNaN,   1.0,     -1.0, 0.5,    -0.5,       2.0,    -2.0,  3.0,    -3.0,
        1.0 / 3, 1.5,  1023.0, 1024.0, -1074.0, -1075.0, 1e10, 0x1p53, 0x1p53 + 2, 0x1p63, 1e300, -1e300, 0.1};
    const std::vector<double> modA = {0.0, -0.0, kInf,  -kInf, kQNaN, 7.0, -7.0,
                                      5.5, -5.5, 1e300, kMax,  kSub,  1.0, -4.0};
    const std::vector<double> modB = {0.0, -0.0, kInf, -kInf, kNNaN, 3.0, -3.0, 2.0, 0.5, kSub, kMax, 1e-300, 0.1};
    const std::vector<double> plane = {0.0,  -0.0, kInf, -kInf, kQNaN, 1.0,   -1.0, 2.0,
                                       -2.0, 3.0,  kSub, -kSub, kMax,  -kMax, 1e200};
    const std::vector<double> lognA = {0.0, -0.0, kInf, kQNaN, 1.0, 8.0, 0.5, 1000.0, -2.0, kSub, 2.0};
    const std::vector<double> lognB = {0.0,    -0.0, kInf, kNNaN, 1.0, -1.0, 2.0, 0.5, 10.0, -2.0, 2.718281828459045,
                                       up(1.0)};
    const std::vector<double> radii = {0.0, -0.0, kInf, -kInf, kQNaN, 1.0, 2.0, -2.0, 1e300, kSub};
    // One NaN for both: where two NaNs meet in a product, x86 keeps the first,
    // but the emulator that runs the 32-bit tests on some machines the second.
    const std::vector<double> angles = {0.0, -0.0, kInf, -kInf, kQNaN, kPi / 2, kPi, 1.0, -1.0, 1e22, 2 * kPi};
    const std::vector<double> wrapped = {12.0, -3.0, 10.0, -10.0, 0.0, -0.0, kInf, kQNaN, 5.5, 1e300, 3.0};
    const std::vector<double> polyAt = {0.0,   -0.0,   kInf,   -kInf, kQNaN, 2.0, -2.0,
                                        1e200, -1e200, 1e-200, -8.0,  0.5,   3.0};

    std::vector<Template> list = {
        {"mod(a, b);", {modA, modB}, byConstruction()},
        {"ipart(a);", {unaryArguments(parts)}, byConstruction()},
        {"fpart(a);", {unaryArguments(parts)}, byConstruction()},
        {"pow(a, b);", {powBases, powExponents}, byMpfr(Fn::Pow)},
        {"sqrt(a);", {unaryArguments({4.0, 2.0, 1e-310})}, byMpfr(Fn::Sqrt)},
        {"sin(a);", {unaryArguments(trig)}, byMpfr(Fn::Sin)},
        {"sinh(a);", {unaryArguments(hyperbolic)}, byMpfr(Fn::Sinh)},
        {"asin(a);", {unaryArguments(unit)}, byMpfr(Fn::Asin)},
        {"cos(a);", {unaryArguments(trig)}, byMpfr(Fn::Cos)},
        {"cosh(a);", {unaryArguments(hyperbolic)}, byMpfr(Fn::Cosh)},
        {"acos(a);", {unaryArguments(unit)}, byMpfr(Fn::Acos)},
        {"tan(a);", {unaryArguments(trig)}, byMpfr(Fn::Tan)},
        {"tanh(a);", {unaryArguments(hyperbolic)}, byMpfr(Fn::Tanh)},
        {"atan(a);", {unaryArguments({1e16, -1e16, 0x1p-30})}, byMpfr(Fn::Atan)},
        {"atan2(a, b);", {plane, plane}, byMpfr(Fn::Atan2)},
        {"log(a);", {unaryArguments(logarithmic)}, byMpfr(Fn::Log10)},
        {"pow10(a);", {unaryArguments(decimal)}, byMpfr(Fn::Exp10)},
        {"ln(a);", {unaryArguments(logarithmic)}, byMpfr(Fn::Ln)},
        {"exp(a);", {unaryArguments(exponential)}, byMpfr(Fn::Exp)},
        {"logn(a, b);", {lognA, lognB}, logn()},
        {"ceil(a);", {unaryArguments(parts)}, byConstruction()},
        {"floor(a);", {unaryArguments(parts)}, byConstruction()},
        {"recttopolr(a, b);", {plane, plane}, byConstruction()},
        {"recttopola(a, b);", {plane, plane}, byMpfrSwapped(Fn::Atan2)},
        {"poltorectx(a, b);", {radii, angles}, byMpfrOfSecond(Fn::Cos)},
        {"poltorecty(a, b);", {radii, angles}, byMpfrOfSecond(Fn::Sin)},
        {"clamp(a, b, c);",
         {wrapped, {0.0, 5.0, -1.0, -0.0, kInf, kQNaN}, {10.0, 5.0, 1.0, 0.0, kInf}},
         byConstruction()},
        {"poly(a, 1, 0, -4);", {polyAt}, polyOfDegree(2)},
        {"poly(a, 7);", {polyAt}, polyOfDegree(0)},
        {"poly(a, 1, 1, 1, 1);", {polyAt}, polyOfDegree(3)},
        {"poly(a, b, 0.5);", {polyAt, {0.0, -1.0, kInf, kQNaN, 1e300}}, polyOfDegree(1)},
        {"poly(a, 1, 0, 0, 0, 0);", {polyAt}, polyOfDegree(4)},
        // The coefficients after one whose evaluation left an error are not
        // evaluated: c keeps 7 under zero-on-math-error.
        {"c = 7; poly(a, 1, pow(0, -1), c = 5) * 0 + c;", {polyAt}, byConstruction()},
        {"c = 7; poly(a, mod(1, 0), c = 5) * 0 + c;", {polyAt}, byConstruction()},
        {"c = 7; poly(a, asin(2), c = 5) * 0 + c;", {polyAt}, byConstruction()},
        {"c = 7; poly(a, pow10(-400), c = 5) * 0 + c;", {polyAt}, byConstruction()},
        {"c = 7; poly(a, sqrt(-1), c = 5) * 0 + c;", {polyAt}, byConstruction()},
    };
    return list;
}

struct Outcome {
    int32_t code;
    int errorAfter;  // errno after the evaluation; kErrnoKept where untouched
    uint64_t bits;   // 0 where the code is not EXPR_OK
    bool operator==(const Outcome&) const = default;
};

enum class Form { Native, Threaded, Walk };

Outcome evaluate(const char* text, const double (&v)[3], int32_t zeroOnMathError, Form form) {
    quorvel_test::EngineRig rig({.zeroOnMathError = zeroOnMathError});
    const char* names[] = {"a", "b", "c"};
    for (int i = 0; i < 3; ++i) rig.variable(names[i]) = v[i];
    if (rig.parse(text) != EXPR_OK) {
        std::fprintf(stderr, "does not parse: %s\n", text);
        std::exit(1);
    }
    if (form == Form::Threaded) rig.threadedOnly();
    if (form == Form::Walk) rig.walkOnly();
    double value = 0.0;
    errno = outcome_table::kErrnoSentinel;
    const int32_t code = rig.evaluate(&value);
    const int after = errno;
    return {code, after, code == EXPR_OK ? bitsOf(value) : 0};
}

Outcome evaluateEveryForm(const char* text, const double (&v)[3], int32_t flag) {
    const Outcome native = evaluate(text, v, flag, Form::Native);
    for (Form form : {Form::Threaded, Form::Walk}) {
        if (!(evaluate(text, v, flag, form) == native)) {
            std::fprintf(stderr, "the forms of %s disagree at %a %a %a\n", text, v[0], v[1], v[2]);
            std::exit(1);
        }
    }
    return native;
}

const char* errnoName(int value) {
    if (value == 0) return "E0";
    if (value == EDOM) return "EDOM";
    if (value == ERANGE) return "ERANGE";
    if (value == outcome_table::kErrnoSentinel) return "KEPT";
    std::fprintf(stderr, "unexpected errno %d\n", value);
    std::exit(1);
}

const char* codeName(int32_t code) {
    if (code == EXPR_OK) return "OK";
    if (code == EXPR_ERR_MATH) return "MATH";
    std::fprintf(stderr, "unexpected code %d\n", code);
    std::exit(1);
}

}  // namespace

int main() {
    const std::vector<Template> list = templates();
    std::vector<uint64_t> values;
    auto indexOf = [&values](double value) {
        for (size_t i = 0; i < values.size(); ++i)
            if (values[i] == bitsOf(value)) return i;
        values.push_back(bitsOf(value));
        return values.size() - 1;
    };
    std::string rows;
    size_t rowCount = 0;
    for (size_t t = 0; t < list.size(); ++t) {
        const Template& tpl = list[t];
        std::vector<size_t> at(tpl.arguments.size(), 0);
        for (;;) {
            double v[3] = {0.0, 0.0, 0.0};
            size_t index[3] = {0, 0, 0};
            for (size_t k = 0; k < at.size(); ++k) {
                v[k] = tpl.arguments[k][at[k]];
                index[k] = indexOf(v[k]);
            }
            const Outcome strict = evaluateEveryForm(tpl.text, v, 0);
            const Outcome lenient = evaluateEveryForm(tpl.text, v, 1);
            const double value = d(lenient.bits);
            const bool exact = strict.code == EXPR_OK && tpl.exactness(v[0], v[1], v[2], value);
            char row[200];
            std::snprintf(row, sizeof row,
                          "    {%zu, %zu, %zu, %zu, %d, {%s, %s, 0x%016" PRIX64 "}, {%s, %s, 0x%016" PRIX64 "}},\n", t,
                          index[0], index[1], index[2], exact ? 1 : 0, codeName(strict.code),
                          errnoName(strict.errorAfter), strict.bits, codeName(lenient.code),
                          errnoName(lenient.errorAfter), lenient.bits);
            rows += row;
            ++rowCount;
            size_t k = 0;
            while (k < at.size() && ++at[k] == tpl.arguments[k].size()) at[k++] = 0;
            if (k == at.size()) break;
        }
    }

    std::printf(
        "// Generated by tests/generators/outcome_table.cpp from the engine as it computed\n"
        "// with the runtime's mathematics; do not edit. What every mathematical built-in\n"
        "// gives for each argument row, without and with zero-on-math-error: the code,\n"
        "// errno afterwards (KEPT: as it was before the evaluation) and the value's bits\n"
        "// (0 where the code is not EXPR_OK). exact: the mathematical result is that\n"
        "// double, so its bits are due; elsewhere the class of the value is.\n"
        "#pragma once\n\n#include <cstdint>\n\n#include \"builtins/outcome_row.h\"\n\n"
        "// clang-format off\nnamespace outcome_table {\n\n");
    std::printf("const char* const kTexts[] = {\n");
    for (const Template& tpl : list) std::printf("    \"%s\",\n", tpl.text);
    std::printf("};\n\n// The arguments, as bits; rows name them by index.\nconst uint64_t kValues[] = {\n");
    for (uint64_t bits : values) std::printf("    0x%016" PRIX64 ",  // %.17g\n", bits, d(bits));
    std::printf("};\n\nconst Row kRows[] = {\n%s};\n\n}  // namespace outcome_table\n// clang-format on\n",
                rows.c_str());
    std::fprintf(stderr, "%zu rows, %zu values\n", rowCount, values.size());
    return 0;
}
