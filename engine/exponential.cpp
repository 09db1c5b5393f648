/*
 * Exponentials, logarithms, powers and hyperbolic functions (elementary.h).
 *
 * exp: x = k ln2/256 + r with |r| <= ln2/512, e^x = 2^(k/256) e^r, the
 * power of two from a table of 2^(j/256) as hi + lo and e^r from a short
 * polynomial. ln: a = 2^k z, z = c (1 + r) with c from a table of 128
 * intervals, ln a = k ln2 + ln c + ln(1 + r). Both carry their result as a
 * pair hi + lo, about 2^-62 relative on the plain paths (so that a result
 * rounded once at the end is correctly rounded for all but about 0.04 % of
 * arguments) and 2^-70 on the precise ones, which pow (for |b| >= 16) and
 * the hyperbolic functions' cancelling differences take.
 *
 * Pairs are formed with the classic exact transformations (the sum of two
 * doubles as a double and its rounding error; the product likewise, by
 * splitting the factors in halves), which hold for IEEE double arithmetic
 * without fused multiply-add.
 */
#include <bit>
#include <cstdint>

#include "elementary.h"
#include "exponential_tables.h"

namespace {

using namespace exponential_tables;

struct Pair {
    double hi, lo;
};

uint64_t bitsOf(double a) {
    return std::bit_cast<uint64_t>(a);
}
double fromBits(uint64_t bits) {
    return std::bit_cast<double>(bits);
}
double magnitude(double a) {
    return fromBits(bitsOf(a) & ~(uint64_t{1} << 63));
}
bool isNegative(double a) {
    return (bitsOf(a) >> 63) != 0;
}
bool isNaN(double a) {
    return (bitsOf(a) << 1) > (uint64_t{0x7FF} << 53);
}
bool isSignalling(double a) {
    return isNaN(a) && (bitsOf(a) & 0x0008000000000000) == 0;
}
double quietNaN(double nan) {
    return fromBits(bitsOf(nan) | 0x0008000000000000);
}
/* The NaN of x86 arithmetic for an invalid operation. */
double invalid() {
    return fromBits(0xFFF8000000000000);
}
constexpr double kInfinity = __builtin_inf();

/* 2^n for -1022 <= n <= 1023. */
double powerOfTwo(int64_t n) {
    return fromBits(static_cast<uint64_t>(n + 1023) << 52);
}

/* a + b exactly as hi + lo. */
Pair twoSum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}
/* The same when |a| >= |b| or a is zero. */
Pair fastTwoSum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}
/* Halves of at most 26 bits each (Veltkamp); |a| < 2^995. */
Pair split(double a) {
    const double c = 134217729.0 * a; /* 2^27 + 1 */
    const double hi = c - (c - a);
    return {hi, a - hi};
}
/* a * b exactly as hi + lo. */
Pair twoProduct(double a, double b) {
    const double p = a * b;
    const Pair x = split(a);
    const Pair y = split(b);
    return {p, ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
}
/* (a.hi + a.lo) / (b.hi + b.lo) as a pair. */
Pair quotient(Pair a, Pair b) {
    const double reciprocal = 1.0 / b.hi; /* one division; the rest is exact or tiny */
    const double q = a.hi * reciprocal;
    const Pair p = twoProduct(q, b.hi);
    const double rest = (((a.hi - p.hi) - p.lo) + a.lo) - q * b.lo;
    return fastTwoSum(q, rest * reciprocal);
}

/* ---- The exponential ----------------------------------------------------- */

/* e^x as (hi + lo) 2^exponent, hi + lo in [0.99, 2.01]; from the precise
 * paths |lo| <= ulp(hi)/2, from the plain ones |lo| < 2^-9 hi. */
struct Scaled {
    double hi, lo;
    int64_t exponent;
};

constexpr double kRoundingShift = 0x1.8p52; /* adding it rounds to an integer */

/* e^(x + dx) for |x| < 750 and |dx| <= ulp(x): about 2^-70 relative when
 * precise (for the sums and quotients of the hyperbolic functions), about
 * 2^-62 otherwise (the product 2^(j/256) r rounded once). */
template <bool kPrecise> Scaled expCore(double x, double dx) {
    const double shifted = x * kExpInvStep + kRoundingShift;
    const int64_t k = static_cast<int64_t>(bitsOf(shifted) - bitsOf(kRoundingShift));
    const double kd = shifted - kRoundingShift;
    /* x - k hi is exact: k hi is exact, and within a factor 2 of x. */
    const Pair r = twoSum(x - kd * kExpStepHi, dx - kd * kExpStepLo);
    const double rr = r.hi * r.hi;
    const double poly =
        (kExpPoly[0] + r.hi * kExpPoly[1]) + rr * (kExpPoly[2] + r.hi * (kExpPoly[3] + r.hi * kExpPoly[4]));
    /* e^r - 1 - r.hi */
    const double tail = r.lo + rr * poly;
    const int64_t j = k & ((1 << kExpBits) - 1);
    const double tHi = kExpTable[2 * j];
    const double tLo = kExpTable[2 * j + 1];
    /* 2^(j/256) e^r = tHi + tHi r.hi + (tHi tail + tLo + tLo (r.hi + tail)) */
    if constexpr (kPrecise) {
        const Pair linear = twoProduct(tHi, r.hi);
        const Pair sum = fastTwoSum(tHi, linear.hi);
        const double lo = sum.lo + (linear.lo + (tHi * tail + (tLo + tLo * r.hi)));
        const Pair e = fastTwoSum(sum.hi, lo);
        return {e.hi, e.lo, k >> kExpBits};
    } else {
        return {tHi, tHi * (r.hi + tail) + (tLo + tLo * r.hi), k >> kExpBits};
    }
}

/* e^x as expCore<false> gives it, with fewer operations: r and the product
 * 2^(j/256) r each rounded once (errors of about 2^-62 relative, so that
 * the result is still correctly rounded for nearly every argument). */
Scaled expPlain(double x) {
    const double shifted = x * kExpInvStep + kRoundingShift;
    const int64_t k = static_cast<int64_t>(bitsOf(shifted) - bitsOf(kRoundingShift));
    const double kd = shifted - kRoundingShift;
    const double r = (x - kd * kExpStepHi) - kd * kExpStepLo;
    const double rr = r * r;
    const double poly = (kExpPoly[0] + r * kExpPoly[1]) + rr * (kExpPoly[2] + r * (kExpPoly[3] + r * kExpPoly[4]));
    const int64_t j = k & ((1 << kExpBits) - 1);
    const double tHi = kExpTable[2 * j];
    const double tLo = kExpTable[2 * j + 1];
    return {tHi, tHi * (r + rr * poly) + tLo, k >> kExpBits};
}

/* (hi + lo) 2^exponent rounded once, subnormal and overflowing results
 * included. */
ExprRegisterDouble EXPR_REGISTER_CALL roundScaled(Scaled e) {
    if (e.exponent > -1021 && e.exponent < 1023) [[likely]]
        return exprInRegister((e.hi + e.lo) * powerOfTwo(e.exponent));
    if (e.exponent >= 1023) return exprInRegister(((e.hi + e.lo) * powerOfTwo(e.exponent - 2)) * 4.0);
    /* Below 2^-1022: the value in units of 2^-1022 is hi + lo; added to 1
     * its sum rounds on the grid of the subnormals, once. */
    const double scale = powerOfTwo(e.exponent + 1022);
    const double hi = e.hi * scale;
    const double lo = e.lo * scale;
    if (hi + lo >= 1.0) return exprInRegister((hi + lo) * 0x1p-1022);
    const Pair shifted = fastTwoSum(1.0, hi);
    const double rounded = shifted.hi + (shifted.lo + lo);
    return exprInRegister((rounded - 1.0) * 0x1p-1022);
}

/* Beyond these e^x is infinite or rounds to zero; inside them expCore
 * holds and roundScaled decides the edges. */
constexpr double kExpOverflow = 709.8;
constexpr double kExpUnderflow = -745.2;

/* e^x - 1 as a pair, for |x| < 40; plain only where e^x >= 2, so that the
 * difference does not cancel. */
template <bool kPrecise> Pair expMinusOne(double x) {
    const Scaled e = expCore<kPrecise>(x, 0.0);
    const double scale = powerOfTwo(e.exponent);
    const Pair d = twoSum(e.hi * scale, -1.0);
    return fastTwoSum(d.hi, d.lo + e.lo * scale);
}

/* ---- The logarithm ------------------------------------------------------- */

/* ln a as a pair for a positive and finite: about 2^-70 relative when
 * precise (for pow), about 2^-62 otherwise (r^2 rounded once). */
template <bool kPrecise> Pair logCore(double a) {
    uint64_t bits = bitsOf(a);
    int64_t exponentBias = 0;
    if (bits < (uint64_t{1} << 52)) [[unlikely]] { /* subnormal: scaled up exactly */
        bits = bitsOf(a * 0x1p52);
        exponentBias = -52;
    }
    const uint64_t offset = bits - kLogOffset;
    const int64_t index = static_cast<int64_t>((offset >> (52 - kLogBits)) & ((1 << kLogBits) - 1));
    const int64_t k = (static_cast<int64_t>(offset) >> 52) + exponentBias;
    const uint64_t zBits = bits - (offset & (uint64_t{0xFFF} << 52));
    const double z = fromBits(zBits);
    const LogEntry& entry = kLogTable[index];
    /* r = z invc - 1 exactly: z's halves times invc are exact, the high
     * product lies within 2^-7 of 1. Their sum needs no full twoSum: where
     * the high part is the smaller, both are multiples of 2^-73 below
     * 2^-24, and their sum is exact. */
    const double zHi = fromBits(zBits & ~((uint64_t{1} << 27) - 1));
    const double zLo = z - zHi;
    const Pair r = fastTwoSum(zHi * entry.invc - 1.0, zLo * entry.invc);
    const double kd = static_cast<double>(static_cast<int32_t>(k)); /* |k| < 1100: one SSE2 conversion on i686 too */
    const double base = kd * kLn2Hi + entry.logcHi;                 /* exact: both on the grid 2^-43 */
    const Pair first = fastTwoSum(base, r.hi);
    const double rr = r.hi * r.hi;
    const double poly = (kLogPoly[0] + r.hi * kLogPoly[1]) +
                        rr * ((kLogPoly[2] + r.hi * kLogPoly[3]) + rr * (kLogPoly[4] + r.hi * kLogPoly[5]));
    /* ln(1 + r) = r - r^2/2 + r^3 poly, with r = r.hi + r.lo */
    const double small = (r.lo + (kd * kLn2Lo + entry.logcLo)) + r.hi * rr * poly;
    if constexpr (kPrecise) {
        const Pair square = twoProduct(r.hi, r.hi);
        const Pair second = fastTwoSum(first.hi, -0.5 * square.hi);
        const double lo = first.lo + second.lo + (small - r.hi * r.lo - 0.5 * square.lo);
        return fastTwoSum(second.hi, lo);
    } else {
        return {first.hi, first.lo + (small - 0.5 * rr)};
    }
}

/* ---- Powers --------------------------------------------------------------- */

enum class Parity { NotInteger, Even, Odd };

Parity parityOf(double b) {
    const uint64_t bits = bitsOf(b) & ~(uint64_t{1} << 63);
    const int64_t exponent = static_cast<int64_t>(bits >> 52) - 1023;
    if (exponent > 52) return Parity::Even;
    if (exponent < 0) return bits == 0 ? Parity::Even : Parity::NotInteger;
    const uint64_t unit = uint64_t{1} << (52 - exponent);
    if ((bits & (unit - 1)) != 0) return Parity::NotInteger;
    return (bits & unit) != 0 ? Parity::Odd : Parity::Even;
}

double negatedIf(bool negative, double a) {
    return negative ? -a : a;
}

/* e^(y.hi + y.lo), overflow and underflow included. */
ExprRegisterDouble EXPR_REGISTER_CALL expOfPair(Pair y) {
    if (y.hi > kExpOverflow) return exprInRegister(kInfinity);
    if (y.hi < kExpUnderflow) return exprInRegister(0.0);
    return roundScaled(expCore<false>(y.hi, y.lo));
}

/* a^b for a finite and positive, b finite and nonzero. */
ExprRegisterDouble EXPR_REGISTER_CALL positivePower(double a, double b) {
    /* Beyond 2^64, |b ln a| > 2^10 for every a other than 1. */
    if (magnitude(b) > 0x1p64) {
        if (a == 1.0) return exprInRegister(1.0);
        return exprInRegister((a > 1.0) == (b > 0.0) ? kInfinity : 0.0);
    }
    /* The rounding of r^2 in the plain logarithm, 2^-70 absolute, stays
     * below 2^-66 in b ln a for |b| < 16. */
    const Pair logA = magnitude(b) < 16.0 ? logCore<false>(a) : logCore<true>(a);
    const Pair product = twoProduct(b, logA.hi);
    return expOfPair(fastTwoSum(product.hi, product.lo + b * logA.lo));
}

/* The C standard's values where a or b is zero, infinite or NaN. */
double specialPower(double a, double b, Parity parity) {
    if (isNaN(a) || isNaN(b)) return quietNaN(isNaN(a) ? a : b);
    const bool oddNegative = parity == Parity::Odd && isNegative(a);
    if (b == kInfinity || b == -kInfinity) {
        const double m = magnitude(a);
        if (m == 1.0) return 1.0;
        return (m < 1.0) == (b < 0.0) ? kInfinity : 0.0;
    }
    if (a == 0.0) return negatedIf(oddNegative, b < 0.0 ? kInfinity : 0.0);
    /* a infinite */
    return negatedIf(oddNegative, b < 0.0 ? 0.0 : kInfinity);
}

bool isFiniteNonzero(double a) {
    const uint64_t m = bitsOf(a) << 1;
    return m - 1 < (uint64_t{0x7FF} << 53) - 1;
}

/* Positive and finite, in one test: zero wraps to the top. */
bool isPositiveFinite(double a) {
    return bitsOf(a) - 1 < bitsOf(kInfinity) - 1;
}

/* The logarithms' values at NaN, zero, below zero and infinity. */
double logarithmAtEdge(double a) {
    if (isNaN(a)) return quietNaN(a);
    if (a == 0.0) return -kInfinity;
    return a < 0.0 ? invalid() : a;
}

}  // namespace

