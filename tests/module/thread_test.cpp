// Pin updates and close arriving on another thread while blocks process.
#include <atomic>
#include <chrono>
#include <thread>

#include "module_support.h"

namespace quorvel_test {
namespace {

// Every sample is one of the texts' outputs or silence, never anything else.
bool plausible(float sample) {
    return sample == 0.0f || sample == 0.1f || sample == 0.2f || sample == scaled(3.0) || sample == kUntouched;
}

TEST(Threads, TextUpdatesWhileProcessing) {
    Rig rig(48000.0f, {}, 64);
    rig.expr("out1 = 1;");
    std::atomic<bool> stop{false};
    std::atomic<int64_t> blocks{0};
    std::atomic<int64_t> oddSamples{0};
    std::thread audio([&] {
        while (!stop.load()) {
            rig.run(64);
            for (int i = 0; i < 64; ++i)
                if (!plausible(rig.out(0, i))) oddSamples.fetch_add(1);
            blocks.fetch_add(1);
        }
    });
    const char* texts[] = {
        "out1 = 1;",
        "out1 = 2; t = sin(time) + for(i = 0, below(i, 50), i = i + 1, x = x + i);",
        "out1 = ",  // fails to parse
        "many(u, v); out1 = 3 + 0 * u;",
        "out1 = 1; for(i = 0, 1, i = i + 1, x = i);",  // runaway
    };
    constexpr int kUpdates = 3000;
    for (int n = 0; n < kUpdates; ++n) {
        rig.host().setText(n % 7 == 3 ? kInitPin : kExprPin, texts[n % 5]);
        if (n % 97 == 0) rig.host().pinUpdate(n % 6);
    }
    rig.expr("out1 = 2;");
    // Let the audio thread see the last text before stopping it.
    const int64_t seen = blocks.load();
    while (blocks.load() < seen + 3) std::this_thread::yield();
    stop.store(true);
    audio.join();
    EXPECT_EQ(oddSamples.load(), 0);
    EXPECT_EQ(rig.out(0, 63), 0.2f);
    EXPECT_EQ(rig.host().statuses().size(), 3u * (kUpdates + (kUpdates + 96) / 97 + 2));
}

TEST(Threads, UpdateDuringARunawayBlockDoesNotWaitForIt) {
    Rig rig(48000.0f, {}, 4096);
    rig.expr("out1 = 1; for(i = 0, 1, i = i + 1, x = i);");
    std::atomic<bool> started{false};
    std::thread audio([&] {
        started.store(true);
        rig.run(4096);  // alone, many seconds of aborted evaluations
    });
    while (!started.load()) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    rig.expr("out1 = 2;");  // returns once the block has ended early
    audio.join();
    rig.run(4);
    EXPECT_EQ(rig.out(0, 3), 0.2f);
}

TEST(Threads, CloseWhileProcessing) {
    for (int round = 0; round < 5; ++round) {
        Rig rig(48000.0f, {}, 8192);
        // About 45 000 node evaluations per sample: a long block.
        rig.expr("out1 = 1; for(i = 0, below(i, 5000), i = i + 1, x = x + i);");
        std::atomic<bool> started{false};
        InstanceRecord* record = rig.host().record();
        void* object = record->object;
        const ProcessEntry process = record->process;
        std::thread audio([&] {
            started.store(true);
            process(object, 0, 8192);
        });
        while (!started.load()) std::this_thread::yield();
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + 5 * round));
        rig.host().close();  // waits for the block, which has gone silent
        audio.join();
        EXPECT_TRUE(rig.host().closed());
    }
}

}  // namespace
}  // namespace quorvel_test
