/*
 * The mathematical built-in functions, the registration list of all 49
 * built-ins, and the named mathematical constants.
 *
 * Two kinds of function live here. Those under the math-error rule clear
 * errno, compute through one of the wrappers below and let
 * exprApplyMathRule judge errno. The others compute directly, never report a
 * math error, and leave errno as they found it.
 */
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>

#include "internal.h"

/* ---- Wrappers of the routines used under the math-error rule ------------
 *
 * The runtimes disagree on what they put into errno: the 32-bit Windows
 * runtime leaves it at 0 for fmod(7, 0), pow(0, -1), pow(10, 400),
 * sinh(1000) and cosh(1000), and sets EDOM for asin, tanh and pow of a NaN;
 * glibc reports ERANGE for an underflow, the Windows runtime does not. So
 * each wrapper discards whatever the routine left in errno and reports what
 * the C standard has the routine report, judged from arguments and result:
 * a NaN from arguments that are not NaN is a domain error (EDOM), an
 * infinity from finite arguments a pole or an overflow (ERANGE). An
 * underflow is reported by none of them. Without a report errno keeps the
 * value it had before the call, so an error left there by an earlier
 * computation survives (poly clears errno once for many calls of pow).
 */
namespace {

double reported(int before, double result, double a, double b) {
    int report = exprMathReport(result, a, b);
    errno = report != 0 ? report : before;
    return result;
}

double reported(int before, double result, double a) {
    return reported(before, result, a, 0.0);
}

/* Ties a value into the order of memory accesses: nothing that reads or
 * writes memory moves across this point, and the value is taken as written
 * here. */
inline void pinInMemoryOrder(double& value) {
    __asm__ volatile("" : "+m"(value) : : "memory");
}

/* Calls routine(args...) strictly after errno is read into *before and
 * strictly before whatever the caller then writes to errno. The compiler
 * takes some routines (sin, cos, tan, atan, tanh, ...) for ones that touch
 * no memory, and would otherwise move them across the errno accesses or
 * drop a restore it thinks changes nothing; glibc's sin sets EDOM for an
 * infinity and the Windows runtime's tanh for a NaN. */
template <typename Routine, typename... Args> double callBetween(int* before, Routine routine, Args... args) {
    *before = errno;
    (pinInMemoryOrder(args), ...);
    double value = routine(args...);
    pinInMemoryOrder(value);
    return value;
}

/* A routine under the math-error rule: errno as the C standard has it
 * report, or as it was. */
template <typename Routine, typename... Args> double underRule(Routine routine, Args... args) {
    int before;
    double value = callBetween(&before, routine, args...);
    return reported(before, value, args...);
}

/* The bare routines behind the math-error-rule built-ins: the wrappers
 * below judge them for their callbacks, and exprInPlaceFunction hands them
 * to the compiled evaluator, which judges them itself. */
double bareFmod(double a, double b) { return std::fmod(a, b); }
double barePow(double a, double b) { return std::pow(a, b); }
double bareSinh(double a) { return std::sinh(a); }
double bareCosh(double a) { return std::cosh(a); }
double bareTanh(double a) { return std::tanh(a); }
double bareAsin(double a) { return std::asin(a); }
double bareAcos(double a) { return std::acos(a); }
double bareCeil(double a) { return std::ceil(a); }
double bareFloor(double a) { return std::floor(a); }
double barePow10(double a) { return std::pow(10.0, a); }

} // namespace

extern "C" double exprMathFmod(double a, double b) { return underRule(bareFmod, a, b); }

extern "C" double exprMathPow(double a, double b) { return underRule(barePow, a, b); }

