/*
 * The computations of the mathematical built-ins (routines.h): what each
 * gives for every argument, NaNs, infinities and zeros included, and what it
 * reports, the same on every runtime, so every build gives the same bits.
 */
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "elementary.h"
#include "internal.h"
#include "routines.h"

/* ---- The routines used under the math-error rule ------------------------
 *
 * The runtimes disagree on what they put into errno: the 32-bit Windows
 * runtime leaves it at 0 for fmod(7, 0), pow(0, -1), pow(10, 400),
 * sinh(1000) and cosh(1000), and sets EDOM for asin, tanh and pow of a NaN;
 * glibc reports ERANGE for an underflow, the Windows runtime does not. So
 * whatever a routine left in errno is discarded for what the C standard has
 * it report, judged from arguments and result (exprMathReport): a NaN from
 * arguments that are not NaN is a domain error (EDOM), an infinity from
 * finite arguments a pole or an overflow (ERANGE). An underflow is reported
 * by none of them. The wrappers below, for the built-ins that test errno
 * after several computations, keep the value errno had before the call when
 * there is no report, so an error left there by an earlier computation
 * survives (poly clears errno once for many calls of pow).
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
 * takes some routines (tanh, exp, ...) for ones that touch no memory, and
 * would otherwise move them across the errno accesses or drop a restore it
 * thinks changes nothing; the Windows runtime's tanh sets EDOM for a NaN. */
template <typename Routine, typename... Args> double callBetween(int* before, Routine routine, Args... args) {
    *before = errno;
    (pinInMemoryOrder(args), ...);
    double value = exprFromRegister(routine(args...));
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

/* ---- What the runtimes leave open ---------------------------------------
 *
 * The runtimes disagree on the NaN a routine returns (its sign, its payload,
 * whether a signalling one is made quiet) and on the sign of some zeros: the
 * Windows runtime's modf (under wine) gives +0 as the fraction of -3, and
 * glibc's log10(-1) is +NaN where its log(-1) is -NaN. So the engine answers
 * those arguments itself: a NaN argument gives that NaN made quiet (the
 * first of two), as x86 arithmetic does; an argument outside the domain
 * gives the default NaN; zeros and the ends of the domain give their exact
 * values. The routines see only arguments whose results are nonzero numbers
 * or infinities, which every runtime signs alike, or have their result's
 * sign settled after. So every build gives the same bits, and the common
 * argument pays a comparison or two. */

constexpr uint64_t kQuietBit = 0x0008000000000000;
constexpr uint64_t kSignBit = 0x8000000000000000;
constexpr uint64_t kInfinityBits = 0x7FF0000000000000;
/* The NaN of x86 arithmetic for an invalid operation such as 0 * inf. */
constexpr uint64_t kDefaultNaN = 0xFFF8000000000000;

double quieted(double nan) {
    return std::bit_cast<double>(std::bit_cast<uint64_t>(nan) | kQuietBit);
}
double defaultNaN() {
    return std::bit_cast<double>(kDefaultNaN);
}

/* The NaN of a routine's result: the first NaN argument made quiet, or the
 * default NaN when the arguments had none. */
double nanResult(double a) {
    return std::isnan(a) ? quieted(a) : defaultNaN();
}
double nanResult(double a, double b) {
    return std::isnan(a) ? quieted(a) : nanResult(b);
}

/* ±0 or NaN, where an odd function gives its argument (made quiet). */
bool isZeroOrNaN(double a) {
    return !(a < 0.0 || a > 0.0);
}
double oddAtZeroOrNaN(double a) {
    return std::isnan(a) ? quieted(a) : a;
}

/* |a|, by the bits: MinGW's fabs is the x87 instruction. */
double magnitude(double a) {
    return std::bit_cast<double>(std::bit_cast<uint64_t>(a) & ~kSignBit);
}

/* The remainder by 2 is exact, and ±1 only for an odd integer (no
 * conversion to a 64-bit integer, which 32-bit x86 makes with the x87). */
bool isOddInteger(double b) {
    return magnitude(exprFromRegister(exprFmod(b, 2.0))) == 1.0;
}

}  // namespace

