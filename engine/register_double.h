/*
 * How the engine's routines (routines.h, elementary.h) take and give their
 * doubles: in SSE registers, as the machine code (native_code.cpp) calls
 * them. x86-64 does that by its calling convention. 32-bit x86 passes
 * doubles on the stack and returns them on the x87 stack, which costs a
 * store and a load around every call; there gcc's sseregparm passes them in
 * xmm0, xmm1 and xmm2, and a result declared as a vector of two doubles
 * comes back in xmm0 on every 32-bit target (sseregparm alone leaves the
 * result on the x87 stack under MinGW). Only the low double of that vector
 * is ever set or read.
 *
 * A routine is declared ExprRegisterDouble EXPR_REGISTER_CALL name(double...);
 * its callers convert with exprFromRegister, its returns with
 * exprInRegister. EXPR_ROUTINES_IN_REGISTERS says whether the convention
 * holds on this build's target (clang knows no sseregparm).
 */
#ifndef QUORVEL_ENGINE_REGISTER_DOUBLE_H
#define QUORVEL_ENGINE_REGISTER_DOUBLE_H

#if defined(__i386__) && defined(__GNUC__) && !defined(__clang__)

#include <emmintrin.h>

#define EXPR_ROUTINES_IN_REGISTERS 1
#define EXPR_REGISTER_CALL         __attribute__((sseregparm))
typedef __m128d ExprRegisterDouble;

/* The double becomes the low half in its own register, without an
 * instruction (the high half is left as it is, and never read). */
static inline ExprRegisterDouble exprInRegister(double value) {
    ExprRegisterDouble result;
    __asm__("" : "=x"(result) : "0"(value));
    return result;
}
static inline double exprFromRegister(ExprRegisterDouble value) {
    return _mm_cvtsd_f64(value);
}

#else

#if defined(__x86_64__)
#define EXPR_ROUTINES_IN_REGISTERS 1
#else
#define EXPR_ROUTINES_IN_REGISTERS 0
#endif
#define EXPR_REGISTER_CALL
typedef double ExprRegisterDouble;

static inline ExprRegisterDouble exprInRegister(double value) {
    return value;
}
static inline double exprFromRegister(ExprRegisterDouble value) {
    return value;
}

#endif

#endif
