// The calling thread's floating-point control state, as a host may leave it
// when it calls a module: the SSE control and status register and, on x86,
// the x87 control word and exception flags. Tests set a hostile state before
// every call into the module and check that the module gave it back.
#pragma once

#include <cstdint>

namespace quorvel::host {

struct FloatControl {
    uint32_t sse = 0x1F80;  // MXCSR
    uint16_t x87 = 0x037F;  // x87 control word
    uint16_t x87Flags = 0;  // the x87 status word's exception flags (bits 0-5)

    bool operator==(const FloatControl&) const = default;
};

// The state a host in its defaults runs with: every exception masked, round
// to nearest, no flush to zero (x87 at its power-on 64-bit precision).
inline constexpr FloatControl kDefaultFloatControl{};

// What a careless or debug-built host may leave: rounding toward zero,
// flush-to-zero and denormals-are-zero, the invalid, divide-by-zero and
// overflow exceptions unmasked, and the x87 unit at 24-bit precision,
// rounding up, with the same exceptions unmasked.
inline constexpr FloatControl kHostileFloatControl{0x6000 | 0x8000 | 0x0040 | 0x0100 | 0x0800 | 0x1000,
                                                   0x0800 | 0x0040 | 0x0032, 0};

#if defined(__i386__) || defined(__x86_64__)
inline FloatControl currentFloatControl() {
    FloatControl state;
    uint16_t status = 0;
    __asm__ __volatile__("stmxcsr %0" : "=m"(state.sse));
    __asm__ __volatile__("fnstcw %0" : "=m"(state.x87));
    __asm__ __volatile__("fnstsw %0" : "=m"(status));
    state.x87Flags = status & 0x3F;
    return state;
}

// Loads the state. Stale x87 flags are cleared first, so that unmasking
// cannot fire an exception left pending by earlier work; the state's own
// flags come back where its control word masks them (a caller's state given
// back keeps the flags it had).
inline void setFloatControl(const FloatControl& state) {
    __asm__ __volatile__("fnclex");
    __asm__ __volatile__("fldcw %0" : : "m"(state.x87));
    __asm__ __volatile__("ldmxcsr %0" : : "m"(state.sse));
    const uint16_t maskedFlags = state.x87Flags & state.x87 & 0x3F;
    if (maskedFlags != 0) {
        uint16_t environment[14];  // control, status and tag words first, each in 32 bits
        __asm__ __volatile__("fnstenv %0" : "=m"(environment));
        environment[2] = static_cast<uint16_t>(environment[2] | maskedFlags);
        __asm__ __volatile__("fldenv %0" : : "m"(environment));
    }
}
inline constexpr bool kFloatControlAvailable = true;
#else
inline FloatControl currentFloatControl() {
    return {};
}
inline void setFloatControl(const FloatControl&) {}
inline constexpr bool kFloatControlAvailable = false;
#endif

}  // namespace quorvel::host
