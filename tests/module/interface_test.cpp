// The host contract of quorvel.sem, seen through the binary interface only:
// exports, the instance record, the dispatcher, pins and events.
#include <algorithm>
#include <climits>
#include <cstddef>
#include <set>

#include "module_support.h"

namespace quorvel_test {
namespace {

constexpr unsigned char kFill = 0xA5;

template <typename Record> Record filled() {
    Record record;
    std::memset(&record, kFill, sizeof record);
    return record;
}

template <typename Record> bool sameBytes(const Record& a, const Record& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// ---- getModuleProperties ------------------------------------------------------

TEST(ModuleProperties, IndexZeroDescribesTheModule) {
    ModuleProperties props = filled<ModuleProperties>();
    const ModuleProperties before = props;
    EXPECT_EQ(moduleLibrary().getModuleProperties(0, &props), 1);
    EXPECT_STREQ(props.moduleName, "Quorvel");
    EXPECT_STREQ(props.moduleId, "TRESK Quorvel");
    EXPECT_STREQ(props.about, "by Tresk (MS)");
    EXPECT_EQ(props.interfaceVersion, 2070);
    EXPECT_EQ(std::memcmp(props.reserved, before.reserved, sizeof props.reserved), 0) << "two words never written";
}

class PropertiesRefused : public testing::TestWithParam<int32_t> {};

TEST_P(PropertiesRefused, WritesOnlyTheInterfaceVersion) {
    ModuleProperties props = filled<ModuleProperties>();
    ModuleProperties expected = props;
    expected.interfaceVersion = 2070;
    EXPECT_EQ(moduleLibrary().getModuleProperties(GetParam(), &props), 0);
    EXPECT_TRUE(sameBytes(props, expected));
}

INSTANTIATE_TEST_SUITE_P(OtherIndices, PropertiesRefused, testing::Values(1, 2, -1, INT32_MAX, INT32_MIN));

TEST(ModuleProperties, NullRecordIsRefused) {
    EXPECT_EQ(moduleLibrary().getModuleProperties(0, nullptr), 0);
}

// ---- makeModule and the record ----------------------------------------------------

struct MakeCase {
    int32_t index;
    int32_t kind;
};

class MakeModuleRefused : public testing::TestWithParam<MakeCase> {};

TEST_P(MakeModuleRefused, ReturnsNull) {
    int hostData = 0;
    EXPECT_EQ(moduleLibrary().makeModule(GetParam().index, GetParam().kind, nullptr, &hostData), nullptr);
}

INSTANTIATE_TEST_SUITE_P(WrongIndexOrKind, MakeModuleRefused,
                         testing::Values(MakeCase{0, 2}, MakeCase{0, 0}, MakeCase{0, -1}, MakeCase{1, 1},
                                         MakeCase{-1, 1}, MakeCase{1, 2}));

TEST(InstanceRecord, WordsAfterMakeModule) {
    auto instance = Instance::create(moduleLibrary());
    ASSERT_TRUE(instance);
    const InstanceRecord* record = instance->record();
    EXPECT_EQ(record->magic, 0x5345504C);
    EXPECT_EQ(record->version, 1);
    EXPECT_EQ(record->hostData, instance.get());
    EXPECT_NE(record->object, nullptr);
    EXPECT_EQ(record->reserved0, 0);
    EXPECT_NE(record->dispatcher, nullptr);
    EXPECT_NE(record->process, nullptr);
    EXPECT_NE(record->event, nullptr);
    for (int32_t word : record->reserved1) EXPECT_EQ(word, 0);
    if (sizeof(void*) == 4) {
        // The host reads word n at byte offset 4n.
        uint32_t words[12];
        std::memcpy(words, record, sizeof words);
        EXPECT_EQ(words[0], 0x5345504Cu);
        EXPECT_EQ(words[1], 1u);
        EXPECT_EQ(words[2], static_cast<uint32_t>(reinterpret_cast<uintptr_t>(instance.get())));
        EXPECT_EQ(words[3], static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record->object)));
        EXPECT_EQ(words[6], static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record->process)));
    }
    EXPECT_TRUE(instance->calls().empty()) << "construction does not call the host";
}

