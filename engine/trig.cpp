/*
 * Sine, cosine, tangent and their inverses (elementary.h), from IEEE double
 * arithmetic and integer operations alone, so every build gives the same
 * bits.
 *
 * The method keeps each result's error far below half an ulp before the last
 * rounding: values that matter are carried as the unevaluated sum of two
 * doubles (a Pair), whose sums and products are made exact by the classic
 * error-free transformations (no fused multiply-add, so products are split).
 *
 * - sin, cos, tan: |x| = j pi/128 + d with |d| <= pi/256, d as a Pair:
 *   j by rounding, d by taking off the parts of pi/128 (exact products) up to
 *   1.5 * 2^20, and beyond that from the integer product of the argument's
 *   significand with a window of the bits of 2/pi. j gives the quadrant and
 *   a step a of a table of sin a and cos a; short polynomials in d give the
 *   rest of sin(a + d) and cos(a + d).
 * - atan, atan2, asin, acos: one angle of a point (x, y): the quotient of
 *   the smaller by the larger coordinate, t in [0, 1], is split as t = c +
 *   (t - c) with c = j/32 from a table of atan c, and atan t = atan c +
 *   atan((t - c) / (1 + t c)) by a short polynomial. asin and acos are the
 *   angles of (sqrt(1 - a^2), a) and (a, sqrt(1 - a^2)), the root as a Pair.
 *
 * Constants, tables and coefficients come from scripts/mathgen/trig.py.
 */
#include <bit>
#include <cstdint>

#include "elementary.h"
#include "trig_tables.h"

