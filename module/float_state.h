// The floating-point state the engine computes in, set for the length of one
// call from the host and the host's own state given back on return.
//
// The module runs on the host's threads, in whatever state the host left:
// another rounding mode, flush-to-zero or denormals-are-zero, unmasked
// exceptions (a host's debug build may unmask them, and exp(1000) would then
// end the host), and on 32-bit Windows an x87 unit set to 24-bit precision,
// which the runtime's x87-based sin, exp and pow obey. Every entry that
// evaluates or parses holds one EngineFloatState, so the engine always sees
// round to nearest, every exception masked, subnormals kept, and the x87
// unit at double precision. It costs a few dozen cycles per call: per block,
// not per sample.
#pragma once

#include <cstdint>

namespace quorvel::module {

class EngineFloatState {
public:
    EngineFloatState() noexcept {
#if defined(__i386__) || defined(__x86_64__)
        // fnstenv also masks every x87 exception: nothing the host left
        // pending can fire inside the call.
        __asm__ __volatile__("stmxcsr %0" : "=m"(callerSse));
        __asm__ __volatile__("fnstenv %0" : "=m"(callerX87));
        const uint32_t sse = kEngineSse;
        const uint16_t x87 = kEngineX87;
        __asm__ __volatile__("ldmxcsr %0" : : "m"(sse));
        __asm__ __volatile__("fnclex\n\tfldcw %0" : : "m"(x87));
#endif
    }

    // The host's state exactly as it was, its sticky flags included: what the
    // engine raised stays with the engine, so no unmasked flag the engine set
    // can fire in the host afterwards.
    ~EngineFloatState() noexcept {
#if defined(__i386__) || defined(__x86_64__)
        __asm__ __volatile__("fldenv %0" : : "m"(callerX87));
        __asm__ __volatile__("ldmxcsr %0" : : "m"(callerSse));
#endif
    }

    EngineFloatState(const EngineFloatState&) = delete;
    EngineFloatState& operator=(const EngineFloatState&) = delete;

#if defined(__i386__) || defined(__x86_64__)
    // SSE: every exception masked, round to nearest, no flush-to-zero, no
    // denormals-are-zero, no flags.
    static constexpr uint32_t kEngineSse = 0x1F80;
    // x87: every exception masked, 53-bit precision, round to nearest.
    static constexpr uint16_t kEngineX87 = 0x027F;

private:
    uint32_t callerSse = 0;
    // The x87 environment as fnstenv stores it in 32-bit mode: control,
    // status and tag words, then the last instruction and operand.
    struct X87Environment {
        uint32_t words[7];
    } callerX87 = {};
#endif
};

}  // namespace quorvel::module
