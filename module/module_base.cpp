#include "module_base.h"

#include <algorithm>
#include <cstring>
#include <cstdlib>
#include <new>

#include "float_state.h"
#include "instance_lifetime.h"

namespace quorvel::module {

namespace {

// The pin block: pinCount in front, then the pins, aligned for them.
constexpr std::size_t kPinsOffset = std::max(alignof(ModulePin), sizeof(int32_t));
static_assert(kPinsOffset % alignof(ModulePin) == 0 && kPinsOffset % alignof(int32_t) == 0);

unsigned char* blockOf(ModulePin* pins) noexcept {
    return reinterpret_cast<unsigned char*>(pins) - kPinsOffset;
}

int32_t QUORVEL_CDECL dispatcherEntry(InstanceRecord* record, int32_t opcode, int32_t index, int32_t value, void* ptr,
                                      float opt) noexcept {
    EngineFloatState floatState;
    ModuleBase* module = ModuleBase::fromRecord(record);
    return module ? module->dispatch(opcode, index, value, ptr, opt) : 0;
}

void QUORVEL_CDECL eventEntry(void* object, HostEvent* event) noexcept {
    EngineFloatState floatState;
    ModuleBase* module = ModuleBase::fromObject(object);
    if (module && event) module->handleEvent(event);
}

void storeWord(unsigned char* storage, uint32_t value) noexcept {
    std::memcpy(storage, &value, sizeof value);
}

}  // namespace

void QUORVEL_CDECL processNothing(void*, int32_t, int32_t) {}

// ---- ModulePin ----------------------------------------------------------------

ModulePin::~ModulePin() = default;

void ModulePin::init(ModuleBase* owner, int32_t pinIndex, int32_t type, void* variable) noexcept {
    module = owner;
    index = pinIndex;
    datatype = type;
    status = 0;
    valueAddress = variable;
    if (variable) {
        storeWord(storage, 0);
        return;
    }
    switch (type) {
        case DATATYPE_INT16: {
            const uint16_t zero = 0;
            std::memcpy(storage, &zero, sizeof zero);
            valueAddress = storage;
            break;
        }
        case DATATYPE_INT8:
            storage[0] = 0;
            valueAddress = storage;
            break;
        case DATATYPE_AUDIO:
            storeWord(storage, static_cast<uint32_t>(owner->callHost(HOST_GET_PIN_VALUE, pinIndex, 0, nullptr, 0.0f)));
            valueAddress = storage;
            break;
        case DATATYPE_INT32:
            storeWord(storage, 0);
            valueAddress = storage;
            break;
        default:  // text and the codes without storage
            break;
    }
}

void ModulePin::sendStatus(int32_t stamp, int32_t newStatus) noexcept {
    if (!module) return;
    // The stamp travels as a 32-bit value in the pointer-sized slot.
    module->callHost(HOST_SET_PIN_STATUS, index, newStatus, reinterpret_cast<void*>(static_cast<intptr_t>(stamp)),
                     0.0f);
}

void ModulePin::deliverUpdate(int32_t newStatus) noexcept {
    if (!module) return;
    status = newStatus;
    module->onPinUpdate(this);
    if (status == PIN_STATUS_ONE_SHOT) status = PIN_STATUS_CLEAR;
}

// ---- ModuleBase -----------------------------------------------------------------

ModuleBase::ModuleBase(HostCallback callback, void* hostData) noexcept
    : hostCallback(callback), currentProcess(&processNothing) {
    std::memset(&record, 0, sizeof record);
    record.magic = INSTANCE_MAGIC;
    record.version = INSTANCE_VERSION;
    record.hostData = hostData;
    record.object = static_cast<void*>(this);
    record.dispatcher = &dispatcherEntry;
    record.process = &processNothing;
    record.event = &eventEntry;
    // The heap may have given this block to an instance closed earlier.
    adoptObject(record.object);
}

ModuleBase::~ModuleBase() {
    releasePins();
}

ModuleBase* ModuleBase::fromRecord(InstanceRecord* record) noexcept {
    if (!record || record->magic != INSTANCE_MAGIC || !record->object) return nullptr;
    ModuleBase* module = static_cast<ModuleBase*>(record->object);
    return module->instanceRecord() == record ? module : nullptr;
}

ModuleBase* ModuleBase::fromObject(void* object) noexcept {
    if (!object) return nullptr;
    ModuleBase* module = static_cast<ModuleBase*>(object);
    const InstanceRecord& own = module->record;
    return own.magic == INSTANCE_MAGIC && own.object == object ? module : nullptr;
}

void ModuleBase::onPinUpdate(ModulePin*) noexcept {}

void ModuleBase::handleEvent(HostEvent* event) noexcept {
    switch (event->eventType) {
        case EVENT_PIN_UPDATE:
            // Updates for pins that do not exist or were never bound are dropped.
            if (ModulePin* target = boundPin(event->pinIndex)) target->deliverUpdate(event->value);
            break;
        case EVENT_DATA: onDataEvent(event->data, event->value, static_cast<int16_t>(event->extra & 0xFFFF)); break;
        case EVENT_CALL:
            if (event->call) event->call(record.object);
            break;
        default: break;
    }
}

int32_t ModuleBase::dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) noexcept {
    switch (opcode) {
        case DISPATCH_OPEN: open(); return 0;
        case DISPATCH_CLOSE: {
            close();
            // Held until the memory is gone: no process call is inside it
            // any more, and one that still comes leaves it alone.
            const ObjectRelease release(record.object);
            delete this;
            return 1;
        }
        case DISPATCH_SET_SAMPLE_RATE: setSampleRate(opt); return 0;
        case DISPATCH_SET_BLOCK_SIZE: setBlockSize(value); return 0;
        case DISPATCH_GET_PIN_PROPERTIES:
            if (!ptr) return 0;
            return getPinProperties(index, static_cast<PinProperties*>(ptr)) ? 1 : 0;
        case DISPATCH_COMMAND: onHostCommand(); return 0;
        case DISPATCH_PIN_REQUEST: onHostPinRequest(index, ptr); return 0;
        default: return 0;
    }
}