namespace {

using namespace trig_tables;

/* ---- Bits of doubles ----------------------------------------------------- */

constexpr uint64_t kSignBit = 0x8000000000000000;
constexpr uint64_t kQuietBit = 0x0008000000000000;
constexpr uint64_t kExponentMask = 0x7FF0000000000000;
constexpr uint64_t kSignificandMask = 0x000FFFFFFFFFFFFF;
/* The NaN of x86 arithmetic for an invalid operation. */
constexpr uint64_t kDefaultNaN = 0xFFF8000000000000;

inline uint64_t bitsOf(double x) {
    return std::bit_cast<uint64_t>(x);
}
inline double fromBits(uint64_t bits) {
    return std::bit_cast<double>(bits);
}
inline double magnitude(double x) {
    return fromBits(bitsOf(x) & ~kSignBit);
}
inline bool signBit(double x) {
    return (bitsOf(x) & kSignBit) != 0;
}
inline double negatedIf(bool negate, double x) {
    return negate ? -x : x;
}
/* Biased exponent field: 0 for zeros and subnormals, 2047 for infinities. */
inline int exponentField(double x) {
    return static_cast<int>((bitsOf(x) >> 52) & 0x7FF);
}
inline bool isNaN(double x) {
    return (bitsOf(x) & ~kSignBit) > kExponentMask;
}
inline bool isFinite(double x) {
    return (bitsOf(x) & ~kSignBit) < kExponentMask;
}
inline bool isInfinite(double x) {
    return (bitsOf(x) & ~kSignBit) == kExponentMask;
}
inline double quieted(double nan) {
    return fromBits(bitsOf(nan) | kQuietBit);
}
inline double defaultNaN() {
    return fromBits(kDefaultNaN);
}
/* 2^n for a normal power. */
inline double powerOfTwo(int n) {
    return fromBits(static_cast<uint64_t>(n + 1023) << 52);
}

/* Adding this to a double of magnitude below 2^51 rounds it to an integer,
 * which the low bits of the sum then hold; subtracting it again gives that
 * integer as a double. */
constexpr double kRoundingShift = 0x1.8p52;

/* ---- Exact sums and products --------------------------------------------- */

struct Pair {
    double hi;
    double lo;
};

/* a + b exactly, when |a| >= |b| or a is zero. */
inline Pair fastTwoSum(double a, double b) {
    const double sum = a + b;
    return {sum, b - (sum - a)};
}
/* a + b exactly, whatever their sizes. */
inline Pair twoSum(double a, double b) {
    const double sum = a + b;
    const double bPart = sum - a;
    return {sum, (a - (sum - bPart)) + (b - bPart)};
}
/* a as two halves of at most 26 significant bits each (|a| < 2^995). */
inline Pair split(double a) {
    const double scaled = 0x1.0000002p27 * a; /* (2^27 + 1) a */
    const double hi = scaled - (scaled - a);
    return {hi, a - hi};
}
/* a with the low 27 bits of its significand cleared: 26 significant bits,
 * so that the product of two such is exact. */
inline double leading26(double a) {
    return fromBits(bitsOf(a) & 0xFFFFFFFFF8000000);
}
/* a * b exactly, for products far from overflow and underflow. */
inline Pair twoProduct(double a, double b) {
    const Pair as = split(a);
    const Pair bs = split(b);
    const double product = a * b;
    const double error = ((as.hi * bs.hi - product) + as.hi * bs.lo + as.lo * bs.hi) + as.lo * bs.lo;
    return {product, error};
}
/* a * b as a Pair within 2^-104 of the product: split by masking bits,
 * cheaper than twoProduct, whose last partial product is exact too. */
inline Pair nearProduct(double a, double b) {
    const double a1 = leading26(a), b1 = leading26(b);
    const double a2 = a - a1, b2 = b - b1;
    const double product = a * b;
    return {product, ((a1 * b1 - product) + a1 * b2 + a2 * b1) + a2 * b2};
}
/* n / d for Pairs, to about twice double precision. */
inline Pair divide(Pair n, Pair d) {
    const double quotient = n.hi / d.hi;
    const Pair back = nearProduct(quotient, d.hi);
    const double remainder = ((n.hi - back.hi) - back.lo) + n.lo - quotient * d.lo;
    return {quotient, remainder / d.hi};
}
inline Pair negated(Pair p) {
    return {-p.hi, -p.lo};
}

/* ---- Reduction by steps of pi/128 --------------------------------------- */

/* |x| = j pi/128 + d as a Pair with |d| <= pi/256 (a little more at the
 * ends), and j modulo 256: the quadrant is j / 64 and the table step
 * j modulo 64. */
struct Reduced {
    Pair d;
    unsigned j;
};

/* Below this j stays below 2^26, so that j times each of the first four
 * parts of the step is exact. */
constexpr double kModerateLimit = 0x1.8p20;

/* |x| < kModerateLimit. The first two parts are taken off exactly; the rest
 * is small unless d cancels almost to nothing, where the next two are taken
 * off exactly too. */
inline Reduced reduceModerate(double ax) {
    const double shifted = ax * kStepsPerRadian + kRoundingShift;
    const auto j = static_cast<unsigned>(bitsOf(shifted)) & 255;
    const double k = shifted - kRoundingShift;
    const double first = ax - k * kStepPart1; /* exact: close operands */
    const Pair second = twoSum(first, -(k * kStepPart2));
    const double third = k * kStepPart3;
    const double fourth = k * kStepPart4;
    if (magnitude(second.hi) > 0x1p-20) [[likely]]
        return {fastTwoSum(second.hi, second.lo - (third + fourth)), j};
    const Pair rest = twoSum(second.hi, -third);
    const Pair rest2 = twoSum(rest.hi, -fourth);
    return {twoSum(rest2.hi, ((second.lo + rest.lo) + rest2.lo) - k * kStepPart5), j};
}

/* The high and low words of the 128-bit product a * b. */
inline void multiplyWide(uint64_t a, uint64_t b, uint64_t* high, uint64_t* low) {
    const uint64_t a0 = a & 0xFFFFFFFF, a1 = a >> 32;
    const uint64_t b0 = b & 0xFFFFFFFF, b1 = b >> 32;
    const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
    const uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFF) + (p10 & 0xFFFFFFFF);
    *low = (middle << 32) | (p00 & 0xFFFFFFFF);
    *high = p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32);
}

