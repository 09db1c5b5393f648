// How long an instance's memory lives: until no process call can still
// touch it. A process call may overlap DISPATCH_CLOSE, and the instance is
// what close frees, so the guard lives outside every instance: one set of
// library-wide words, the same for all instances and all threads.
//
// The audio side announces each process call in an in-flight counter before
// it reads the object word's memory, and never waits. The control side,
// before freeing an instance, waits for the calls announced before it began
// releasing (a grace period) and names the object it is releasing; a call
// announced after that sees the name and touches nothing. See
// instance_lifetime.cpp for the argument.
#pragma once

#include <cstdint>

namespace quorvel::module {

// Audio side: held by the process entry for the whole call, taken before the
// object is touched. Lock-free and allocation-free.
class BlockEntry {
public:
    explicit BlockEntry(const void* object) noexcept;
    ~BlockEntry();
    BlockEntry(const BlockEntry&) = delete;
    BlockEntry& operator=(const BlockEntry&) = delete;

    // False when the object's memory is being (or has been) released: the
    // call must not read it, nor anything it points to.
    bool admitted() const noexcept { return admitted_; }

private:
    uint32_t epoch_;
    bool admitted_;
};

// Control side: once constructed, no process call touches object any more
// and none will; destroy and free it, then let this go. Releases of
// different instances, from any threads, run one at a time. Waits for the
// process calls of any instance that were in flight when it began, each
// bounded by its own block.
class ObjectRelease {
public:
    explicit ObjectRelease(const void* object) noexcept;
    ~ObjectRelease();
    ObjectRelease(const ObjectRelease&) = delete;
    ObjectRelease& operator=(const ObjectRelease&) = delete;
};

// Control side: a new object at this address (the heap reuses a released
// block) is admitted again. Called before the object's word is handed out.
void adoptObject(const void* object) noexcept;

}  // namespace quorvel::module
