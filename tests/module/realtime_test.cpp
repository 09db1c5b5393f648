// Heap use of the module: none while processing, and every allocation of
// setup, open and parse may fail without harm.
#include <cmath>

#include "module_support.h"

namespace quorvel_test {
namespace {

// Every one of the 49 functions, math errors included (ln and exp give
// infinities rather than errors, so they stay out of the sum).
constexpr const char* kAllFunctions =
    "s = 1; a = abs(-u) + mod(7, 3) + ipart(2.5) + fpart(2.5) + min(1, u) + max(1, u) + pow(2, 3) + sqrt(4)"
    " + sin(1) + sinh(1) + asin(0.5) + cos(1) + cosh(1) + acos(0.5) + tan(1) + tanh(1) + atan(1) + atan2(1, 2)"
    " + log(10) + pow10(2) + ln(2) + exp(1) + logn(8, 2) + ceil(1.5) + floor(1.5) + rand(&s) + random(0, 1, &s)"
    " + randomize(&s) + deg(1) + rad(90) + recttopolr(1, 1) + recttopola(1, 1) + poltorectx(1, 1)"
    " + poltorecty(1, 1) + if(u, 1, 2) + select(u, 1, 2, 3) + equal(u, 0) + above(u, 0) + below(u, 0)"
    " + avg(1, 2, 3) + clip(u, 0, 1) + clamp(u, 0, 1) + pntchange(0, 1, 0, 1, u) + poly(u, 1, 2, 3)"
    " + and(u, 1) + or(u, 0) + not(u) + for(i = 0, below(i, 3), i = i + 1, a = a + i) + many(1, 2)"
    " + asin(2) + 1 / 0 + pow(0, -1); e = ln(0) + exp(1000);"
    " out1 = a / 1000; out2 = time; out3 = sample;";

#define REQUIRE_SPY() \
    if (!alloc_spy::available()) GTEST_SKIP() << "heap calls cannot be intercepted in this build"

TEST(AllocationSpy, SeesTheModulesAllocations) {
    REQUIRE_SPY();
    alloc_spy::arm();
    InstanceRecord* record = moduleLibrary().makeModule(0, 1, nullptr, nullptr);
    alloc_spy::disarm();
    ASSERT_NE(record, nullptr);
    EXPECT_GT(alloc_spy::allocations(), 10) << "tables, entries and contexts come from the heap";
    alloc_spy::arm();
    record->dispatcher(record, DISPATCH_CLOSE, 0, 0, nullptr, 0.0f);
    alloc_spy::disarm();
    EXPECT_GT(alloc_spy::releases(), 10);
}

class NoAllocation : public testing::TestWithParam<int32_t> {};

TEST_P(NoAllocation, WhileProcessing) {
    REQUIRE_SPY();
    const int32_t size = GetParam();
    Rig rig(48000.0f, {}, size);
    rig.init(kAllFunctions);
    rig.expr(kAllFunctions);
    for (int i = 0; i < size; ++i) rig.inputs[0][i] = static_cast<float>(i % 7) / 7.0f - 0.4f;
    for (int round = 0; round < 3; ++round) {
        rig.host().open();  // Init runs again in the first block
        int64_t allocations = 0, releases = 0;
        for (int block = 0; block < 20; ++block) {
            alloc_spy::arm();
            rig.run(size);
            alloc_spy::disarm();
            allocations += alloc_spy::allocations();
            releases += alloc_spy::releases();
        }
        EXPECT_EQ(allocations, 0);
        EXPECT_EQ(releases, 0);
        EXPECT_TRUE(std::isfinite(rig.out(0, size - 1)));
        EXPECT_NE(rig.out(0, size - 1), 0.0f) << "the text ran";
        rig.expr(kAllFunctions);  // a re-parse between blocks
    }
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, NoAllocation, testing::Values(1, 17, 256, 2027));

// ---- Allocation failure --------------------------------------------------------------------

struct RawHost {
    int32_t statuses = 0;
    static int32_t QUORVEL_CDECL callback(InstanceRecord* record, int32_t opcode, int32_t, int32_t, void*, float) {
        auto* host = static_cast<RawHost*>(record->hostData);
        if (opcode == HOST_GET_PIN_COUNT) return 11;
        if (opcode == HOST_SET_PIN_STATUS) ++host->statuses;
        return 0;
    }
};

void writePinVariable(InstanceRecord* record, int32_t pin, const void* address) {
    PinProperties props{};
    ASSERT_EQ(record->dispatcher(record, DISPATCH_GET_PIN_PROPERTIES, pin, 0, &props, 0.0f), 1);
    std::memcpy(props.variable, &address, sizeof address);
}

// Fails the n-th allocation of construction for every n until construction
// needs no more: each instance is refused (object) or silent, and safe.
TEST(AllocationFailure, DuringSetupLeavesASilentInstance) {
    REQUIRE_SPY();
    int64_t n = 1;
    for (;; ++n) {
        RawHost host;
        alloc_spy::arm(n);
        InstanceRecord* record = moduleLibrary().makeModule(0, 1, &RawHost::callback, &host);
        alloc_spy::disarm();
        const bool failed = alloc_spy::allocations() >= n;
        if (!failed) {
            ASSERT_NE(record, nullptr);
            record->dispatcher(record, DISPATCH_CLOSE, 0, 0, nullptr, 0.0f);
            break;
        }
        if (!record) {
            EXPECT_EQ(n, 1) << "only the module object itself makes makeModule refuse";
            continue;
        }
        record->dispatcher(record, DISPATCH_OPEN, 0, 0, nullptr, 0.0f);
        float out[3][16];
        for (int k = 0; k < 3; ++k) writePinVariable(record, kFirstOutputPin + k, out[k]);
        const char* text = "out1 = 1; out2 = 2; out3 = 3;";
        writePinVariable(record, 7, text);
        HostEvent event{};
        event.eventType = EVENT_PIN_UPDATE;
        event.pinIndex = 7;
        record->event(record->object, &event);
        EXPECT_EQ(host.statuses, 3) << "statuses go out even without an engine";
        record->process(record->object, 0, 16);
        for (int k = 0; k < 3; ++k)
            for (float sample : out[k]) ASSERT_EQ(sample, 0.0f) << "allocation " << n;
        record->dispatcher(record, DISPATCH_CLOSE, 0, 0, nullptr, 0.0f);
    }
    EXPECT_GT(n, 10);
}

TEST(AllocationFailure, PinBlockAtOpen) {
    REQUIRE_SPY();
    Rig rig;
    rig.expr("out1 = 1;");
    rig.host().clearCalls();  // keeps the capacity: the host's own record needs no allocation
    alloc_spy::arm(1);
    rig.host().dispatch(DISPATCH_OPEN);  // the host already knows the pins
    alloc_spy::disarm();
    ASSERT_GE(alloc_spy::allocations(), 1);
    rig.run(8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(rig.out(0, i), 0.0f) << "silent without its pins";
    rig.host().clearCalls();
    rig.host().pinUpdate(7);
    EXPECT_TRUE(rig.host().calls().empty());
    rig.host().open();
    rig.run(8);
    EXPECT_EQ(rig.out(0, 7), 0.1f);
}

// A failed allocation in the parse leaves the text silent, or, where the
// engine can do without the block, playing correctly; never anything else.
TEST(AllocationFailure, DuringParseSilencesOrPlaysTheText) {
    REQUIRE_SPY();
    InstanceOptions options;
    options.pinCount = 8;  // no outputs to report on: the update calls no host code
    Rig rig(48000.0f, options);
    const std::string text = "out1 = max(u, 2) * 3; nothing = below(out1, 4) + long_name_for_a_variable;";
    const float expected = scaled(6.0);
    int64_t n = 1;
    int silent = 0;
    for (;; ++n) {
        rig.host().setText(kExprPin, "out1 = 0.5;");
        rig.host().setText(kExprPin, text, /*deliver=*/false);
        alloc_spy::arm(n);
        rig.host().pinUpdate(kExprPin);
        alloc_spy::disarm();
        const bool failed = alloc_spy::allocations() >= n;
        rig.run(4);
        if (!failed) {
            EXPECT_EQ(rig.out(0, 3), expected);
            break;
        }
        const float first = rig.out(0, 0);
        ASSERT_TRUE(first == 0.0f || first == expected) << "allocation " << n << ": " << first;
        for (int i = 1; i < 4; ++i) ASSERT_EQ(rig.out(0, i), first) << "allocation " << n;
        silent += first == 0.0f;
    }
    EXPECT_GT(n, 3);
    EXPECT_GT(silent, 0);
}

}  // namespace
}  // namespace quorvel_test