/* 64 bits of 2/pi starting at bit `position` of kTwoOverPiBits. */
inline uint64_t twoOverPiWindow(int position) {
    const int word = position >> 6;
    const int shift = position & 63;
    const uint64_t high = kTwoOverPiBits[word] << shift;
    return shift == 0 ? high : high | (kTwoOverPiBits[word + 1] >> (64 - shift));
}

/* A 192-bit unsigned fraction, most significant word first. */
struct Fraction {
    uint64_t w0, w1, w2;
};

inline Fraction negatedFraction(Fraction f) {
    const uint64_t w2 = ~f.w2 + 1;
    const uint64_t w1 = ~f.w1 + (w2 == 0 ? 1 : 0);
    const uint64_t w0 = ~f.w0 + (w2 == 0 && w1 == 0 ? 1 : 0);
    return {w0, w1, w2};
}

/* The fraction f.w0 f.w1 f.w2 / 2^192 as a Pair; f is not zero. */
inline Pair pairOfFraction(Fraction f) {
    int scale = -192;
    while (f.w0 == 0) {
        f = {f.w1, f.w2, 0};
        scale -= 64;
    }
    const int lead = std::countl_zero(f.w0);
    if (lead != 0) {
        f.w0 = (f.w0 << lead) | (f.w1 >> (64 - lead));
        f.w1 = (f.w1 << lead) | (f.w2 >> (64 - lead));
        scale -= lead;
    }
    /* The top 53 bits, and the 52 after them, as exact integers in doubles. */
    const uint64_t top = f.w0 >> 11;
    const uint64_t next = ((f.w0 & 0x7FF) << 41) | (f.w1 >> 23);
    const double hi = fromBits(0x4330000000000000 | (top & kSignificandMask));
    const double lo = fromBits(0x4330000000000000 | next) - 0x1p52;
    return {hi * powerOfTwo(scale + 139), lo * powerOfTwo(scale + 87)};
}

/* |x| >= kModerateLimit, finite. With |x| = m 2^e (m an integer of 53 bits),
 * x 128/pi = m 2^(e+6) 2/pi modulo 256 needs the bits of 2/pi from the one
 * worth 2^-(e-1) on: earlier ones add multiples of 256. m times 192 of them
 * gives j modulo 256 in its top eight bits and the fraction after them, to
 * far more bits than the smallest d of any double needs. */
Reduced reduceHuge(double ax) {
    const uint64_t bits = bitsOf(ax);
    const uint64_t m = (bits & kSignificandMask) | (kSignificandMask + 1);
    const int e = exponentField(ax) - 1075;
    /* Bit i after the binary point of 2/pi stands at position i + 63. */
    const int position = e - 1 + 63;
    const uint64_t w0 = twoOverPiWindow(position);
    const uint64_t w1 = twoOverPiWindow(position + 64);
    const uint64_t w2 = twoOverPiWindow(position + 128);

    uint64_t high2, low2, high1, low1;
    multiplyWide(m, w2, &high2, &low2);
    multiplyWide(m, w1, &high1, &low1);
    const uint64_t r1 = low1 + high2;
    const uint64_t r0 = m * w0 + high1 + (r1 < low1 ? 1 : 0);
    const uint64_t r2 = low2;

    /* The product is x 2/pi modulo 4 over 2^190: x 128/pi modulo 256 over 2^184. */
    unsigned j = static_cast<unsigned>(r0 >> 56);
    Fraction f = {(r0 << 8) | (r1 >> 56), (r1 << 8) | (r2 >> 56), r2 << 8};
    const bool aboveHalf = (f.w0 >> 63) != 0;
    if (aboveHalf) { /* round j up; the fraction becomes negative */
        j += 1;
        f = negatedFraction(f);
    }
    if ((f.w0 | f.w1 | f.w2) == 0) return {{0.0, 0.0}, j & 255};
    const Pair fraction = pairOfFraction(f);
    const Pair product = twoProduct(fraction.hi, kStepHi);
    const double low = product.lo + (fraction.hi * kStepLo + fraction.lo * kStepHi);
    const Pair d = fastTwoSum(product.hi, low);
    return {aboveHalf ? negated(d) : d, j & 255};
}