/* ---- The functions -------------------------------------------------------- */

extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprExp(double a) {
    if (isNaN(a)) return exprInRegister(quietNaN(a));
    if (a > kExpOverflow) return exprInRegister(kInfinity);
    if (a < kExpUnderflow) return exprInRegister(0.0);
    return roundScaled(expPlain(a));
}

extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprExp10(double a) {
    if (isNaN(a)) return exprInRegister(quietNaN(a));
    if (a > 308.5) return exprInRegister(kInfinity);
    if (a < -323.7) return exprInRegister(0.0);
    const Pair product = twoProduct(a, kLn10Hi);
    return expOfPair(fastTwoSum(product.hi, product.lo + a * kLn10Lo));
}

extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprLn(double a) {
    if (!isPositiveFinite(a)) [[unlikely]]
        return exprInRegister(logarithmAtEdge(a));
    const Pair l = logCore<false>(a);
    return exprInRegister(l.hi + l.lo);
}

extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprLog10(double a) {
    if (!isPositiveFinite(a)) [[unlikely]]
        return exprInRegister(logarithmAtEdge(a));
    const Pair l = logCore<false>(a);
    const Pair product = twoProduct(l.hi, kLog10eHi);
    return exprInRegister(product.hi + (product.lo + (l.hi * kLog10eLo + l.lo * kLog10eHi)));
}

extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprPow(double a, double b) {
    if (isFiniteNonzero(b) && isPositiveFinite(a)) [[likely]]
        return positivePower(a, b);
    /* A signalling NaN gives NaN even where a quiet one gives 1. */
    if (isSignalling(a) || isSignalling(b)) return exprInRegister(quietNaN(isNaN(a) ? a : b));
    if (b == 0.0 || a == 1.0) return exprInRegister(1.0); /* a quiet NaN included */
    const Parity parity = parityOf(b);
    if (!isFiniteNonzero(a) || !isFiniteNonzero(b)) return exprInRegister(specialPower(a, b, parity));
    if (a > 0.0) return positivePower(a, b);
    if (parity == Parity::NotInteger) return exprInRegister(invalid());
    return exprInRegister(negatedIf(parity == Parity::Odd, exprFromRegister(positivePower(-a, b))));
}

/* Where e^-|a| no longer shows (|a| >= 22), cosh and sinh are e^|a|/2,
 * which stays finite up to 710.47... */
constexpr double kHyperbolicLarge = 22.0;
constexpr double kHyperbolicOverflow = 711.0;

namespace {

/* (e^x + sign e^-x)/2 for x >= 0, sign 1 or -1; for -1, x >= 1, where the
 * difference loses at most a bit or two. Both exponentials come from one
 * reduction, x = k ln2/256 + r and -x = -k ln2/256 - r: two table values
 * and the even and odd parts of one polynomial; each to about 2^-62. */
ExprRegisterDouble EXPR_REGISTER_CALL halfExpSum(double x, double sign) {
    if (x >= kHyperbolicLarge) {
        Scaled e = expCore<false>(x, 0.0);
        e.exponent -= 1;
        return roundScaled(e);
    }
    const double shifted = x * kExpInvStep + kRoundingShift;
    const int64_t k = static_cast<int64_t>(bitsOf(shifted) - bitsOf(kRoundingShift));
    const double kd = shifted - kRoundingShift;
    const double r = (x - kd * kExpStepHi) - kd * kExpStepLo;
    const double rr = r * r;
    const double even = kExpPoly[0] + rr * (kExpPoly[2] + rr * kExpPoly[4]);
    const double odd = r * (kExpPoly[1] + rr * kExpPoly[3]);
    /* e^r - 1 and e^-r - 1 */
    const double up = r + rr * (even + odd);
    const double down = -r + rr * (even - odd);
    const int64_t mask = (1 << kExpBits) - 1;
    const int64_t j = k & mask;
    const int64_t jNegative = (-k) & mask;
    const double scaleUp = powerOfTwo(k >> kExpBits);
    const double scaleDown = powerOfTwo((-k) >> kExpBits) * sign;
    const double bigHi = kExpTable[2 * j] * scaleUp;
    const double bigLo = (kExpTable[2 * j] * up + kExpTable[2 * j + 1]) * scaleUp;
    const double smallHi = kExpTable[2 * jNegative] * scaleDown;
    const double smallLo = (kExpTable[2 * jNegative] * down + kExpTable[2 * jNegative + 1]) * scaleDown;
    const Pair sum = fastTwoSum(bigHi, smallHi);
    return exprInRegister(0.5 * (sum.hi + (sum.lo + (bigLo + smallLo))));
}

}  // namespace

extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprCosh(double a) {
    if (isNaN(a)) return exprInRegister(quietNaN(a));
    const double x = magnitude(a);
    if (x < 0x1p-26) return exprInRegister(1.0);
    if (x > kHyperbolicOverflow) return exprInRegister(kInfinity);
    return halfExpSum(x, 1.0);
}

extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprSinh(double a) {
    if (isNaN(a)) return exprInRegister(quietNaN(a));
    const double x = magnitude(a);
    const bool negative = isNegative(a);
    if (x < 0x1p-26) return exprInRegister(a);
    if (x > kHyperbolicOverflow) return exprInRegister(negatedIf(negative, kInfinity));
    if (x >= 1.0) return exprInRegister(negatedIf(negative, exprFromRegister(halfExpSum(x, -1.0))));
    /* (u + u/(u + 1))/2 with u = e^x - 1: no cancellation near 0 */
    const Pair u = expMinusOne<true>(x);
    const Pair uPlusOne = fastTwoSum(1.0, u.hi);
    const Pair w = quotient(u, {uPlusOne.hi, uPlusOne.lo + u.lo});
    const Pair sum = fastTwoSum(u.hi, w.hi);
    return exprInRegister(negatedIf(negative, 0.5 * (sum.hi + (sum.lo + (u.lo + w.lo)))));
}

extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprTanh(double a) {
    if (isNaN(a)) return exprInRegister(quietNaN(a));
    const double x = magnitude(a);
    const bool negative = isNegative(a);
    if (x < 0x1p-27) return exprInRegister(a);
    /* Beyond 19.07, 1 - tanh < 2^-54: it rounds to 1. */
    if (x > 19.5) return exprInRegister(negatedIf(negative, 1.0));
    /* u/(u + 2) with u = e^2x - 1 */
    const Pair u = x < 0.55 ? expMinusOne<true>(2.0 * x) : expMinusOne<false>(2.0 * x);
    const Pair uPlusTwo = twoSum(u.hi, 2.0);
    const Pair t = quotient(u, {uPlusTwo.hi, uPlusTwo.lo + u.lo});
    return exprInRegister(negatedIf(negative, t.hi + t.lo));
}
