#include "module_support.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace quorvel_test {

const Library& moduleLibrary() {
    return quorvel::host::Library::nextToExecutable();
}

Rig::Rig(float rate, InstanceOptions options, int32_t capacity) {
    for (auto& buffer : inputs) buffer.assign(capacity, 0.0f);
    for (auto& buffer : outputs) buffer.assign(capacity, kUntouched);
    instance = Instance::create(moduleLibrary(), options);
    if (!instance) return;
    instance->setSampleRate(rate);
    instance->open();
}

void Rig::fillInput(int32_t k, float value) {
    std::fill(inputs[k].begin(), inputs[k].end(), value);
}

void Rig::resetOutputs() {
    for (auto& buffer : outputs) std::fill(buffer.begin(), buffer.end(), kUntouched);
}

void Rig::writeBuffers() {
    const float* in[6];
    float* out[3];
    for (int k = 0; k < 6; ++k) in[k] = inputs[k].data();
    for (int k = 0; k < 3; ++k) out[k] = outputs[k].data();
    for (int k = 0; k < 6; ++k) instance->writeVariable(k, in[k]);
    for (int k = 0; k < 3; ++k) instance->writeVariable(kFirstOutputPin + k, out[k]);
}

void Rig::run(int32_t count) {
    resetOutputs();
    const float* in[6];
    float* out[3];
    for (int k = 0; k < 6; ++k) in[k] = inputs[k].data();
    for (int k = 0; k < 3; ++k) out[k] = outputs[k].data();
    instance->processBlock(in, out, count);
}

void Rig::runAt(int32_t start, int32_t count) {
    resetOutputs();
    writeBuffers();
    instance->process(start, count);
}

// ---- Allocation spy -------------------------------------------------------------

namespace {
std::atomic<bool> armed{false};
std::atomic<int64_t> allocationCount{0};
std::atomic<int64_t> releaseCount{0};
std::atomic<int64_t> failingAllocation{0};
std::atomic<bool> failingFromThenOn{false};

// True when this allocation is to fail.
[[maybe_unused]] bool noteAllocation() {
    if (!armed.load(std::memory_order_relaxed)) return false;
    const int64_t n = allocationCount.fetch_add(1) + 1;
    const int64_t failAt = failingAllocation.load(std::memory_order_relaxed);
    if (failingFromThenOn.load(std::memory_order_relaxed)) return failAt > 0 && n >= failAt;
    return n == failAt;
}
[[maybe_unused]] void noteRelease(void* block) {
    if (block && armed.load(std::memory_order_relaxed)) releaseCount.fetch_add(1);
}
}  // namespace

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define QUORVEL_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__) || defined(QUORVEL_RTSAN)
#define QUORVEL_SANITIZED 1
#endif

#if defined(_WIN32)

namespace {
using MallocFn = void*(__cdecl*)(size_t);
using CallocFn = void*(__cdecl*)(size_t, size_t);
using ReallocFn = void*(__cdecl*)(void*, size_t);
using FreeFn = void(__cdecl*)(void*);
MallocFn realMalloc;
CallocFn realCalloc;
ReallocFn realRealloc;
FreeFn realFree;

void* __cdecl spyMalloc(size_t size) {
    return noteAllocation() ? nullptr : realMalloc(size);
}
void* __cdecl spyCalloc(size_t n, size_t size) {
    return noteAllocation() ? nullptr : realCalloc(n, size);
}
void* __cdecl spyRealloc(void* block, size_t size) {
    return noteAllocation() ? nullptr : realRealloc(block, size);
}
void __cdecl spyFree(void* block) {
    noteRelease(block);
    realFree(block);
}

void patchSlot(void** slot, void* replacement) {
    DWORD previous;
    VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &previous);
    *slot = replacement;
    VirtualProtect(slot, sizeof(void*), previous, &previous);
}

// Redirects the DLL's imports of the heap functions to the spies; returns
// how many of the four were found.
int patchImports(HMODULE module) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!directory.VirtualAddress) return 0;
    int found = 0;
    for (auto* descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         descriptor->Name; ++descriptor) {
        if (!descriptor->OriginalFirstThunk) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const char* name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
            void** slot = reinterpret_cast<void**>(&slots->u1.Function);
            if (std::strcmp(name, "malloc") == 0) {
                realMalloc = reinterpret_cast<MallocFn>(*slot);
                patchSlot(slot, reinterpret_cast<void*>(&spyMalloc));
                ++found;
            } else if (std::strcmp(name, "calloc") == 0) {
                realCalloc = reinterpret_cast<CallocFn>(*slot);
                patchSlot(slot, reinterpret_cast<void*>(&spyCalloc));
                ++found;
            } else if (std::strcmp(name, "realloc") == 0) {
                realRealloc = reinterpret_cast<ReallocFn>(*slot);
                patchSlot(slot, reinterpret_cast<void*>(&spyRealloc));
                ++found;
            } else if (std::strcmp(name, "free") == 0) {
                realFree = reinterpret_cast<FreeFn>(*slot);
                patchSlot(slot, reinterpret_cast<void*>(&spyFree));
                ++found;
            }
        }
    }
    return found;
}

bool installed() {
    // Every allocation the DLL makes goes through one of these imports; the
    // spies need all four originals to forward to.
    static const bool ok = [] {
        patchImports(static_cast<HMODULE>(moduleLibrary().nativeHandle()));
        return realMalloc && realCalloc && realRealloc && realFree;
    }();
    return ok;
}
}  // namespace

bool alloc_spy::available() {
    return installed();
}

#elif defined(QUORVEL_SANITIZED)

bool alloc_spy::available() {
    return false;
}

#else

// Interposition: the module library's calls resolve to these definitions in
// the program, which forward to the C library's own entry points.
extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t n, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);

void* malloc(size_t size) {
    return noteAllocation() ? nullptr : __libc_malloc(size);
}
void* calloc(size_t n, size_t size) {
    return noteAllocation() ? nullptr : __libc_calloc(n, size);
}
void* realloc(void* block, size_t size) {
    return noteAllocation() ? nullptr : __libc_realloc(block, size);
}
void free(void* block) {
    noteRelease(block);
    __libc_free(block);
}
}

bool alloc_spy::available() {
    return true;
}

#endif

void alloc_spy::arm(int64_t failAt, bool fromThenOn) {
    // The library is loaded before anything is failed: loading it is the
    // host's work, and a test run alone would otherwise fail it first.
    moduleLibrary();
    allocationCount.store(0);
    releaseCount.store(0);
    failingAllocation.store(failAt);
    failingFromThenOn.store(fromThenOn);
    armed.store(true);
}

void alloc_spy::disarm() {
    armed.store(false);
}
int64_t alloc_spy::allocations() {
    return allocationCount.load();
}
int64_t alloc_spy::releases() {
    return releaseCount.load();
}

}  // namespace quorvel_test