namespace {

double mathModf(double a, double* integral) {
    int before;
    double fraction = callBetween(&before, [integral](double x) { return std::modf(x, integral); }, a);
    return reported(before, fraction, a);
}

double mathSinh(double a) { return underRule(bareSinh, a); }
double mathCosh(double a) { return underRule(bareCosh, a); }
double mathTanh(double a) { return underRule(bareTanh, a); }
double mathAsin(double a) { return underRule(bareAsin, a); }
double mathAcos(double a) { return underRule(bareAcos, a); }
double mathCeil(double a) { return underRule(bareCeil, a); }
double mathFloor(double a) { return underRule(bareFloor, a); }

double mathPow10(double a) {
    return exprMathPow(10.0, a);
}

/* ---- Functions computed directly ----------------------------------------
 *
 * These never report a math error. glibc sets errno for sqrt(-1), log(0) or
 * exp(1000) and the Windows runtime not always, so each keeps errno as it
 * found it: nothing they compute can leak into a later test of errno. */

template <typename Routine, typename... Args> double quietly(Routine routine, Args... args) {
    int before;
    double value = callBetween(&before, routine, args...);
    errno = before;
    return value;
}

/* glibc's sin, cos and tan set errno only for an infinite argument, so for
 * any other there is nothing to keep; other runtimes always go through
 * quietly. */
template <typename Routine> double quietlyUnlessFinite(Routine routine, double a) {
#if defined(__GLIBC__)
    if (std::isfinite(a))
        return routine(a);
#endif
    return quietly(routine, a);
}

double directSqrt(double a) { return quietly([](double x) { return std::sqrt(x); }, a); }
double directSin(double a) { return quietlyUnlessFinite([](double x) { return std::sin(x); }, a); }
double directCos(double a) { return quietlyUnlessFinite([](double x) { return std::cos(x); }, a); }
double directTan(double a) { return quietlyUnlessFinite([](double x) { return std::tan(x); }, a); }
double directAtan(double a) { return quietly([](double x) { return std::atan(x); }, a); }
double directLog(double a) { return quietly([](double x) { return std::log10(x); }, a); }
double directLn(double a) { return quietly([](double x) { return std::log(x); }, a); }
double directExp(double a) { return quietly([](double x) { return std::exp(x); }, a); }
double directAtan2(double y, double x) { return quietly([](double b, double c) { return std::atan2(b, c); }, y, x); }

double directAbs(double a) { return a < 0.0 ? -a : a; }

/* 180/pi and pi/180, the doubles nearest them; multiplied, never divided,
 * so that deg(M_PI) is exactly 180 and rad(180) exactly M_PI. */
constexpr double kDegreesPerRadian = 0x1.ca5dc1a63c1f8p+5;
constexpr double kRadiansPerDegree = 0x1.1df46a2529d39p-6;
constexpr double kTwoPi = 0x1.921fb54442d18p+2;

double directDeg(double a) { return a * kDegreesPerRadian; }
double directRad(double a) { return a * kRadiansPerDegree; }
double directRecttopolr(double x, double y) { return directSqrt(x * x + y * y); }
double directPoltorectx(double r, double angle) { return r * directCos(angle); }
double directPoltorecty(double r, double angle) { return r * directSin(angle); }

/* The angle of (x, y) in [0, 2 pi); a negative zero stays negative zero. */
double directRecttopola(double x, double y) {
    double angle = directAtan2(y, x);
    return angle < 0.0 ? angle + kTwoPi : angle;
}

/* ---- The common shapes of a callback ------------------------------------ */

int32_t evalTwo(ExprContext* context, ExprNode* args, double* a, double* b) {
    int32_t code = exprEvalNode(context, &args[0], a);
    return code != EXPR_OK ? code : exprEvalNode(context, &args[1], b);
}

int32_t unaryDirect(ExprContext* context, ExprNode* args, double* result, double (*compute)(double)) {
    double a;
    int32_t code = exprEvalNode(context, &args[0], &a);
    if (code != EXPR_OK)
        return code;
    *result = compute(a);
    return EXPR_OK;
}

int32_t binaryDirect(ExprContext* context, ExprNode* args, double* result, double (*compute)(double, double)) {
    double a, b;
    int32_t code = evalTwo(context, args, &a, &b);
    if (code != EXPR_OK)
        return code;
    *result = compute(a, b);
    return EXPR_OK;
}

int32_t unaryRule(ExprContext* context, ExprNode* args, double* result, double (*compute)(double)) {
    double a;
    int32_t code = exprEvalNode(context, &args[0], &a);
    if (code != EXPR_OK)
        return code;
    errno = 0;
    return exprApplyMathRule(context, compute(a), result);
}

int32_t binaryRule(ExprContext* context, ExprNode* args, double* result, double (*compute)(double, double)) {
    double a, b;
    int32_t code = evalTwo(context, args, &a, &b);
    if (code != EXPR_OK)
        return code;
    errno = 0;
    return exprApplyMathRule(context, compute(a, b), result);
}

} // namespace