/* The bare routines behind the math-error-rule built-ins (routines.h). */
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprBareFmod(double a, double b) {
    if (std::isnan(a) || std::isnan(b)) return exprInRegister(nanResult(a, b));
    if (std::isinf(a) || b == 0.0) return exprInRegister(defaultNaN());
    return exprFmod(a, b); /* the sign of a, zero included */
}
/* pow decides NaN arguments itself (pow(NaN, 0) is 1); a zero or infinite
 * power is negative exactly when a negative base, -0 included, has an odd
 * integral exponent. */
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprBarePow(double a, double b) {
    const double value = exprFromRegister(exprPow(a, b));
    if (std::isnan(value)) return exprInRegister(nanResult(a, b));
    if (value != 0.0 && !std::isinf(value)) return exprInRegister(value);
    return exprInRegister(std::signbit(a) && isOddInteger(b) ? -magnitude(value) : magnitude(value));
}
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprBareSinh(double a) {
    return exprInRegister(isZeroOrNaN(a) ? oddAtZeroOrNaN(a) : exprFromRegister(exprSinh(a)));
}
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprBareCosh(double a) {
    return exprInRegister(std::isnan(a) ? quieted(a) : exprFromRegister(exprCosh(a)));
}
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprBareTanh(double a) {
    return exprInRegister(isZeroOrNaN(a) ? oddAtZeroOrNaN(a) : exprFromRegister(exprTanh(a)));
}
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprBareAsin(double a) {
    if (isZeroOrNaN(a)) return exprInRegister(oddAtZeroOrNaN(a));
    return exprInRegister(magnitude(a) <= 1.0 ? exprFromRegister(exprAsin(a)) : defaultNaN());
}
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprBareAcos(double a) {
    if (std::isnan(a)) return exprInRegister(quieted(a));
    if (a == 1.0) return exprInRegister(0.0);
    return exprInRegister(magnitude(a) <= 1.0 ? exprFromRegister(exprAcos(a)) : defaultNaN());
}
/* Strictly between -1 and 1 the result is 1, -1 or a zero with the sign of a. */
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprBareCeil(double a) {
    if (std::isnan(a)) return exprInRegister(quieted(a));
    if (magnitude(a) < 1.0) return exprInRegister(a > 0.0 ? 1.0 : std::copysign(0.0, a));
    return exprCeil(a);
}
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprBareFloor(double a) {
    if (std::isnan(a)) return exprInRegister(quieted(a));
    if (magnitude(a) < 1.0) return exprInRegister(a < 0.0 ? -1.0 : std::copysign(0.0, a));
    return exprFloor(a);
}
/* pow(10, a): 1 for a zero, a NaN made quiet, +0 and +inf at the ends. */
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprBarePow10(double a) {
    return exprInRegister(std::isnan(a) ? quieted(a) : exprFromRegister(exprExp10(a)));
}

namespace {

/* Both halves keep the sign of a: ipart(-0.5) and fpart(-3) are -0. */
double bareModf(double a, double* integral) {
    if (std::isnan(a)) {
        *integral = quieted(a);
        return quieted(a);
    }
    const double fraction = exprFromRegister(exprModf(a, integral));
    *integral = std::copysign(*integral, a);
    return std::copysign(fraction, a);
}

}  // namespace

/* The wrappers that report into errno (routines.h). */
extern "C" double exprMathFmod(double a, double b) {
    return underRule(exprBareFmod, a, b);
}

extern "C" double exprMathPow(double a, double b) {
    return underRule(exprBarePow, a, b);
}

extern "C" double exprMathModf(double a, double* integral) {
    int before;
    double fraction = callBetween(
        &before, [integral](double x) { return exprInRegister(bareModf(x, integral)); }, a);
    return reported(before, fraction, a);
}

