/*
 * The functions whose results are exact (elementary.h): remainder, integral
 * and fractional parts, ceil and floor, from integer operations on the bits.
 * Zeros keep the sign of the argument, as the C standard's annex has them.
 */
#include <bit>
#include <cstdint>

#include "elementary.h"

namespace {

constexpr uint64_t kSignBit = uint64_t{1} << 63;
constexpr uint64_t kFractionBits = (uint64_t{1} << 52) - 1;
constexpr int64_t kExponentBias = 1023;

uint64_t bitsOf(double a) {
    return std::bit_cast<uint64_t>(a);
}
double fromBits(uint64_t bits) {
    return std::bit_cast<double>(bits);
}
/* The unbiased exponent of a's bits (1024 for infinities and NaNs). */
int64_t exponentOf(uint64_t bits) {
    return static_cast<int64_t>((bits >> 52) & 0x7FF) - kExponentBias;
}
bool isNaN(double a) {
    return (bitsOf(a) << 1) > (uint64_t{0x7FF} << 53);
}
double quietNaN(double nan) {
    return fromBits(bitsOf(nan) | 0x0008000000000000);
}
/* The NaN of x86 arithmetic for an invalid operation. */
double invalid() {
    return fromBits(0xFFF8000000000000);
}
double signedZero(uint64_t bits) {
    return fromBits(bits & kSignBit);
}

/* The bits below the units' place of a number of exponent e, 0 <= e < 52. */
uint64_t fractionMask(int64_t exponent) {
    return kFractionBits >> exponent;
}

/* A positive finite nonzero double as m 2^e, m an integer below 2^53. */
struct Integral {
    uint64_t mantissa;
    int64_t exponent;
};
Integral decompose(uint64_t bits) {
    const uint64_t biased = (bits >> 52) & 0x7FF;
    const uint64_t fraction = bits & kFractionBits;
    if (biased == 0) return {fraction, 1 - kExponentBias - 52}; /* subnormal */
    return {fraction | (uint64_t{1} << 52), static_cast<int64_t>(biased) - kExponentBias - 52};
}
/* m 2^e for 0 < m < 2^53, where the product is a double: built from the
 * bits (a 64-bit integer conversion would take the x87 unit on i686). */
double scaledInteger(uint64_t mantissa, int64_t exponent) {
    const int shift = 53 - std::bit_width(mantissa);
    mantissa <<= shift;
    exponent -= shift;
    const int64_t biased = exponent + 52 + kExponentBias;
    if (biased >= 1) return fromBits(static_cast<uint64_t>(biased) << 52 | (mantissa & kFractionBits));
    return fromBits(mantissa >> (1 - biased)); /* subnormal: only zeros are shifted out */
}

}  // namespace

/* The remainder of a / b with the sign of a: m_a 2^(e_a - e_b) reduced
 * modulo m_b, eleven bits of the exponent difference at a time (the
 * remainder stays below 2^53, so shifted by 11 it fits 64 bits). The
 * result, a multiple of b's last place, is exact. */
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprFmod(double a, double b) {
    if (isNaN(a) || isNaN(b)) return exprInRegister(quietNaN(isNaN(a) ? a : b));
    const uint64_t aBits = bitsOf(a);
    const uint64_t aMagnitude = aBits & ~kSignBit;
    const uint64_t bMagnitude = bitsOf(b) & ~kSignBit;
    if (exponentOf(aMagnitude) == 1024 || bMagnitude == 0) return exprInRegister(invalid());
    if (aMagnitude < bMagnitude) return exprInRegister(a); /* b infinite, a zero, or |a| < |b| */
    const Integral x = decompose(aMagnitude);
    const Integral y = decompose(bMagnitude);
    uint64_t remainder = x.mantissa % y.mantissa;
    int64_t shift = x.exponent - y.exponent;
    for (; shift >= 11 && remainder != 0; shift -= 11) remainder = (remainder << 11) % y.mantissa;
    if (shift > 0 && shift < 11) remainder = (remainder << shift) % y.mantissa;
    if (remainder == 0) return exprInRegister(signedZero(aBits));
    return exprInRegister(fromBits(bitsOf(scaledInteger(remainder, y.exponent)) | (aBits & kSignBit)));
}

/* The fraction of a, both parts with the sign of a. */
extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprModf(double a, double* integral) {
    if (isNaN(a)) {
        *integral = quietNaN(a);
        return exprInRegister(quietNaN(a));
    }
    const uint64_t bits = bitsOf(a);
    const int64_t exponent = exponentOf(bits);
    if (exponent >= 52) { /* integral, infinities included */
        *integral = a;
        return exprInRegister(signedZero(bits));
    }
    if (exponent < 0) {
        *integral = signedZero(bits);
        return exprInRegister(a);
    }
    *integral = fromBits(bits & ~fractionMask(exponent));
    const double fraction = a - *integral; /* exact */
    return exprInRegister(fraction == 0.0 ? signedZero(bits) : fraction);
}

namespace {

/* a rounded to an integer away from zero when away is set, else towards
 * zero; the sign of a is kept, zeros included. */
double roundedTowards(double a, bool away) {
    const uint64_t bits = bitsOf(a);
    const int64_t exponent = exponentOf(bits);
    if (exponent >= 52) return isNaN(a) ? quietNaN(a) : a;
    if (exponent < 0) {
        const bool isZero = (bits & ~kSignBit) == 0;
        return fromBits((bits & kSignBit) | (away && !isZero ? bitsOf(1.0) : 0));
    }
    const uint64_t mask = fractionMask(exponent);
    if ((bits & mask) == 0) return a;
    /* Adding one unit of the units' place to the magnitude carries into
     * the exponent where it must. */
    return fromBits(((away ? bits + mask + 1 : bits)) & ~mask);
}

}  // namespace

extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprCeil(double a) {
    return exprInRegister(roundedTowards(a, (bitsOf(a) & kSignBit) == 0));
}

extern "C" ExprRegisterDouble EXPR_REGISTER_CALL exprFloor(double a) {
    return exprInRegister(roundedTowards(a, (bitsOf(a) & kSignBit) != 0));
}
