// Whether a test program runs under a user-mode emulator, as its runner
// says: scripts/test exports QUORVEL_EMULATOR (qemu-i386) where it runs the
// 32-bit programs through qemu because the kernel has no 32-bit mode. The
// few tests that depend on a processor rule the emulator does not follow
// assert the emulator's rule there instead; docs/reliability.md lists them.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdlib>

namespace quorvel_test {

inline const char* emulator() {
    const char* name = std::getenv("QUORVEL_EMULATOR");
    return name != nullptr && *name != '\0' ? name : nullptr;
}

// The NaN that an SSE addition or multiplication of two NaNs gives. The
// processor keeps the left (destination) operand's; qemu's soft float keeps
// the one with the larger significand, and on a tie the positive one.
inline double nanOfTwo(double left, double right) {
    if (emulator() == nullptr) return left;
    constexpr uint64_t kSignificand = 0x000FFFFFFFFFFFFFull;
    const uint64_t l = std::bit_cast<uint64_t>(left), r = std::bit_cast<uint64_t>(right);
    if ((l & kSignificand) != (r & kSignificand)) return (l & kSignificand) > (r & kSignificand) ? left : right;
    return (l >> 63) <= (r >> 63) ? left : right;
}

}  // namespace quorvel_test