void ModuleBase::open() noexcept {
    // A second open starts from scratch rather than leaking the first pins.
    releasePins();
    pinAllocationFailed = false;
    int32_t count = callHost(HOST_GET_PIN_COUNT, 0, 0, nullptr, 0.0f);
    if (count < 0) count = 0;
    if (!allocatePins(count)) {
        pinAllocationFailed = true;
        return;
    }
    bindDeclaredPins(count);
}

bool ModuleBase::allocatePins(int32_t count) noexcept {
    if (count == 0) return true;
    if (count > kMaxPins) return false;
    void* block = std::malloc(kPinsOffset + static_cast<std::size_t>(count) * sizeof(ModulePin));
    if (!block) return false;
    unsigned char* bytes = static_cast<unsigned char*>(block);
    new (bytes) int32_t(count);
    ModulePin* first = reinterpret_cast<ModulePin*>(bytes + kPinsOffset);
    for (int32_t i = 0; i < count; ++i) new (&first[i]) ModulePin();
    for (int32_t i = 0; i < count; ++i) first[i].index = i;
    pins = first;
    return true;
}

void ModuleBase::bindDeclaredPins(int32_t count) noexcept {
    PinProperties props;
    int32_t i = 0;
    // The module is asked before the count is compared, so index count is
    // asked too when the module declares that many.
    for (;; ++i) {
        if (!queryPinProperties(i, &props) || i >= count) break;
        pins[i].init(this, i, props.datatype, props.variable);
    }
    queryPinProperties(i - 1, &props);
    if (props.flags & PIN_FLAG_REPEAT) {
        for (int32_t j = i; j < count; ++j) pins[j].init(this, j, props.datatype, nullptr);
    }
}

void ModuleBase::releasePins() noexcept {
    if (!pins) return;
    const int32_t count = pinCount();
    for (int32_t i = 0; i < count; ++i) pins[i].~ModulePin();
    unsigned char* block = blockOf(pins);
    pins = nullptr;
    std::free(block);
}

int32_t ModuleBase::pinCount() const noexcept {
    if (!pins) return 0;
    return *reinterpret_cast<const int32_t*>(reinterpret_cast<const unsigned char*>(pins) - kPinsOffset);
}

ModulePin* ModuleBase::boundPin(intptr_t index) noexcept {
    if (index < 0 || index >= pinCount()) return nullptr;
    ModulePin* found = &pins[index];
    return found->bound() ? found : nullptr;
}

void ModuleBase::close() noexcept {}
void ModuleBase::spareHook(int32_t, int32_t) noexcept {}
void ModuleBase::setSampleRate(float rate) noexcept {
    sampleRate = rate;
}
void ModuleBase::setBlockSize(int32_t size) noexcept {
    blockSize = size;
}
float ModuleBase::getSampleRate() noexcept {
    return sampleRate;
}
int32_t ModuleBase::getBlockSize() noexcept {
    return blockSize;
}
bool ModuleBase::getPinProperties(int32_t, PinProperties*) noexcept {
    return false;
}
bool ModuleBase::spareQueryA(int32_t) noexcept {
    return false;
}
bool ModuleBase::spareQueryB(int32_t) noexcept {
    return false;
}
void ModuleBase::onHostCommand() noexcept {}
void ModuleBase::onDataEvent(int32_t, int32_t, int16_t) noexcept {}
void ModuleBase::onHostPinRequest(int32_t, void*) noexcept {}

int32_t ModuleBase::callHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) noexcept {
    return hostCallback ? hostCallback(&record, opcode, index, value, ptr, opt) : 0;
}

int32_t ModuleBase::hostStamp() noexcept {
    return callHost(HOST_GET_STAMP, 0, 0, nullptr, 0.0f);
}

bool ModuleBase::queryPinProperties(int32_t index, PinProperties* props) noexcept {
    std::memset(props, 0, sizeof *props);
    return getPinProperties(index, props);
}

void ModuleBase::setProcessFunction(ProcessEntry process) noexcept {
    if (process == currentProcess) return;
    currentProcess = process;
    record.process = process;
    callHost(HOST_PROCESS_CHANGED, 0, 0, nullptr, 0.0f);
}

}  // namespace quorvel::module