namespace {

/* ---- Functions computed directly ----------------------------------------
 *
 * These never report a math error. glibc sets errno for exp(1000) and the
 * Windows runtime not always, so each keeps errno as it found it: nothing
 * they compute can leak into a later test of errno. */

template <typename Routine, typename... Args> double quietly(Routine routine, Args... args) {
    int before;
    double value = callBetween(&before, routine, args...);
    errno = before;
    return value;
}

/* Finite and not zero, in one test: the sign shifted out, zero wraps to
 * the top and infinities and NaNs lie at or above the limit. */
bool isFiniteNonzero(double a) {
    const uint64_t shifted = std::bit_cast<uint64_t>(a) << 1;
    return shifted - 1 < (kInfinityBits << 1) - 1;
}

/* sin and tan: of ±0 that zero; of any other finite argument a nonzero value. */
template <typename Routine> double oddPeriodic(Routine routine, double a) {
    if (isFiniteNonzero(a)) [[likely]]
        return exprFromRegister(routine(a));
    return a == 0.0 ? a : nanResult(a);
}

/* The correctly rounded root, as SSE2's sqrtsd gives it: where the
 * instruction is named directly, gcc adds no call of the runtime's sqrt
 * (for errno, on an argument below zero, which never comes here), whose
 * 32-bit Windows version is x87 code. */
double hardwareRoot(double a) {
#if defined(__SSE2__)
    return _mm_cvtsd_f64(_mm_sqrt_sd(_mm_setzero_pd(), _mm_set_sd(a)));
#else
    return std::sqrt(a);
#endif
}

/* log10 and ln: minus infinity at both zeros, +0 at 1, the default NaN
 * below zero. The engine's own routines leave errno alone. */
double logarithm(ExprRegisterDouble EXPR_REGISTER_CALL (*routine)(double), double a) {
    if (!(a > 0.0)) return std::isnan(a) ? quieted(a) : a == 0.0 ? -HUGE_VAL : defaultNaN();
    if (a == 1.0) return 0.0;
    return exprFromRegister(routine(a));
}

}  // namespace

/* The direct routines (routines.h). */
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprDirectSin(double a) {
    return exprInRegister(oddPeriodic(exprSin, a));
}
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprDirectCos(double a) {
    return exprInRegister(std::isfinite(a) ? exprFromRegister(exprCos(a)) : nanResult(a));
}
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprDirectTan(double a) {
    return exprInRegister(oddPeriodic(exprTan, a));
}
/* The hardware's root, exact, -0 for -0; below zero the default NaN. */
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprDirectSqrt(double a) {
    return exprInRegister(a >= 0.0 ? hardwareRoot(a) : nanResult(a));
}
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprDirectAtan(double a) {
    return exprInRegister(isZeroOrNaN(a) ? oddAtZeroOrNaN(a) : exprFromRegister(exprAtan(a)));
}
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprDirectLog(double a) {
    return exprInRegister(logarithm(exprLog10, a));
}
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprDirectLn(double a) {
    return exprInRegister(logarithm(exprLn, a));
}
/* An underflow is +0. */
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprDirectExp(double a) {
    if (std::isnan(a)) return exprInRegister(quieted(a));
    return exprExp(a);
}
/* The angle has the sign of y, ±0 and ±pi included. */
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprDirectAtan2(double y, double x) {
    if (std::isnan(y) || std::isnan(x)) return exprInRegister(nanResult(y, x));
    return exprInRegister(std::copysign(exprFromRegister(exprAtan2(y, x)), y));
}

namespace {
/* 180/pi and pi/180, the doubles nearest them; multiplied, never divided,
 * so that deg(M_PI) is exactly 180 and rad(180) exactly M_PI. */
constexpr double kDegreesPerRadian = 0x1.ca5dc1a63c1f8p+5;
constexpr double kRadiansPerDegree = 0x1.1df46a2529d39p-6;
constexpr double kTwoPi = 0x1.921fb54442d18p+2;
}  // namespace

extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprDirectDeg(double a) {
    return exprInRegister(a * kDegreesPerRadian);
}
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprDirectRad(double a) {
    return exprInRegister(a * kRadiansPerDegree);
}
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprDirectRecttopolr(double x, double y) {
    return exprDirectSqrt(exprAdd(x * x, y * y));
}
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprDirectPoltorectx(double r, double angle) {
    return exprInRegister(exprMul(r, exprFromRegister(exprDirectCos(angle))));
}
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprDirectPoltorecty(double r, double angle) {
    return exprInRegister(exprMul(r, exprFromRegister(exprDirectSin(angle))));
}

/* The angle of (x, y) in [0, 2 pi); a negative zero stays negative zero. */
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprDirectRecttopola(double x, double y) {
    double angle = exprFromRegister(exprDirectAtan2(y, x));
    return exprInRegister(angle < 0.0 ? angle + kTwoPi : angle);
}
