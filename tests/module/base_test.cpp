// The module base on its own, under a module of the test's own: pins that
// get storage of their own by datatype, the repeating last pin, unbound pins,
// and the operations the base does by itself. Built into this program from
// module/module_base.cpp; the expression module declares none of these pins.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <vector>

#include "module/module_base.h"

namespace {

using namespace quorvel::module;

struct FakeHost {
    static inline int32_t pinCount = 0;
    static inline std::vector<int32_t> valueAsked;  // pins of HOST_GET_PIN_VALUE
    static inline int32_t statusCalls = 0;
    static int32_t QUORVEL_CDECL callback(InstanceRecord*, int32_t opcode, int32_t index, int32_t, void*, float) {
        if (opcode == HOST_GET_PIN_COUNT) return pinCount;
        if (opcode == HOST_GET_PIN_VALUE) {
            valueAsked.push_back(index);
            return 1000 + index;
        }
        if (opcode == HOST_SET_PIN_STATUS) ++statusCalls;
        return 0;
    }
    static void reset(int32_t count) {
        pinCount = count;
        valueAsked.clear();
        statusCalls = 0;
    }
};

// Declares one pin per datatype, none with a variable but the text pin.
class ProbeModule : public ModuleBase {
public:
    ProbeModule(bool repeatLast) noexcept : ModuleBase(&FakeHost::callback, nullptr), repeat(repeatLast) {}
    static constexpr int32_t kTypes[] = {DATATYPE_INT16, DATATYPE_INT8, DATATYPE_AUDIO, DATATYPE_INT32, 2,
                                         DATATYPE_TEXT,  DATATYPE_AUDIO};
    static constexpr int32_t kDeclared = 7;
    bool getPinProperties(int32_t index, PinProperties* props) noexcept override {
        if (index < 0 || index >= kDeclared) return false;
        props->datatype = kTypes[index];
        props->variable = kTypes[index] == DATATYPE_TEXT ? &text : nullptr;
        if (repeat && index == kDeclared - 1) props->flags = PIN_FLAG_REPEAT;
        return true;
    }
    void onPinUpdate(ModulePin* pin) noexcept override { seen.push_back({pin->index, pin->status}); }
    void* text = nullptr;
    bool repeat;
    std::vector<std::pair<int32_t, int32_t>> seen;  // pin, status during the update
};

void update(ModuleBase& module, intptr_t pin, int32_t status) {
    HostEvent event{};
    event.eventType = EVENT_PIN_UPDATE;
    event.value = status;
    event.pinIndex = pin;
    module.instanceRecord()->event(module.instanceRecord()->object, &event);
}

TEST(ModuleBase, PinsWithoutVariablesGetStorageByDatatype) {
    for (bool repeat : {false, true}) {
        FakeHost::reset(10);
        auto* module = new (std::nothrow) ProbeModule(repeat);
        ASSERT_NE(module, nullptr);
        InstanceRecord* record = module->instanceRecord();
        record->dispatcher(record, DISPATCH_OPEN, 0, 0, nullptr, 0.0f);
        ASSERT_EQ(module->pinCount(), 10);
        for (int32_t i = 0; i < ProbeModule::kDeclared; ++i) {
            ModulePin* pin = module->boundPin(i);
            ASSERT_NE(pin, nullptr) << i;
            EXPECT_EQ(pin->datatype, ProbeModule::kTypes[i]);
        }
        const auto own = [&](int32_t i) { return module->pin(i)->valueAddress == module->pin(i)->storage; };
        uint16_t half = 1;
        uint32_t word = 1;
        std::memcpy(&half, module->pin(0)->storage, sizeof half);
        EXPECT_TRUE(own(0) && half == 0);
        EXPECT_TRUE(own(1) && module->pin(1)->storage[0] == 0);
        std::memcpy(&word, module->pin(2)->storage, sizeof word);
        EXPECT_TRUE(own(2) && word == 1002) << "an audio pin starts from the host's value";
        std::memcpy(&word, module->pin(3)->storage, sizeof word);
        EXPECT_TRUE(own(3) && word == 0);
        EXPECT_EQ(module->pin(4)->valueAddress, nullptr) << "no storage for this code";
        EXPECT_EQ(module->pin(5)->valueAddress, &module->text);
        // Only a repeating last pin reaches the host's count.
        for (int32_t i = ProbeModule::kDeclared; i < 10; ++i) {
            EXPECT_EQ(module->boundPin(i) != nullptr, repeat) << i;
            if (repeat) {
                EXPECT_EQ(module->pin(i)->datatype, DATATYPE_AUDIO);
                EXPECT_TRUE(own(i));
            }
        }
        const std::vector<int32_t> asked = repeat ? std::vector<int32_t>{2, 6, 7, 8, 9} : std::vector<int32_t>{2, 6};
        EXPECT_EQ(FakeHost::valueAsked, asked);
        // Updates reach bound pins only; a one-shot status holds during its update.
        update(*module, 1, PIN_STATUS_ONE_SHOT);
        update(*module, 8, PIN_STATUS_ACTIVE);
        EXPECT_EQ(module->pin(1)->status, PIN_STATUS_CLEAR);
        using Seen = std::vector<std::pair<int32_t, int32_t>>;
        const Seen seen = repeat ? Seen{{1, 1}, {8, 2}} : Seen{{1, 1}};
        EXPECT_EQ(module->seen, seen);
        if (!repeat) {
            // An unbound pin neither reports nor takes an update.
            module->pin(8)->sendStatus(5, PIN_STATUS_ACTIVE);
            module->pin(8)->deliverUpdate(PIN_STATUS_ACTIVE);
            EXPECT_EQ(FakeHost::statusCalls, 0);
            EXPECT_EQ(module->pin(8)->status, 0);
        }
        EXPECT_EQ(record->dispatcher(record, DISPATCH_CLOSE, 0, 0, nullptr, 0.0f), 1);
    }
}

// The base alone declares no pin and keeps what the host sets.
TEST(ModuleBase, OperationsOfTheBaseItself) {
    FakeHost::reset(3);
    auto* module = new (std::nothrow) ModuleBase(&FakeHost::callback, nullptr);
    ASSERT_NE(module, nullptr);
    InstanceRecord* record = module->instanceRecord();
    PinProperties props{};
    EXPECT_EQ(record->dispatcher(record, DISPATCH_GET_PIN_PROPERTIES, 0, 0, &props, 0.0f), 0);
    EXPECT_EQ(record->dispatcher(record, DISPATCH_SET_BLOCK_SIZE, 0, 256, nullptr, 0.0f), 0);
    EXPECT_EQ(record->dispatcher(record, DISPATCH_SET_SAMPLE_RATE, 0, 0, nullptr, 96000.0f), 0);
    EXPECT_EQ(module->getBlockSize(), 256);
    EXPECT_EQ(module->getSampleRate(), 96000.0f);
    record->dispatcher(record, DISPATCH_OPEN, 0, 0, nullptr, 0.0f);
    EXPECT_EQ(module->pinCount(), 3);
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(module->boundPin(i), nullptr);
    update(*module, 0, PIN_STATUS_ACTIVE);
    EXPECT_EQ(record->process, &processNothing);
    EXPECT_EQ(record->dispatcher(record, DISPATCH_CLOSE, 0, 0, nullptr, 0.0f), 1);
}

}  // namespace
