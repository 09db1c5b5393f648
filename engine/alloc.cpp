// The engine's allocator: every block the engine holds comes from exprAlloc,
// zero-filled, and goes back through exprDealloc. The rest of the engine
// relies on the zero fill: a node never filled has kind 0 and owns nothing.
// Test builds (EXPR_ALLOC_HOOKS) make chosen allocations fail and count the
// blocks still held.

#include <cstdlib>

#include "internal.h"

#ifdef EXPR_ALLOC_HOOKS
#include <atomic>
#endif

#ifdef EXPR_ALLOC_HOOKS
namespace {
std::atomic<int32_t> failAt{0};  // allocation number that fails; 0: none
std::atomic<int32_t> failPersistent{0};
std::atomic<int32_t> attempts{0};  // since the last exprFailAllocation
std::atomic<int32_t> liveBlocks{0};

bool allocationShouldFail() {
    const int32_t n = attempts.fetch_add(1) + 1;
    const int32_t target = failAt.load();
    if (target <= 0) return false;
    return n == target || (failPersistent.load() != 0 && n > target);
}
}  // namespace

extern "C" void exprFailAllocation(int32_t n, int32_t persistent) {
    failAt.store(n < 0 ? 0 : n);
    failPersistent.store(persistent);
    attempts.store(0);
}

extern "C" int32_t exprHookRefusesAllocation(void) {
    return allocationShouldFail() ? 1 : 0;
}
extern "C" void exprHookCountBlock(int32_t change) {
    liveBlocks.fetch_add(change);
}

extern "C" int32_t exprAllocationCount(void) {
    return attempts.load();
}
extern "C" int32_t exprLiveBlocks(void) {
    return liveBlocks.load();
}
#endif

extern "C" void* exprAlloc(size_t size) {
#ifdef EXPR_ALLOC_HOOKS
    if (allocationShouldFail()) return nullptr;
#endif
    void* block = std::calloc(1, size != 0 ? size : 1);
#ifdef EXPR_ALLOC_HOOKS
    if (block != nullptr) liveBlocks.fetch_add(1);
#endif
    return block;
}

extern "C" void exprDealloc(void* block) {
    if (block == nullptr) return;
#ifdef EXPR_ALLOC_HOOKS
    liveBlocks.fetch_sub(1);
#endif
    std::free(block);
}
