// Pages for generated machine code, straight from the operating system:
// writable while the code is written, then sealed readable and executable,
// never both writable and executable. Allocated and freed on the control
// thread that parses, never while a text is evaluated. On a processor the
// engine writes no code for, there are none.

#include "program.h"

#if !defined(__x86_64__) && !defined(__i386__)

void* exprMapCode(size_t) {
    return nullptr;
}
bool exprSealCode(void*, size_t) {
    return false;
}
void exprUnmapCode(void*, size_t) {}

#else

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#endif

void* exprMapCode(size_t size) {
    if (size == 0) return nullptr;
#ifdef EXPR_ALLOC_HOOKS
    if (exprHookRefusesAllocation()) return nullptr;
#endif
#if defined(_WIN32)
    void* memory = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
#else
    // Populated at once: the code is written right away, and one call costs
    // less than a fault per page.
    int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_POPULATE
    flags |= MAP_POPULATE;
#endif
    void* memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, flags, -1, 0);
    if (memory == MAP_FAILED) memory = nullptr;
#endif
#ifdef EXPR_ALLOC_HOOKS
    if (memory != nullptr) exprHookCountBlock(+1);
#endif
    return memory;
}

bool exprSealCode(void* memory, size_t size) {
#if defined(_WIN32)
    DWORD previous = 0;
    if (!VirtualProtect(memory, size, PAGE_EXECUTE_READ, &previous)) return false;
    return FlushInstructionCache(GetCurrentProcess(), memory, size) != 0;
#else
    return mprotect(memory, size, PROT_READ | PROT_EXEC) == 0;
#endif
}

void exprUnmapCode(void* memory, size_t size) {
    if (memory == nullptr) return;
#if defined(_WIN32)
    (void)size;
    VirtualFree(memory, 0, MEM_RELEASE);
#else
    munmap(memory, size);
#endif
#ifdef EXPR_ALLOC_HOOKS
    exprHookCountBlock(-1);
#endif
}

#endif
