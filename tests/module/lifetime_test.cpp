// The guard of instance memory on its own (module/instance_lifetime.cpp,
// built into this program): which calls a release waits for, which calls it
// turns away, and that a stream of calls cannot hold it off.
#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>

#include "module/instance_lifetime.h"

namespace {

using quorvel::module::adoptObject;
using quorvel::module::BlockEntry;
using quorvel::module::ObjectRelease;

// Stand-ins for instances: only their addresses matter.
int a, b, c;

bool admitted(const void* object) {
    return BlockEntry(object).admitted();
}

// Runs one release of object on a thread of its own.
class Releaser {
public:
    explicit Releaser(const void* object)
        : thread_([this, object] {
              const ObjectRelease release(object);
              done_.store(true);
          }) {}
    ~Releaser() { thread_.join(); }
    bool done() const { return done_.load(); }

private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

TEST(InstanceLifetime, WhichCallsAreTurnedAway) {
    adoptObject(&a);
    adoptObject(&b);
    adoptObject(&c);
    struct Step {
        const char* what;
        const void* released;  // released before the checks, or null
        const void* adopted;   // adopted before the checks, or null
        bool a, b;             // admitted afterwards
    };
    const Step steps[] = {
        {"nothing released", nullptr, nullptr, true, true},
        {"a released", &a, nullptr, false, true},
        {"a stays refused until something else happens", nullptr, nullptr, false, true},
        {"adopting another address changes nothing", nullptr, &b, false, true},
        {"a new object at a's address", nullptr, &a, true, true},
        {"b released", &b, nullptr, true, false},
        {"c released", &c, nullptr, true, true},
    };
    for (const Step& step : steps) {
        if (step.released) {
            const ObjectRelease release(step.released);
        }
        if (step.adopted) adoptObject(step.adopted);
        EXPECT_EQ(admitted(&a), step.a) << step.what;
        EXPECT_EQ(admitted(&b), step.b) << step.what;
    }
    // During a release the object is refused already.
    adoptObject(&a);
    const ObjectRelease release(&a);
    EXPECT_FALSE(admitted(&a));
    EXPECT_TRUE(admitted(&b));
}

TEST(InstanceLifetime, AReleaseWaitsForEveryCallInFlight) {
    adoptObject(&a);
    // A call for the object itself, and one for another: the guard is shared.
    for (const void* held : {static_cast<const void*>(&a), static_cast<const void*>(&b)}) {
        std::optional<BlockEntry> entry(std::in_place, held);
        ASSERT_TRUE(entry->admitted());
        {
            Releaser releaser(&a);
            for (int i = 0; i < 2000 && !releaser.done(); ++i) std::this_thread::yield();
            EXPECT_FALSE(releaser.done()) << "the release went ahead while a call was in flight";
            entry.reset();
        }
        adoptObject(&a);
    }
}

// Calls that start after a release has begun are not waited for: even when
// some call is always in flight, the release ends.
TEST(InstanceLifetime, OverlappingCallsDoNotHoldAReleaseOff) {
    adoptObject(&a);
    std::optional<BlockEntry> calls[2];
    calls[0].emplace(&b);
    bool doneWhileBusy = false;
    {
        Releaser releaser(&a);
        for (int i = 1; i <= 200000 && !doneWhileBusy; ++i) {
            // The next call starts before the older one leaves.
            calls[i % 2].emplace(&b);
            calls[(i + 1) % 2].reset();
            std::this_thread::yield();
            doneWhileBusy = releaser.done();
        }
        for (auto& call : calls) call.reset();
    }
    EXPECT_TRUE(doneWhileBusy);
    adoptObject(&a);
}

}  // namespace
