/*
 * Pseudo-random streams. The generator keeps no state of its own: the whole
 * state is the seed, a variable that every call names by reference, so an
 * expression runs as many independent streams as it has seed variables and
 * restarts one by assigning its seed.
 */
#include <cstdint>
#include <ctime>

#include "internal.h"

namespace {

/* The seed as the low 32 bits of its integral part. A seed that is NaN or
 * beyond the 64-bit range counts as 0, so no double converts out of range. */
uint32_t seedBits(double seed) {
    if (!(seed >= -0x1p63 && seed < 0x1p63)) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(seed)));
}

/* The 32-bit pattern read as a signed integer, exactly, as a double. */
double signedValue(uint32_t bits) {
    return bits >= 0x80000000u ? static_cast<double>(bits) - 0x1p32 : static_cast<double>(bits);
}

/* The double nearest 1/32767: r times it reaches 1.0 exactly at r = 32767,
 * so random() can give both of its bounds. */
constexpr double kUnitSpan = 0x1.0002000400080p-15;

/* Milliseconds since the process started, modulo 2^32. */
uint32_t processMilliseconds() {
    static_assert(CLOCKS_PER_SEC % 1000 == 0, "the clock must count whole milliseconds");
    return static_cast<uint32_t>(std::clock() / (CLOCKS_PER_SEC / 1000));
}

}  // namespace

/* One step of the linear congruential generator modulo 2^32; the result is
 * bits 16 to 30 of the new state. */
int32_t nextRandom(double* seed) {
    uint32_t state = 214013u * seedBits(*seed) + 2531011u;
    *seed = signedValue(state);
    return static_cast<int32_t>((state >> 16) & 0x7FFFu);
}

/* rand (&seed): a multiple of 1/32768 in [0, 1). */
int32_t builtinRand(ExprContext*, ExprNode*, int32_t, double** refs, int32_t, double* result) {
    *result = nextRandom(refs[0]) * 0x1p-15;
    return EXPR_OK;
}

/* random (lo, hi, &seed): between lo and hi, both included. A failing bound
 * leaves the seed unstepped. */
int32_t builtinRandom(ExprContext* context, ExprNode* args, int32_t, double** refs, int32_t, double* result) {
    double lo, hi;
    int32_t code = exprEvalNode(context, &args[0], &lo);
    if (code != EXPR_OK) return code;
    code = exprEvalNode(context, &args[1], &hi);
    if (code != EXPR_OK) return code;
    double span = hi - lo;
    *result = exprAdd((nextRandom(refs[0]) * kUnitSpan) * span, lo);
    return EXPR_OK;
}

/* randomize (&seed): seeds from the process clock and the calendar time.
 * It has no value of its own; used as one it gives 0.0. */
int32_t builtinRandomize(ExprContext*, ExprNode*, int32_t, double** refs, int32_t, double* result) {
    uint32_t milliseconds = processMilliseconds();
    uint32_t seconds = static_cast<uint32_t>(std::time(nullptr));
    *refs[0] = signedValue((milliseconds + 1024u) * seconds);
    *result = 0.0;
    return EXPR_OK;
}
