// The value of a number literal, correctly rounded, whatever the process
// locale: strtod reads the locale's decimal point, which a host may have set
// to "," or to a point of several bytes, and runtimes differ in rounding.
//
// A literal is D / 10^k: its digits without the point, and the number of
// digits after it. Small ones are one IEEE division of two exact doubles;
// the rest are divided exactly in big integers and rounded half to even.
// A literal has at most EXPR_MAX_TOKEN characters and no exponent, so its
// value is zero or lies between 10^-254 and 10^255: always a normal double.

#include <bit>
#include <cstdint>

#include "internal.h"

namespace {

// 10^0 .. 10^22, each exact as a double.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr int kExactPowerLimit = 22;
constexpr uint64_t kExactIntegerLimit = uint64_t{1} << 53;

// Room for the largest number the division builds: D below 10^255 (848
// bits), scaled by at most 2^54 on either side.
constexpr int kMaxBits = EXPR_MAX_TOKEN * 3322 / 1000 + 1 + 54;
constexpr int kLimbs = (kMaxBits + 31) / 32;

// An unsigned integer of kLimbs 32-bit limbs, least significant first.
struct BigNumber {
    uint32_t limb[kLimbs] = {};
};

// n = n * factor + addend.
void multiplyAdd(BigNumber& n, uint32_t factor, uint32_t addend) {
    uint64_t carry = addend;
    for (uint32_t& limb : n.limb) {
        const uint64_t product = uint64_t{limb} * factor + carry;
        limb = static_cast<uint32_t>(product);
        carry = product >> 32;
    }
}

int bitLength(const BigNumber& n) {
    for (int i = kLimbs - 1; i >= 0; --i) {
        if (n.limb[i] != 0) return i * 32 + 32 - __builtin_clz(n.limb[i]);
    }
    return 0;
}

void shiftLeft(BigNumber& n, int bits) {
    const int limbs = bits / 32, rest = bits % 32;
    for (int i = kLimbs - 1; i >= 0; --i) {
        const int from = i - limbs;
        const uint32_t high = from >= 0 ? n.limb[from] : 0;
        const uint32_t low = from >= 1 ? n.limb[from - 1] : 0;
        n.limb[i] = rest == 0 ? high : (high << rest) | (low >> (32 - rest));
    }
}

void shiftRightOne(BigNumber& n) {
    for (int i = 0; i < kLimbs; ++i) {
        const uint32_t next = i + 1 < kLimbs ? n.limb[i + 1] : 0;
        n.limb[i] = (n.limb[i] >> 1) | (next << 31);
    }
}

int compare(const BigNumber& a, const BigNumber& b) {
    for (int i = kLimbs - 1; i >= 0; --i) {
        if (a.limb[i] != b.limb[i]) return a.limb[i] < b.limb[i] ? -1 : 1;
    }
    return 0;
}

// a = a - b, for a not below b.
void subtract(BigNumber& a, const BigNumber& b) {
    uint32_t borrow = 0;
    for (int i = 0; i < kLimbs; ++i) {
        const uint64_t difference = uint64_t{a.limb[i]} - b.limb[i] - borrow;
        a.limb[i] = static_cast<uint32_t>(difference);
        borrow = static_cast<uint32_t>(difference >> 63);
    }
}

// 2^e for a normal power, -1022 <= e <= 1023, from its bits.
double powerOfTwo(int e) {
    return std::bit_cast<double>(static_cast<uint64_t>(e + 1023) << 52);
}

// value * 2^e, exact where the result is a normal double, in two steps
// whose factors are normal themselves. The runtime's ldexp is not used: on
// 32-bit Windows it is an x87 instruction.
double scaledByPowerOfTwo(double value, int e) {
    const int first = e / 2;
    return value * powerOfTwo(first) * powerOfTwo(e - first);
}

// numerator / denominator rounded to a double, both nonzero; the quotient
// is a normal double.
double roundedQuotient(BigNumber numerator, BigNumber denominator) {
    // Scale so that the quotient lies in [2^52, 2^53): 53 bits, one double.
    int scale = 53 - (bitLength(numerator) - bitLength(denominator));
    if (scale > 0) shiftLeft(numerator, scale);
    if (scale < 0) shiftLeft(denominator, -scale);
    BigNumber limit = denominator;
    shiftLeft(limit, 53);
    if (compare(numerator, limit) >= 0) {
        shiftLeft(denominator, 1);
        scale -= 1;
    }
    // Long division, one quotient bit at a time.
    BigNumber step = denominator;
    shiftLeft(step, 52);
    uint64_t quotient = 0;
    for (int bit = 52; bit >= 0; --bit) {
        if (compare(numerator, step) >= 0) {
            subtract(numerator, step);
            quotient |= uint64_t{1} << bit;
        }
        shiftRightOne(step);
    }
    // The remainder against half the denominator: above rounds up, a tie to even.
    shiftLeft(numerator, 1);
    const int half = compare(numerator, denominator);
    if (half > 0 || (half == 0 && (quotient & 1) != 0)) ++quotient;
    return scaledByPowerOfTwo(static_cast<double>(quotient), -scale);
}

}  // namespace

extern "C" double exprDecimalValue(const char* literal) {
    BigNumber digits;
    uint64_t small = 0;  // the digits while they fit below 2^53
    bool fits = true;
    int decimals = 0;
    bool afterPoint = false;
    for (const char* p = literal; *p != '\0'; ++p) {
        if (*p == '.') {
            afterPoint = true;
            continue;
        }
        const uint32_t digit = static_cast<uint32_t>(*p - '0');
        multiplyAdd(digits, 10, digit);
        if (afterPoint) ++decimals;
        fits = fits && small < kExactIntegerLimit / 10;
        if (fits) small = small * 10 + digit;
    }
    if (fits && small < kExactIntegerLimit && decimals <= kExactPowerLimit)
        return static_cast<double>(small) / kExactPowersOfTen[decimals];
    if (bitLength(digits) == 0) return 0.0;
    BigNumber power;
    multiplyAdd(power, 1, 1);
    for (int i = 0; i < decimals; ++i) multiplyAdd(power, 10, 0);
    return roundedQuotient(digits, power);
}