TEST(InstanceRecord, ProcessBeforeOpenDoesNothing) {
    auto instance = Instance::create(moduleLibrary());
    ASSERT_TRUE(instance);
    float out[16];
    std::fill(std::begin(out), std::end(out), kUntouched);
    PinProperties props{};
    ASSERT_EQ(instance->pinProperties(8, &props), 1);
    float* buffer = out;
    std::memcpy(props.variable, &buffer, sizeof buffer);
    instance->record()->process(instance->record()->object, 0, 16);
    for (float sample : out) EXPECT_EQ(sample, kUntouched);
}

// ---- Dispatcher ------------------------------------------------------------------------

struct DispatchCase {
    int32_t opcode;
    int32_t index;
    bool withRecord;
    int32_t expected;
};

class DispatcherResult : public testing::TestWithParam<DispatchCase> {};

TEST_P(DispatcherResult, OnFreshInstance) {
    const DispatchCase& c = GetParam();
    auto instance = Instance::create(moduleLibrary());
    ASSERT_TRUE(instance);
    PinProperties props{};
    EXPECT_EQ(instance->dispatch(c.opcode, c.index, 0, c.withRecord ? &props : nullptr, 44100.0f), c.expected);
    if (c.opcode != DISPATCH_OPEN) {
        EXPECT_EQ(instance->processChangedCount(), 0);
        if (c.opcode != DISPATCH_CLOSE) {
            EXPECT_TRUE(instance->calls().empty());
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryOpcode, DispatcherResult,
    testing::Values(DispatchCase{DISPATCH_OPEN, 0, false, 0}, DispatchCase{DISPATCH_CLOSE, 0, false, 1},
                    DispatchCase{DISPATCH_SET_SAMPLE_RATE, 0, false, 0},
                    DispatchCase{DISPATCH_SET_BLOCK_SIZE, 0, false, 0},
                    DispatchCase{DISPATCH_GET_PIN_PROPERTIES, 0, true, 1},
                    DispatchCase{DISPATCH_GET_PIN_PROPERTIES, 10, true, 1},
                    DispatchCase{DISPATCH_GET_PIN_PROPERTIES, 11, true, 0},
                    DispatchCase{DISPATCH_GET_PIN_PROPERTIES, 0, false, 0},  // no record to fill
                    DispatchCase{DISPATCH_COMMAND, 0, false, 0}, DispatchCase{DISPATCH_PIN_REQUEST, 3, true, 0},
                    DispatchCase{4, 0, true, 0}, DispatchCase{5, 0, true, 0}, DispatchCase{7, 0, true, 0},
                    DispatchCase{9, 0, true, 0}, DispatchCase{10, 0, true, 0}, DispatchCase{11, 0, true, 0},
                    DispatchCase{13, 0, true, 0}, DispatchCase{14, 0, true, 0}, DispatchCase{22, 0, true, 0},
                    DispatchCase{-1, 0, true, 0}, DispatchCase{INT32_MAX, 0, true, 0}));

TEST(Dispatcher, RefusesAForeignRecord) {
    auto instance = Instance::create(moduleLibrary());
    ASSERT_TRUE(instance);
    InstanceRecord copy = *instance->record();  // same words, wrong address
    EXPECT_EQ(copy.dispatcher(&copy, DISPATCH_CLOSE, 0, 0, nullptr, 0.0f), 0);
    copy.magic = 0;
    EXPECT_EQ(copy.dispatcher(&copy, DISPATCH_OPEN, 0, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(copy.dispatcher(nullptr, DISPATCH_CLOSE, 0, 0, nullptr, 0.0f), 0);
    copy = *instance->record();
    copy.object = nullptr;
    EXPECT_EQ(copy.dispatcher(&copy, DISPATCH_CLOSE, 0, 0, nullptr, 0.0f), 0);
    EXPECT_TRUE(instance->calls().empty());
}

TEST(Dispatcher, OpenInstallsTheProcessOperationOnce) {
    auto instance = Instance::create(moduleLibrary());
    ASSERT_TRUE(instance);
    const ProcessEntry before = instance->record()->process;
    instance->open();
    EXPECT_NE(instance->record()->process, before);
    EXPECT_EQ(instance->processChangedCount(), 1);
    instance->open();  // the same operation again: no news for the host
    EXPECT_EQ(instance->processChangedCount(), 1);
}

// ---- Pin table -----------------------------------------------------------------------------

struct PinRow {
    int32_t index;
    const char* name;
    int32_t direction;
    int32_t datatype;
    const char* defaultValue;  // null: the word is not written
};

class PinTable : public testing::TestWithParam<PinRow> {};

TEST_P(PinTable, ReportsTheRowAndLeavesTheRest) {
    const PinRow& row = GetParam();
    auto instance = Instance::create(moduleLibrary());
    ASSERT_TRUE(instance);
    PinProperties props = filled<PinProperties>();
    const PinProperties before = props;
    ASSERT_EQ(instance->pinProperties(row.index, &props), 1);
    EXPECT_STREQ(props.pinName, row.name);
    EXPECT_EQ(props.direction, row.direction);
    EXPECT_EQ(props.datatype, row.datatype);
    EXPECT_NE(props.variable, nullptr);
    if (row.defaultValue) {
        EXPECT_STREQ(props.defaultValue, row.defaultValue);
    } else {
        EXPECT_EQ(std::memcmp(&props.defaultValue, &before.defaultValue, sizeof props.defaultValue), 0);
    }
    EXPECT_EQ(props.reserved0, before.reserved0);
    EXPECT_EQ(props.flags, before.flags) << "no pin sets flags";
    EXPECT_EQ(props.reserved1, before.reserved1);
}

INSTANTIATE_TEST_SUITE_P(ElevenPins, PinTable,
                         testing::Values(PinRow{0, "u", 0, 5, "0"}, PinRow{1, "v", 0, 5, "0"},
                                         PinRow{2, "w", 0, 5, "0"}, PinRow{3, "x", 0, 5, "0"},
                                         PinRow{4, "y", 0, 5, "0"}, PinRow{5, "z", 0, 5, "0"},
                                         PinRow{6, "Init", 0, 1, nullptr}, PinRow{7, "Expr", 0, 1, nullptr},
                                         PinRow{8, "out1", 1, 5, nullptr}, PinRow{9, "out2", 1, 5, nullptr},
                                         PinRow{10, "out3", 1, 5, nullptr}));

TEST(PinTable, VariablesAreDistinctAndStable) {
    auto instance = Instance::create(moduleLibrary());
    ASSERT_TRUE(instance);
    std::set<void*> variables;
    for (int32_t i = 0; i < 11; ++i) {
        PinProperties first{}, second{};
        instance->pinProperties(i, &first);
        instance->open();
        instance->pinProperties(i, &second);
        EXPECT_EQ(first.variable, second.variable);
        variables.insert(first.variable);
    }
    EXPECT_EQ(variables.size(), 11u);
}

class PinRefused : public testing::TestWithParam<int32_t> {};

TEST_P(PinRefused, HostRecordUntouched) {
    auto instance = Instance::create(moduleLibrary());
    ASSERT_TRUE(instance);
    PinProperties props = filled<PinProperties>();
    const PinProperties before = props;
    EXPECT_EQ(instance->pinProperties(GetParam(), &props), 0);
    EXPECT_TRUE(sameBytes(props, before));
}

INSTANTIATE_TEST_SUITE_P(OutsideTheTable, PinRefused, testing::Values(11, -1, 12, 1000, INT32_MAX, INT32_MIN));

// ---- Host callback traffic and pin counts ------------------------------------------------------

TEST(HostCallback, OnlyTheFiveOpcodesAreEverSent) {
    Rig rig;
    rig.init("k = 1;");
    rig.expr("out1 = k;");
    for (int32_t pin = -2; pin < 14; ++pin) rig.host().pinUpdate(pin, pin & 3);
    rig.run(64);
    rig.host().open();
    rig.run(64);
    const std::set<int32_t> allowed = {HOST_SET_PIN_STATUS, HOST_GET_STAMP, HOST_GET_PIN_VALUE, HOST_GET_PIN_COUNT,
                                       HOST_PROCESS_CHANGED};
    for (const auto& call : rig.host().calls()) EXPECT_TRUE(allowed.count(call.opcode)) << call.opcode;
}

TEST(HostCallback, OpenAsksForThePinCountOnce) {
    auto instance = Instance::create(moduleLibrary());
    ASSERT_TRUE(instance);
    instance->dispatch(DISPATCH_OPEN);
    int32_t asked = 0;
    for (const auto& call : instance->calls()) asked += call.opcode == HOST_GET_PIN_COUNT;
    EXPECT_EQ(asked, 1);
}

struct CountCase {
    int32_t reported;
    int32_t outputsReported;  // how many of out1 ... out3 exist
    bool exprPinExists;
};

class ReportedPinCount : public testing::TestWithParam<CountCase> {};

// Whatever count the host reports, updates reach only pins that exist and
// statuses go only to outputs that exist.
TEST_P(ReportedPinCount, StatusesAndUpdatesStayInsideThePins) {
    const CountCase& c = GetParam();
    InstanceOptions options;
    options.pinCount = c.reported;
    Rig rig(48000.0f, options);
    ASSERT_TRUE(rig.instance);
    for (int32_t pin = -1; pin <= std::max(c.reported, 11) + 1; ++pin) {
        rig.host().clearCalls();
        rig.host().pinUpdate(pin);
        const bool exists = pin >= 0 && pin < std::min(c.reported, 11);
        const auto statuses = rig.host().statuses();
        ASSERT_EQ(statuses.size(), exists ? static_cast<size_t>(c.outputsReported) : 0u) << "pin " << pin;
        for (size_t k = 0; k < statuses.size(); ++k) EXPECT_EQ(statuses[k].pin, 8 + static_cast<int32_t>(k));
    }
    rig.expr("out1 = 1;");
    rig.run(8);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(rig.out(0, i), c.exprPinExists ? 0.1f : 0.0f);
}

INSTANTIATE_TEST_SUITE_P(Counts, ReportedPinCount,
                         testing::Values(CountCase{11, 3, true}, CountCase{20, 3, true}, CountCase{10, 2, true},
                                         CountCase{9, 1, true}, CountCase{8, 0, true}, CountCase{7, 0, false},
                                         CountCase{3, 0, false}, CountCase{0, 0, false}, CountCase{-5, 0, false}));

TEST(HostCallback, UnallocatablePinBlockLeavesASilentSafeInstance) {
    InstanceOptions options;
    options.pinCount = INT32_MAX;
    Rig rig(48000.0f, options);
    ASSERT_TRUE(rig.instance);
    rig.expr("out1 = 1;");  // no pin to deliver it to
    rig.host().pinUpdate(7);
    rig.run(32);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(rig.out(0, i), 0.0f);
    EXPECT_TRUE(rig.host().statuses().empty());
    // A later open that can build the pins brings the instance back.
    rig.host().setPinCount(11);
    rig.host().open();
    rig.expr("out1 = 1;");
    rig.run(32);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(rig.out(0, i), 0.1f);
}

TEST(HostCallback, SecondOpenRebuildsThePins) {
    Rig rig;
    rig.host().open();
    rig.host().clearCalls();
    rig.host().pinUpdate(0);
    EXPECT_EQ(rig.host().statuses().size(), 3u) << "each output once, not once per open";
}

TEST(HostCallback, NullCallbackIsHarmless) {
    InstanceOptions options;
    options.withCallback = false;
    Rig rig(48000.0f, options);
    ASSERT_TRUE(rig.instance);
    const ProcessEntry before = rig.host().record()->process;
    rig.host().open();  // no pins without a host to ask
    EXPECT_EQ(rig.host().record()->process, before) << "installed once, by the first open";
    for (int32_t pin = 0; pin < 11; ++pin) rig.host().pinUpdate(pin);
    rig.host().setText(kExprPin, "out1 = 1;");
    rig.run(16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(rig.out(0, i), 0.0f) << "no text ever reaches it";
    EXPECT_TRUE(rig.host().calls().empty());
}

// The process and event entries take only an object word that leads back
// to its own module: a byte copy of the object (its record names the
// original) or one with its magic broken is not one.
TEST(InstanceRecord, EntriesRefuseAForeignObject) {
    Rig rig;
    rig.expr("out1 = 1;");
    InstanceRecord* record = rig.host().record();
    const auto* object = static_cast<const unsigned char*>(record->object);
    const size_t end = static_cast<size_t>(reinterpret_cast<const unsigned char*>(record) - object) + sizeof *record;
    std::vector<std::max_align_t> storage(end / sizeof(std::max_align_t) + 1);
    void* copy = storage.data();
    float out[4];
    PinProperties props{};
    ASSERT_EQ(rig.host().pinProperties(8, &props), 1);
    float* buffer = out;
    std::memcpy(props.variable, &buffer, sizeof buffer);
    HostEvent event{};
    event.eventType = EVENT_PIN_UPDATE;
    event.pinIndex = 7;
    for (int32_t magic : {INSTANCE_MAGIC, 0}) {
        std::memcpy(copy, object, end);
        std::memcpy(static_cast<unsigned char*>(copy) + (end - sizeof *record), &magic, sizeof magic);
        std::fill(std::begin(out), std::end(out), kUntouched);
        rig.host().clearCalls();
        record->process(copy, 0, 4);
        record->event(copy, &event);
        for (float sample : out) EXPECT_EQ(sample, kUntouched) << magic;
        EXPECT_TRUE(rig.host().calls().empty()) << magic;
    }
}

// ---- Events ------------------------------------------------------------------------------------

struct CallProbe {
    static inline void* seen = nullptr;
    static inline int calls = 0;
    static void QUORVEL_CDECL operation(void* object) {
        seen = object;
        ++calls;
    }
};

TEST(Events, CallRunsTheOperationWithTheObject) {
    Rig rig;
    CallProbe::seen = nullptr;
    CallProbe::calls = 0;
    HostEvent event{};
    event.eventType = EVENT_CALL;
    event.call = &CallProbe::operation;
    rig.host().sendEvent(event);
    EXPECT_EQ(CallProbe::calls, 1);
    EXPECT_EQ(CallProbe::seen, rig.host().record()->object);
    event.call = nullptr;
    rig.host().sendEvent(event);
    EXPECT_EQ(CallProbe::calls, 1);
}

class IgnoredEvent : public testing::TestWithParam<int32_t> {};

TEST_P(IgnoredEvent, NeitherCallsTheHostNorChangesOutput) {
    Rig rig;
    rig.expr("out1 = 1;");
    rig.host().clearCalls();
    HostEvent event{};
    event.eventType = GetParam();
    event.data = 7;
    event.value = 0;
    event.extra = 0x12345;
    event.pinIndex = 7;
    rig.host().sendEvent(event);
    EXPECT_TRUE(rig.host().calls().empty());
    rig.run(4);
    EXPECT_EQ(rig.out(0, 3), 0.1f);
}

INSTANTIATE_TEST_SUITE_P(Types, IgnoredEvent, testing::Values(EVENT_DATA, 1, 3, 20, 22, -1, 1000));

TEST(Events, PinUpdateOutsideThePinsIsIgnored) {
    Rig rig;
    const intptr_t far = sizeof(intptr_t) == 8 ? static_cast<intptr_t>(INT64_C(1) << 40) : INTPTR_MAX;
    for (intptr_t pin : {intptr_t{-1}, intptr_t{11}, intptr_t{INT32_MIN}, far}) {
        rig.host().clearCalls();
        rig.host().pinUpdate(pin);
        EXPECT_TRUE(rig.host().calls().empty()) << pin;
    }
    // A null event and a null object are refused at the entry.
    rig.host().record()->event(rig.host().record()->object, nullptr);
    HostEvent event{};
    event.eventType = EVENT_PIN_UPDATE;
    event.pinIndex = 7;
    rig.host().record()->event(nullptr, &event);
    EXPECT_TRUE(rig.host().calls().empty());
}

}  // namespace
}  // namespace quorvel_test