/* ---- The callbacks ------------------------------------------------------- */

#define QUORVEL_CALLBACK(name) \
    int32_t name(ExprContext* context, ExprNode* args, int32_t, double**, int32_t, double* result)

QUORVEL_CALLBACK(builtinAbs) { return unaryDirect(context, args, result, directAbs); }
QUORVEL_CALLBACK(builtinMod) { return binaryRule(context, args, result, exprMathFmod); }
QUORVEL_CALLBACK(builtinPow) { return binaryRule(context, args, result, exprMathPow); }
QUORVEL_CALLBACK(builtinSqrt) { return unaryDirect(context, args, result, directSqrt); }
QUORVEL_CALLBACK(builtinSin) { return unaryDirect(context, args, result, directSin); }
QUORVEL_CALLBACK(builtinSinh) { return unaryRule(context, args, result, mathSinh); }
QUORVEL_CALLBACK(builtinAsin) { return unaryRule(context, args, result, mathAsin); }
QUORVEL_CALLBACK(builtinCos) { return unaryDirect(context, args, result, directCos); }
QUORVEL_CALLBACK(builtinCosh) { return unaryRule(context, args, result, mathCosh); }
QUORVEL_CALLBACK(builtinAcos) { return unaryRule(context, args, result, mathAcos); }
QUORVEL_CALLBACK(builtinTan) { return unaryDirect(context, args, result, directTan); }
QUORVEL_CALLBACK(builtinTanh) { return unaryRule(context, args, result, mathTanh); }
QUORVEL_CALLBACK(builtinAtan) { return unaryDirect(context, args, result, directAtan); }
QUORVEL_CALLBACK(builtinAtan2) { return binaryDirect(context, args, result, directAtan2); }
QUORVEL_CALLBACK(builtinLog) { return unaryDirect(context, args, result, directLog); }
QUORVEL_CALLBACK(builtinPow10) { return unaryRule(context, args, result, mathPow10); }
QUORVEL_CALLBACK(builtinLn) { return unaryDirect(context, args, result, directLn); }
QUORVEL_CALLBACK(builtinExp) { return unaryDirect(context, args, result, directExp); }
QUORVEL_CALLBACK(builtinCeil) { return unaryRule(context, args, result, mathCeil); }
QUORVEL_CALLBACK(builtinFloor) { return unaryRule(context, args, result, mathFloor); }
QUORVEL_CALLBACK(builtinDeg) { return unaryDirect(context, args, result, directDeg); }
QUORVEL_CALLBACK(builtinRad) { return unaryDirect(context, args, result, directRad); }
QUORVEL_CALLBACK(builtinRecttopolr) { return binaryDirect(context, args, result, directRecttopolr); }
QUORVEL_CALLBACK(builtinRecttopola) { return binaryDirect(context, args, result, directRecttopola); }
QUORVEL_CALLBACK(builtinPoltorectx) { return binaryDirect(context, args, result, directPoltorectx); }
QUORVEL_CALLBACK(builtinPoltorecty) { return binaryDirect(context, args, result, directPoltorecty); }

/* ipart and fpart make the same modf call and keep different halves. */
QUORVEL_CALLBACK(builtinIpart) {
    double a;
    int32_t code = exprEvalNode(context, &args[0], &a);
    if (code != EXPR_OK)
        return code;
    errno = 0;
    double integral;
    mathModf(a, &integral);
    return exprApplyMathRule(context, integral, result);
}

QUORVEL_CALLBACK(builtinFpart) {
    double a;
    int32_t code = exprEvalNode(context, &args[0], &a);
    if (code != EXPR_OK)
        return code;
    errno = 0;
    double integral;
    return exprApplyMathRule(context, mathModf(a, &integral), result);
}

/* The logarithm of a to the base b. A base whose logarithm is zero or NaN
 * (1, negative, NaN) is a math error found here, not by errno. */
