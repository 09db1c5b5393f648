// Pin updates, opens, rate changes and close arriving on another thread
// while blocks process.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#if !defined(_WIN32)
#include <pthread.h>
#include <time.h>
#endif

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

// Processes blocks back to back on another thread, handing each to a check.
class AudioThread {
public:
    AudioThread(Rig& rig, int32_t blockSize, std::function<void(const Rig&)> check)
        : rig_(rig), thread_([this, blockSize, check] {
              while (!stop_.load()) {
                  rig_.run(blockSize);
                  check(rig_);
                  blocks_.fetch_add(1);
              }
          }) {}
    ~AudioThread() { join(); }
    void join() {
        stop_.store(true);
        if (thread_.joinable()) thread_.join();
    }
    // Returns once `count` more blocks have begun and ended.
    void awaitBlocks(int64_t count) const {
        // The block in flight now may have begun before the caller's change.
        const int64_t target = blocks_.load() + count + 1;
        while (blocks_.load() < target) std::this_thread::yield();
    }

private:
    Rig& rig_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> blocks_{0};
    std::thread thread_;
};

constexpr int32_t kBlock = 64;
constexpr float kRates[2] = {44100.0f, 48000.0f};
constexpr const char* kCountingInit = "opens = opens + 1;";
// out1 is never 0 where the text runs: silence is told apart from sample 0.
constexpr const char* kCountingExpr = "out1 = sample + 1; out2 = opens; out3 = time * 1000 + rate / 1000;";

std::vector<float> firstBlockOfAFreshInstance(float rate) {
    Rig fresh(rate);
    fresh.init(kCountingInit);
    fresh.expr(kCountingExpr);
    fresh.run(kBlock);
    std::vector<float> block(fresh.outputs[2].begin(), fresh.outputs[2].begin() + kBlock);
    return block;
}

bool sameBits(const float* a, const float* b, int32_t count) {
    return std::memcmp(a, b, count * sizeof(float)) == 0;
}

// Follows the counter through the blocks: every sample either continues it,
// is silent (the counter still advances), or, first in a block, restarts it
// at 0 after an open, with Init run exactly once and the block equal to a
// fresh instance's.
struct RestartWatch {
    std::vector<float> reference[2];
    int64_t next = -1;  // counter of the next sample; unknown before the first restart
    int64_t restarts = 0;
    int64_t faults = 0;

    void check(const Rig& rig) {
        for (int32_t i = 0; i < kBlock; ++i) {
            const float value = rig.out(0, i);
            if (value == 0.0f) {
                if (next >= 0) ++next;
                continue;
            }
            if (i == 0 && value == scaled(1.0)) {
                ++restarts;
                if (rig.out(1, 0) != scaled(static_cast<double>(restarts))) ++faults;  // Init ran once per open
                const auto& expected = reference[(restarts - 1) % 2];
                if (!sameBits(&rig.outputs[2][0], expected.data(), kBlock)) ++faults;
                next = 1;
                continue;
            }
            if (next < 0 || value != scaled(static_cast<double>(next + 1))) ++faults;
            ++next;
        }
    }
};

TEST(Threads, OpenAndRateChangesWhileProcessing) {
    Rig rig(kRates[0], {}, kBlock);
    rig.init(kCountingInit);
    rig.expr(kCountingExpr);
    RestartWatch watch;
    for (int k = 0; k < 2; ++k) watch.reference[k] = firstBlockOfAFreshInstance(kRates[k]);
    constexpr int kOpens = 2000;
    {
        AudioThread audio(rig, kBlock, [&](const Rig& r) { watch.check(r); });
        audio.awaitBlocks(1);
        for (int n = 1; n <= kOpens; ++n) {
            // Rate and block size changes between opens change nothing until the next open.
            for (int k = 0; k < 3; ++k) {
                rig.host().setSampleRate(kRates[(n + k) % 2]);
                rig.host().setBlockSize(32 << k);
            }
            rig.host().setSampleRate(kRates[n % 2]);
            rig.host().open();
            audio.awaitBlocks(2);
        }
    }
    EXPECT_EQ(watch.faults, 0);
    EXPECT_EQ(watch.restarts, kOpens + 1);
}

