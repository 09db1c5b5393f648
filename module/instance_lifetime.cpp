#include "instance_lifetime.h"

#include <atomic>
#include <thread>

// The protocol, with every access to the three words sequentially consistent,
// so that all of them fall into one order S that every thread agrees on.
//
// A call C for object X: E1 reads the epoch e; A raises inFlight[e & 1];
// E2 reads the epoch again and, unless it is still e, C lowers the counter
// and starts over; M reads `released`; C touches X only if M did not read
// X, and lowers the counter after its last access.
//
// A release of X, in the control side's turn: a grace period G1 (flip F1 of
// the epoch, then wait W1 until the counter of the epoch it replaced reads
// 0), the store N of X into `released`, a second grace period G2; then X
// is destroyed and freed.
//
// Every flip F that replaces the epoch value E2 read comes after A in S, so
// its wait cannot read 0 until C has lowered the counter (every lowering
// follows its own raise).
// - M before N: then E2 < N < F2, so the flip replacing e is F2 or an
//   earlier one, whose wait ended before the free: C was gone by then.
// - M reads N: C reads X and leaves X alone.
// - M reads a later store N' (the next release, or adoptObject clearing):
//   both come after a flip F1' with its wait. Had E2 come before F1', that
//   wait would have held N' back until C left, after M; so E2, and with it
//   E1 (the same value), read an epoch written after X's release returned.
//   C began after DISPATCH_CLOSE had returned, which the host may not do.
// G1 is what lets N overwrite the previous name: every call that might
// still read it has left. Counters are shared by epochs of one parity; a
// call that read a stale epoch raises one briefly and retries, which delays
// a wait by a few instructions at most. 2^32 flips while a call sits
// between E1 and E2 would fool E2; that is taken as impossible.
//
// Progress: the audio side retries only if a flip fell between E1 and E2.
// A wait covers the calls announced before its flip only: calls that start
// afterwards count under the new epoch, so a stream of blocks on other
// threads cannot hold a release off.

namespace quorvel::module {

namespace {

// Read by every call; written by the control side only.
alignas(64) std::atomic<uint32_t> epoch{0};
std::atomic<uintptr_t> released{0};  // the object being (or last) released
// Raised and lowered by every call: on a line of their own.
alignas(64) std::atomic<int32_t> inFlight[2] = {};
// Releases and adoptions from different threads take turns. A flag rather
// than std::mutex: the library stays free of a threading runtime's lock.
alignas(64) constinit std::atomic_flag controlBusy;
static_assert(std::atomic<uint32_t>::is_always_lock_free && std::atomic<int32_t>::is_always_lock_free &&
              std::atomic<uintptr_t>::is_always_lock_free);

uintptr_t addressOf(const void* object) noexcept {
    return reinterpret_cast<uintptr_t>(object);
}

void takeTurn() noexcept {
    while (controlBusy.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
}

void endTurn() noexcept {
    controlBusy.clear(std::memory_order_release);
}

// Returns once every call announced before it has left. In the turn.
void gracePeriod() noexcept {
    const uint32_t old = epoch.fetch_add(1);
    while (inFlight[old & 1].load() != 0) std::this_thread::yield();
}

}  // namespace

BlockEntry::BlockEntry(const void* object) noexcept {
    for (;;) {
        epoch_ = epoch.load();
        inFlight[epoch_ & 1].fetch_add(1);
        if (epoch.load() == epoch_) break;
        inFlight[epoch_ & 1].fetch_sub(1);
    }
    admitted_ = released.load() != addressOf(object);
}

BlockEntry::~BlockEntry() {
    inFlight[epoch_ & 1].fetch_sub(1);
}

ObjectRelease::ObjectRelease(const void* object) noexcept {
    takeTurn();
    gracePeriod();
    released.store(addressOf(object));
    gracePeriod();
}

ObjectRelease::~ObjectRelease() {
    // The name stays: a call for the freed object that comes late is still
    // turned away, until the next release or adoptObject.
    endTurn();
}

void adoptObject(const void* object) noexcept {
    takeTurn();
    if (released.load() == addressOf(object)) {
        // A late call for the object that lived here leaves before the new
        // one can be reached under the same address.
        gracePeriod();
        released.store(0);
    }
    endTurn();
}

}  // namespace quorvel::module
