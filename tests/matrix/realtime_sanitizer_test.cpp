// In the real-time sanitizer build the matrix runs every audio call inside a
// real-time section; these prove the section is armed, so a clean matrix run
// means the module allocated, freed, locked and blocked nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

#include "realtime_section.h"

#if defined(QUORVEL_RTSAN)
namespace {

void allocateInAudioCall() {
    quorvel::host::RealtimeSection audioThread;
    void* volatile block = std::malloc(16);
    std::free(block);
}

void lockInAudioCall() {
    static std::mutex mutex;
    quorvel::host::RealtimeSection audioThread;
    std::lock_guard<std::mutex> lock(mutex);
}

TEST(RealtimeSanitizer, StopsAtAnAllocationInAnAudioCall) {
    EXPECT_DEATH(allocateInAudioCall(), "real-time unsafe function `malloc`");
}

TEST(RealtimeSanitizer, StopsAtALockInAnAudioCall) {
    EXPECT_DEATH(lockInAudioCall(), "real-time unsafe function `pthread_mutex_lock`");
}

TEST(RealtimeSanitizer, LetsTheHostKeepItsBooks) {
    quorvel::host::RealtimeSection audioThread;
    quorvel::host::HostBookkeeping bookkeeping;
    void* volatile block = std::malloc(16);
    std::free(block);
    SUCCEED();
}

}  // namespace
#endif