QUORVEL_CALLBACK(builtinLogn) {
    double a, b;
    int32_t code = evalTwo(context, args, &a, &b);
    if (code != EXPR_OK)
        return code;
    double logA = directLn(a);
    double logB = directLn(b);
    if (logB == 0.0 || std::isnan(logB))
        return exprMathError(context, result);
    *result = logA / logB;
    return EXPR_OK;
}

#undef QUORVEL_CALLBACK

/* ---- Registration -------------------------------------------------------- */

namespace {

struct BuiltinRow {
    const char* name;
    ExprFunction function;
    int32_t minArgs, maxArgs; /* value arguments; -1: unbounded */
    int32_t minRefs, maxRefs; /* references (&name) */
};

/* The whole library, in the order of registration, which fixes the shape of
 * the function table's tree. */
const BuiltinRow kBuiltins[] = {
    {"abs", builtinAbs, 1, 1, 0, 0},
    {"mod", builtinMod, 2, 2, 0, 0},
    {"ipart", builtinIpart, 1, 1, 0, 0},
    {"fpart", builtinFpart, 1, 1, 0, 0},
    {"min", builtinMin, 1, -1, 0, 0},
    {"max", builtinMax, 1, -1, 0, 0},
    {"pow", builtinPow, 2, 2, 0, 0},
    {"sqrt", builtinSqrt, 1, 1, 0, 0},
    {"sin", builtinSin, 1, 1, 0, 0},
    {"sinh", builtinSinh, 1, 1, 0, 0},
    {"asin", builtinAsin, 1, 1, 0, 0},
    {"cos", builtinCos, 1, 1, 0, 0},
    {"cosh", builtinCosh, 1, 1, 0, 0},
    {"acos", builtinAcos, 1, 1, 0, 0},
    {"tan", builtinTan, 1, 1, 0, 0},
    {"tanh", builtinTanh, 1, 1, 0, 0},
    {"atan", builtinAtan, 1, 1, 0, 0},
    {"atan2", builtinAtan2, 2, 2, 0, 0},
    {"log", builtinLog, 1, 1, 0, 0},
    {"pow10", builtinPow10, 1, 1, 0, 0},
    {"ln", builtinLn, 1, 1, 0, 0},
    {"exp", builtinExp, 1, 1, 0, 0},
    {"logn", builtinLogn, 2, 2, 0, 0},
    {"ceil", builtinCeil, 1, 1, 0, 0},
    {"floor", builtinFloor, 1, 1, 0, 0},
    {"rand", builtinRand, 0, 0, 1, 1},
    {"random", builtinRandom, 2, 2, 1, 1},
    {"randomize", builtinRandomize, 0, 0, 1, 1},
    {"deg", builtinDeg, 1, 1, 0, 0},
    {"rad", builtinRad, 1, 1, 0, 0},
    {"recttopolr", builtinRecttopolr, 2, 2, 0, 0},
    {"recttopola", builtinRecttopola, 2, 2, 0, 0},
    {"poltorectx", builtinPoltorectx, 2, 2, 0, 0},
    {"poltorecty", builtinPoltorecty, 2, 2, 0, 0},
    {"if", builtinIf, 3, 3, 0, 0},
    {"select", builtinSelect, 3, 4, 0, 0},
    {"equal", builtinEqual, 2, 2, 0, 0},
    {"above", builtinAbove, 2, 2, 0, 0},
    {"below", builtinBelow, 2, 2, 0, 0},
    {"avg", builtinAvg, 1, -1, 0, 0},
    {"clip", builtinClip, 3, 3, 0, 0},
    {"clamp", builtinClamp, 3, 3, 0, 0},
    {"pntchange", builtinPntchange, 5, 5, 0, 0},
    {"poly", builtinPoly, 2, -1, 0, 0},
    {"and", builtinAnd, 2, 2, 0, 0},
    {"or", builtinOr, 2, 2, 0, 0},
    {"not", builtinNot, 1, 1, 0, 0},
    {"for", builtinFor, 4, -1, 0, 0},
    {"many", builtinMany, 1, -1, 0, 0},
};

struct ConstantRow {
    const char* name;
    uint64_t bits; /* the exact double, as its IEEE 754 pattern */
};

/* Each is the double nearest the constant its name denotes, except
 * M_1_SQRTPI: the double nearest 0.56418958354776, 34 units in the last
 * place above the one nearest 1/sqrt(pi), so it is not half of M_2_SQRTPI.
 * Expressions written against these values rely on that. */
const ConstantRow kConstants[] = {
    {"M_E", 0x4005BF0A8B145769},        {"M_LOG2E", 0x3FF71547652B82FE}, {"M_LOG10E", 0x3FDBCB7B1526E50E},
    {"M_LN2", 0x3FE62E42FEFA39EF},      {"M_LN10", 0x40026BB1BBB55516},  {"M_PI", 0x400921FB54442D18},
    {"M_PI_2", 0x3FF921FB54442D18},     {"M_PI_4", 0x3FE921FB54442D18},  {"M_1_PI", 0x3FD45F306DC9C883},
    {"M_2_PI", 0x3FE45F306DC9C883},     {"M_1_SQRTPI", 0x3FE20DD750429B8F}, {"M_2_SQRTPI", 0x3FF20DD750429B6D},
    {"M_SQRT2", 0x3FF6A09E667F3BCD},    {"M_1_SQRT2", 0x3FE6A09E667F3BCD},
};

} // namespace

