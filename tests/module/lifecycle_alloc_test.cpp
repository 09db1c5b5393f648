// Allocation failure at every index of a whole instance lifecycle: make,
// open, Init and Expr updates, blocks, a second Expr update, blocks, close.
// Allocation n fails once, or from then on; each time the instance gives
// silence or the right samples, releases every block it got, and the next
// lifecycle with memory back plays correctly.
#include <cstring>
#include <set>

#include "module/module_support.h"

namespace quorvel_test {
namespace {

struct QuietHost {
    static int32_t QUORVEL_CDECL callback(InstanceRecord*, int32_t opcode, int32_t, int32_t, void*, float) {
        return opcode == HOST_GET_PIN_COUNT ? 11 : 0;
    }
};

bool writePin(InstanceRecord* record, int32_t pin, const void* address) {
    PinProperties props{};
    if (record->dispatcher(record, DISPATCH_GET_PIN_PROPERTIES, pin, 0, &props, 0.0f) != 1) return false;
    std::memcpy(props.variable, &address, sizeof address);
    return true;
}

void update(InstanceRecord* record, int32_t pin, const char* text) {
    writePin(record, pin, text);
    HostEvent event{};
    event.eventType = EVENT_PIN_UPDATE;
    event.pinIndex = pin;
    record->event(record->object, &event);
}

constexpr int32_t kBlock = 16;

struct Played {
    bool made = false;
    float first[3][kBlock] = {};
    float second[3][kBlock] = {};
};

// The whole lifecycle; everything the module allocates happens inside it.
Played lifecycle() {
    Played played;
    InstanceRecord* record = moduleLibrary().makeModule(0, 1, &QuietHost::callback, nullptr);
    if (!record) return played;
    played.made = true;
    record->dispatcher(record, DISPATCH_SET_SAMPLE_RATE, 0, 0, nullptr, 48000.0f);
    record->dispatcher(record, DISPATCH_OPEN, 0, 0, nullptr, 0.0f);
    static float input[kBlock];
    for (float& sample : input) sample = 0.25f;
    writePin(record, 0, input);
    update(record, kInitPin, "k = 2; unused_name_to_allocate = 1;");
    update(record, kExprPin, "out1 = k * 3; out2 = u; out3 = 0;");
    for (int k = 0; k < 3; ++k) writePin(record, kFirstOutputPin + k, played.first[k]);
    record->process(record->object, 0, kBlock);
    update(record, kExprPin, "out1 = 7; out3 = max(k, 1) + 0 * random(1, 2, &seed); created_late = out1;");
    for (int k = 0; k < 3; ++k) writePin(record, kFirstOutputPin + k, played.second[k]);
    record->process(record->object, 0, kBlock);
    record->dispatcher(record, DISPATCH_CLOSE, 0, 0, nullptr, 0.0f);
    return played;
}

// Every sample of a block holds one of the allowed values, the same throughout.
void expectBlock(const float (&block)[kBlock], std::set<float> allowed, const std::string& what) {
    allowed.insert(0.0f);
    EXPECT_TRUE(allowed.count(block[0])) << what << ": " << block[0];
    for (int i = 1; i < kBlock; ++i) ASSERT_EQ(block[i], block[0]) << what << " sample " << i;
}

class LifecycleAllocation : public testing::TestWithParam<bool> {};

TEST_P(LifecycleAllocation, EveryIndexFailsSafelyAndReleasesEverything) {
    if (!alloc_spy::available()) GTEST_SKIP() << "heap calls cannot be intercepted in this build";
    const bool fromThenOn = GetParam();
    int64_t n = 1;
    for (;; ++n) {
        alloc_spy::arm(n, fromThenOn);
        const Played played = lifecycle();
        alloc_spy::disarm();
        const int64_t attempts = alloc_spy::allocations();
        const int64_t failures = attempts < n ? 0 : fromThenOn ? attempts - n + 1 : 1;
        const std::string what = "allocation " + std::to_string(n) + (fromThenOn ? " on" : " once");
        EXPECT_EQ(attempts - failures, alloc_spy::releases()) << what << ": blocks left behind";
        if (failures == 0) {
            // Memory is back: the lifecycle plays exactly.
            ASSERT_TRUE(played.made);
            EXPECT_EQ(played.first[0][kBlock - 1], scaled(6.0));
            EXPECT_EQ(played.first[1][kBlock - 1], scaled(2.5));
            EXPECT_EQ(played.second[0][kBlock - 1], scaled(7.0));
            EXPECT_EQ(played.second[2][kBlock - 1], scaled(2.0));
            break;
        }
        if (!played.made) continue;
        expectBlock(played.first[0], {scaled(6.0)}, what + " out1");
        expectBlock(played.first[1], {scaled(2.5)}, what + " out2");
        expectBlock(played.second[0], {scaled(7.0)}, what + " second out1");
        // Without Init k stays 0, and max(0, 1) is 1.
        expectBlock(played.second[2], {scaled(2.0), scaled(1.0)}, what + " second out3");
        ASSERT_LT(n, 100000) << "the lifecycle never completes";
    }
    EXPECT_GT(n, 20) << "the lifecycle allocates tables, entries, trees and programs";
}

INSTANTIATE_TEST_SUITE_P(OnceAndFromThenOn, LifecycleAllocation, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "FromThenOn" : "Once");
                         });

}  // namespace
}  // namespace quorvel_test