TEST(Threads, InitUpdatesWhileProcessingNeverRunInitOutsideAnOpen) {
    Rig rig(kRates[1], {}, kBlock);
    rig.init(kCountingInit);
    rig.expr(kCountingExpr);
    RestartWatch watch;
    watch.reference[0] = watch.reference[1] = firstBlockOfAFreshInstance(kRates[1]);
    {
        AudioThread audio(rig, kBlock, [&](const Rig& r) { watch.check(r); });
        audio.awaitBlocks(1);  // Init has run: later texts are parsed, never run
        for (int n = 0; n < 3000; ++n) {
            rig.init(n % 2 ? kCountingInit : "opens = opens + 100;");
            if (n % 3 == 0) rig.expr(kCountingExpr);
        }
        rig.init(kCountingInit);
        audio.awaitBlocks(1);
    }
    EXPECT_EQ(watch.faults, 0);
    EXPECT_EQ(watch.restarts, 1);
}

// How a block that may have met DISPATCH_CLOSE ended, from out1 and out3 of
// the text "out1 = 1; ... out3 = 3;".
enum class Ending { Whole, Silenced, TurnedAway, Faulty };

Ending endingOf(const std::vector<float>* out, int32_t count) {
    bool untouched = true;
    for (int32_t i = 0; i < count; ++i) untouched = untouched && out[0][i] == kUntouched && out[2][i] == kUntouched;
    if (untouched) return Ending::TurnedAway;  // came while the memory was being released
    // Every sample is the text's or silence; once silent, silent to the end.
    bool silent = false;
    for (int32_t i = 0; i < count; ++i) {
        if (out[0][i] == 0.0f && out[2][i] == 0.0f)
            silent = true;
        else if (silent || out[0][i] != 0.1f || out[2][i] != scaled(3.0))
            return Ending::Faulty;
    }
    return silent ? Ending::Silenced : Ending::Whole;
}

void spin(std::chrono::nanoseconds time) {
    const auto from = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - from < time) {}
}

// Close issued right as the audio thread calls the process entry, with no
// wait between; one or the other goes first by an offset swept over the time
// a close takes, so calls enter all through close, where the instance is
// freed too. None may read freed memory (the sanitizers watch); each writes
// the text, silence or, turned away, nothing. Rounds go on until enough
// calls have met close: on a busy machine the audio thread often comes late,
// after close has returned, and makes no call.
TEST(Threads, CloseAsTheAudioThreadEntersTheProcessEntry) {
    constexpr int32_t kShort = 64;
    constexpr int64_t kWanted = 400;  // calls that met close
    constexpr int64_t kMaxRounds = 20000;
    constexpr int64_t kOffsetSteps = 50;
    struct Job {
        ProcessEntry process = nullptr;
        void* object = nullptr;
        std::chrono::nanoseconds delay{0};  // of the call after go
    };
    Job job;
    std::atomic<int64_t> ready{0}, go{0}, closed{0}, done{0};
    std::atomic<bool> called{false}, stop{false};
    std::vector<float> out[3];
    for (auto& buffer : out) buffer.assign(kShort, kUntouched);

    std::thread audio([&] {
        for (int64_t round = 1;; ++round) {
            ready.store(round);
            // On its processor when go comes, unless the machine is busy.
            for (int spins = 0; go.load() < round;)
                if (++spins > 100000) std::this_thread::yield();
            if (stop.load()) return;
            spin(job.delay);
            // Only a call that begins before close has returned is the
            // module's to survive.
            const bool call = closed.load() < round;
            if (call) job.process(job.object, 0, kShort);
            called.store(call);
            done.store(round);
        }
    });

    int64_t endings[4] = {};
    auto count = [&](Ending ending) -> int64_t& { return endings[static_cast<int>(ending)]; };
    auto metClose = [&] { return count(Ending::Silenced) + count(Ending::TurnedAway); };
    std::chrono::nanoseconds closeTime{0};  // running mean
    int64_t round = 1;
    for (; round <= kMaxRounds && metClose() < kWanted; ++round) {
        for (auto& buffer : out) std::fill(buffer.begin(), buffer.end(), kUntouched);
        auto instance = Instance::create(moduleLibrary());
        instance->open();
        instance->setText(kExprPin, "out1 = 1; out3 = 3;");
        for (int32_t k = 0; k < kOutputCount; ++k) instance->writeVariable(pinIndex(PinRole::Output, k), out[k].data());
        job.process = instance->record()->process;
        job.object = instance->record()->object;
        // From the close well ahead of the call to the call well ahead of the close.
        const auto offset = closeTime * 5 / 2 * (round % kOffsetSteps) / kOffsetSteps - closeTime * 5 / 4;
        job.delay = std::max(offset, std::chrono::nanoseconds{0});
        while (ready.load() < round) std::this_thread::yield();
        go.store(round);
        spin(-std::min(offset, std::chrono::nanoseconds{0}));
        const auto from = std::chrono::steady_clock::now();
        instance->close();
        closed.store(round);
        closeTime = (closeTime * 7 + (std::chrono::steady_clock::now() - from)) / 8;
        while (done.load() < round) std::this_thread::yield();
        if (called.load()) ++count(endingOf(out, kShort));
    }
    stop.store(true);
    go.store(round);
    audio.join();
    EXPECT_EQ(count(Ending::Faulty), 0);
    EXPECT_GT(metClose(), 0) << "no call met close in " << round - 1 << " rounds";
}