inline Reduced reduce(double ax) {
    if (ax < kModerateLimit) [[likely]]
        return reduceModerate(ax);
    return reduceHuge(ax);
}

/* ---- Sine and cosine of a reduced argument ------------------------------ */

/* The angle a + d, a = i pi/128 a step of the table (sin a and cos a), with
 * sin d - d and cos d - 1 from the polynomials. */
struct Split {
    const double* row; /* sin a, cos a, -sin a, each hi and lo */
    double dh, dl;     /* d */
    double sinTail;    /* sin d - d */
    double cosTail;    /* cos d - 1 */
};

inline Split splitOf(const Reduced& reduced) {
    const double dh = reduced.d.hi;
    const double z = dh * dh;
    const double sinTail = dh * z * (kSinTail[0] + z * (kSinTail[1] + z * kSinTail[2]));
    const double cosTail = z * (kCosTail[0] + z * (kCosTail[1] + z * kCosTail[2]));
    return {kSinCos[reduced.j % kSinCosStepsPerQuadrant], dh, reduced.d.lo, sinTail, cosTail};
}

/* f(a + d) for f = sin (useCosine 0) or cos (1): with A = f(a) and
 * B = f'(a), f(a + d) = A + B d + A (cos d - 1) + B (sin d - d). The leading
 * 26 bits of B times those of d is exact, and its sum with A made exact;
 * every other term is small beside them. The function is chosen by index,
 * not by a branch, as the quadrant of an argument is as good as random. */
inline Pair alongStep(const Split& s, unsigned useCosine) {
    const double* fAndDerivative = s.row + 2 * useCosine;
    const double a = fAndDerivative[0], aLo = fAndDerivative[1];
    const double b = fAndDerivative[2], bLo = fAndDerivative[3];
    const double b1 = leading26(b), d1 = leading26(s.dh);
    const Pair sum = fastTwoSum(a, b1 * d1);
    const double small = (b1 * (s.dh - d1) + (b - b1) * s.dh) + bLo * s.dh + b * s.dl;
    return {sum.hi, sum.lo + (aLo + small + (a * s.cosTail + b * s.sinTail))};
}

inline unsigned quadrantOf(const Reduced& reduced) {
    return reduced.j / kSinCosStepsPerQuadrant;
}

/* The sine (wantCosine false) or cosine of x, |x| > 2^-27 and finite:
 * for |x| = q pi/2 + t, sin |x| is sin t, cos t, -sin t, -cos t as q is 0
 * to 3, and cos x is sin(|x| + pi/2); sin is odd, cos even. */
template <bool wantCosine> double sinOrCos(double x) {
    const Reduced reduced = reduce(magnitude(x));
    const unsigned quadrant = quadrantOf(reduced) + (wantCosine ? 1 : 0);
    const Pair value = alongStep(splitOf(reduced), quadrant & 1);
    const uint64_t sign = (static_cast<uint64_t>(quadrant & 2) << 62) ^ (wantCosine ? 0 : bitsOf(x) & kSignBit);
    return fromBits(bitsOf(value.hi + value.lo) ^ sign);
}

/* ---- The angle of a point ------------------------------------------------ */

/* atan t for t = th + tl in [0, 1], as a Pair. With c = j/32 the nearest
 * step, atan t = atan c + atan d, d = (t - c) / (1 + t c), |d| <= 1/64. */
Pair atanOfPair(double th, double tl) {
    const double shifted = th * kAtanStepsPerUnit + kRoundingShift;
    const auto j = static_cast<unsigned>(bitsOf(shifted)) & 63;
    const double c = (shifted - kRoundingShift) * (1.0 / kAtanStepsPerUnit);
    const Pair tc = nearProduct(th, c);
    const Pair denominator = fastTwoSum(1.0, tc.hi);
    const Pair d = divide({th - c, tl}, {denominator.hi, denominator.lo + (tc.lo + tl * c)});
    const double z = d.hi * d.hi;
    const double poly =
        d.hi * z * (kAtanTail[0] + z * (kAtanTail[1] + z * (kAtanTail[2] + z * (kAtanTail[3] + z * kAtanTail[4]))));
    const Pair sum = fastTwoSum(kAtan[j][0], d.hi);
    return {sum.hi, sum.lo + kAtan[j][1] + d.lo + poly};
}