int32_t exprRegisterBuiltins(NameTable* functions) {
    if (functions == nullptr)
        return EXPR_ERR_ARGUMENT;
    for (const BuiltinRow& row : kBuiltins) {
        int32_t code = exprSetFunction(functions, row.function, row.name, row.minArgs, row.maxArgs, row.minRefs,
                                       row.maxRefs);
        if (code != EXPR_OK)
            return code;
    }
    return EXPR_OK;
}

int32_t exprRegisterConstants(NameTable* table) {
    if (table == nullptr)
        return EXPR_ERR_ARGUMENT;
    for (const ConstantRow& row : kConstants) {
        int32_t code = exprSetVariable(table, row.name, std::bit_cast<double>(row.bits));
        if (code != EXPR_OK)
            return code;
    }
    return EXPR_OK;
}

/* The computations the compiled evaluator runs in place of the callbacks,
 * a row per built-in, the same as its callback makes. */
ExprInPlace exprInPlaceFunction(ExprFunction function) {
    static const struct {
        ExprFunction callback;
        ExprInPlace compute;
    } rows[] = {
        {builtinAbs, {directAbs, nullptr, 0}},
        {builtinSqrt, {directSqrt, nullptr, 0}},
        {builtinSin, {directSin, nullptr, 0}},
        {builtinCos, {directCos, nullptr, 0}},
        {builtinTan, {directTan, nullptr, 0}},
        {builtinAtan, {directAtan, nullptr, 0}},
        {builtinLog, {directLog, nullptr, 0}},
        {builtinLn, {directLn, nullptr, 0}},
        {builtinExp, {directExp, nullptr, 0}},
        {builtinDeg, {directDeg, nullptr, 0}},
        {builtinRad, {directRad, nullptr, 0}},
        {builtinSinh, {bareSinh, nullptr, 1}},
        {builtinCosh, {bareCosh, nullptr, 1}},
        {builtinTanh, {bareTanh, nullptr, 1}},
        {builtinAsin, {bareAsin, nullptr, 1}},
        {builtinAcos, {bareAcos, nullptr, 1}},
        {builtinPow10, {barePow10, nullptr, 1}},
        {builtinCeil, {bareCeil, nullptr, 1}},
        {builtinFloor, {bareFloor, nullptr, 1}},
        {builtinAtan2, {nullptr, directAtan2, 0}},
        {builtinRecttopolr, {nullptr, directRecttopolr, 0}},
        {builtinRecttopola, {nullptr, directRecttopola, 0}},
        {builtinPoltorectx, {nullptr, directPoltorectx, 0}},
        {builtinPoltorecty, {nullptr, directPoltorecty, 0}},
        {builtinMod, {nullptr, bareFmod, 1}},
        {builtinPow, {nullptr, barePow, 1}},
    };
    for (const auto& row : rows)
        if (row.callback == function)
            return row.compute;
    return ExprInPlace{nullptr, nullptr, 0};
}