#if !defined(_WIN32)
int64_t threadCpuNanoseconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Close begins while the block runs: the block goes silent, close waits for
// it, and nothing it touches is freed under it (the sanitizers watch).
TEST(Threads, CloseAndDestroyWhileABlockIsInFlight) {
    constexpr int32_t kLong = 2048;
    constexpr int kRounds = 300;
    // What the audio thread needs of an instance, taken before it starts: it
    // calls the module directly, not through our host's bookkeeping.
    struct Job {
        ProcessEntry process = nullptr;
        void* object = nullptr;
        void* variables[9] = {};  // u ... z, out1 ... out3
    };
    Job job;
    std::atomic<int64_t> jobNumber{0}, begun{0}, ended{0};
    std::atomic<int64_t> cpuAtBegin{0};
    std::atomic<bool> stop{false};
    std::vector<float> in(kLong, 0.25f), out[3];
    for (auto& buffer : out) buffer.assign(kLong, kUntouched);
    clockid_t audioClock{};

    std::thread audio([&] {
        clockid_t own{};
        pthread_getcpuclockid(pthread_self(), &own);
        int64_t done = 0;
        while (!stop.load()) {
            if (jobNumber.load() == done) {
                std::this_thread::yield();
                continue;
            }
            ++done;
            const void* buffers[9] = {in.data(), in.data(),     nullptr,       nullptr,      nullptr,
                                      nullptr,   out[0].data(), out[1].data(), out[2].data()};
            for (int k = 0; k < 9; ++k) std::memcpy(job.variables[k], &buffers[k], sizeof(void*));
            cpuAtBegin.store(threadCpuNanoseconds(own));
            begun.store(done);
            job.process(job.object, 0, kLong);
            ended.store(done);
        }
    });
    pthread_getcpuclockid(audio.native_handle(), &audioClock);

    // Hands the audio thread a fresh open instance and returns once its block has begun.
    auto start = [&](int64_t number) {
        for (auto& buffer : out) std::fill(buffer.begin(), buffer.end(), kUntouched);
        auto instance = Instance::create(moduleLibrary());
        instance->open();
        // About a microsecond a sample natively: the block lasts some milliseconds.
        instance->setText(kExprPin, "out1 = 1; for(i = 0, below(i, 40), i = i + 1, out2 = sin(u * i)); out3 = 3;");
        job.process = instance->record()->process;
        job.object = instance->record()->object;
        for (int k = 0; k < 9; ++k)
            job.variables[k] =
                instance
                    ->pin(k < kInputCount ? pinIndex(PinRole::Input, k) : pinIndex(PinRole::Output, k - kInputCount))
                    ->variable;
        jobNumber.store(number);
        while (begun.load() < number) std::this_thread::yield();
        return instance;
    };
    // One whole block first: the rounds' 20 microseconds must not go to the
    // first call's lazy binding and page faults, which a sanitizer makes long.
    {
        auto warmUp = start(1);
        while (ended.load() < 1) std::this_thread::yield();
    }

    int overlapped = 0, silencedTails = 0, faults = 0;
    for (int64_t round = 2; round <= kRounds + 1; ++round) {
        auto instance = start(round);
        // 20 microseconds of the audio thread's own running past its start:
        // the block is inside the module.
        const int64_t inside = cpuAtBegin.load() + 20000;
        while (ended.load() < round && threadCpuNanoseconds(audioClock) < inside) std::this_thread::yield();
        if (ended.load() < round) ++overlapped;
        instance->close();
        while (ended.load() < round) std::this_thread::yield();
        const Ending ending = endingOf(out, kLong);
        if (ending == Ending::Faulty) ++faults;
        if (ending == Ending::Silenced) ++silencedTails;
    }
    stop.store(true);
    audio.join();
    EXPECT_EQ(faults, 0);
    EXPECT_GT(overlapped, 0) << "close should begin while the block runs";
    EXPECT_GT(silencedTails, 0);
}
#endif

}  // namespace
}  // namespace quorvel_test