/* The quotient of the smaller by the larger of two nonnegative Pairs, the
 * larger not zero. Far apart, the plain quotient is all that counts; else
 * both are scaled so the larger lies in [1, 2), where the exact products of
 * the division can neither overflow nor underflow. */
Pair ratio(Pair num, Pair den) {
    if (num.hi == 0.0) return {0.0, 0.0};
    if (exponentField(den.hi) - exponentField(num.hi) > 60) return {num.hi / den.hi, 0.0};
    if (den.hi < 0x1p-900) {
        num = {num.hi * 0x1p600, num.lo * 0x1p600};
        den = {den.hi * 0x1p600, den.lo * 0x1p600};
    } else if (den.hi > 0x1p900) {
        num = {num.hi * 0x1p-600, num.lo * 0x1p-600};
        den = {den.hi * 0x1p-600, den.lo * 0x1p-600};
    }
    const double scale = powerOfTwo(1023 - exponentField(den.hi));
    return divide({num.hi * scale, num.lo * scale}, {den.hi * scale, den.lo * scale});
}

/* The angle in [0, pi] of the point (x, y) with y >= 0, given |x| and y as
 * Pairs (their high parts nonnegative, not both zero unless both are) and
 * the sign of x. Below the diagonal atan(y/|x|), above it pi/2 - atan(|x|/y),
 * mirrored to pi minus these for a negative x. */
ExprRegisterDouble EXPR_REGISTER_CALL angle(Pair y, Pair x, bool xNegative) {
    const bool steep = y.hi > x.hi;
    const Pair q = steep ? ratio(x, y) : ratio(y, x);
    const Pair a = atanOfPair(q.hi, q.lo);
    if (!steep && !xNegative) return exprInRegister(a.hi + a.lo);
    const double baseHi = steep ? kPiOver2Hi : kPiHi;
    const double baseLo = steep ? kPiOver2Lo : kPiLo;
    const Pair signedA = (steep && xNegative) ? a : negated(a);
    const Pair sum = fastTwoSum(baseHi, signedA.hi);
    return exprInRegister(sum.hi + (sum.lo + baseLo + signedA.lo));
}

/* sqrt(1 - a^2) for 0 <= a <= 1, as a Pair. */
Pair rootOfOneMinusSquare(double a) {
    const Pair square = twoProduct(a, a);
    const Pair difference = fastTwoSum(1.0, -square.hi);
    const Pair w = fastTwoSum(difference.hi, difference.lo - square.lo);
    if (!(w.hi > 0.0)) return {0.0, 0.0}; /* also tells the compiler the root needs no error report */
    const double root = __builtin_sqrt(w.hi);
    const Pair back = twoProduct(root, root);
    return {root, (((w.hi - back.hi) - back.lo) + w.lo) / (root + root)};
}

/* Below these the function's value rounds to its argument (or to 1). */
constexpr double kSinIsArgument = 0x1p-26;
constexpr double kTanIsArgument = 0x1p-27;
constexpr double kCosIsOne = 0x1p-27;

}  // namespace

/* ---- The functions (elementary.h) ---------------------------------------- */

extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprSin(double x) {
    const double ax = magnitude(x);
    if (ax < kSinIsArgument) return exprInRegister(x); /* zeros and subnormals included */
    if (!isFinite(x)) return exprInRegister(isNaN(x) ? quieted(x) : defaultNaN());
    return exprInRegister(sinOrCos<false>(x));
}

extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprCos(double x) {
    const double ax = magnitude(x);
    if (ax < kCosIsOne) return exprInRegister(1.0);
    if (!isFinite(x)) return exprInRegister(isNaN(x) ? quieted(x) : defaultNaN());
    return exprInRegister(sinOrCos<true>(x));
}

/* tan t = sin t / cos t and, a quadrant on, -cos t / sin t, both of Pairs. */
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprTan(double x) {
    const double ax = magnitude(x);
    if (ax < kTanIsArgument) return exprInRegister(x);
    if (!isFinite(x)) return exprInRegister(isNaN(x) ? quieted(x) : defaultNaN());
    const Reduced reduced = reduce(ax);
    const Split s = splitOf(reduced);
    /* Their low parts may exceed an ulp of the high ones: made sums first. */
    const Pair sineTerms = alongStep(s, 0);
    const Pair cosineTerms = alongStep(s, 1);
    const Pair sine = fastTwoSum(sineTerms.hi, sineTerms.lo);
    const Pair cosine = fastTwoSum(cosineTerms.hi, cosineTerms.lo);
    const bool odd = (quadrantOf(reduced) & 1) != 0;
    const Pair q = odd ? divide(cosine, sine) : divide(sine, cosine);
    /* tan is odd; the odd quadrants add a sign. */
    const uint64_t sign = (odd ? kSignBit : 0) ^ (bitsOf(x) & kSignBit);
    return exprInRegister(fromBits(bitsOf(q.hi + q.lo) ^ sign));
}

/* Up to 1 atan |x| directly; beyond, pi/2 - atan(1/|x|), the reciprocal as
 * a Pair while it is far from underflow. */
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprAtan(double x) {
    if (isNaN(x)) return exprInRegister(quieted(x));
    const double ax = magnitude(x);
    if (ax < kTanIsArgument) return exprInRegister(x);
    if (ax <= 1.0) {
        const Pair a = atanOfPair(ax, 0.0);
        return exprInRegister(negatedIf(signBit(x), a.hi + a.lo));
    }
    const double inverse = 1.0 / ax;
    const double inverseLo = ax < 0x1p60 ? (divide({1.0, 0.0}, {ax, 0.0})).lo : 0.0;
    const Pair a = atanOfPair(inverse, inverseLo);
    const Pair sum = fastTwoSum(kPiOver2Hi, -a.hi);
    return exprInRegister(negatedIf(signBit(x), sum.hi + (sum.lo + kPiOver2Lo - a.lo)));
}

/* The angle of (x, y) in [-pi, pi], signed zeros and infinities as the C
 * standard's annex on IEEE arithmetic has them. */
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprAtan2(double y, double x) {
    if (isNaN(y)) return exprInRegister(quieted(y));
    if (isNaN(x)) return exprInRegister(quieted(x));
    double ay = magnitude(y);
    double ax = magnitude(x);
    if (isInfinite(ay) || isInfinite(ax)) { /* only the infinite coordinates count */
        ay = isInfinite(ay) ? 1.0 : 0.0;
        ax = isInfinite(ax) ? 1.0 : 0.0;
    }
    return exprInRegister(negatedIf(signBit(y), exprFromRegister(angle({ay, 0.0}, {ax, 0.0}, signBit(x)))));
}

/* asin a: the angle of (sqrt(1 - a^2), a). */
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprAsin(double a) {
    if (isNaN(a)) return exprInRegister(quieted(a));
    const double aa = magnitude(a);
    if (aa > 1.0) return exprInRegister(defaultNaN());
    if (aa < kSinIsArgument) return exprInRegister(a);
    return exprInRegister(negatedIf(signBit(a), exprFromRegister(angle({aa, 0.0}, rootOfOneMinusSquare(aa), false))));
}

/* acos a: the angle of (a, sqrt(1 - a^2)). */
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprAcos(double a) {
    if (isNaN(a)) return exprInRegister(quieted(a));
    const double aa = magnitude(a);
    if (aa > 1.0) return exprInRegister(defaultNaN());
    return angle(rootOfOneMinusSquare(aa), {aa, 0.0}, signBit(a));
}
