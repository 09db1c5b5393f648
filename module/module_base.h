// ModuleBase: the host contract implemented once for any module. It embeds
// the instance record, forwards dispatcher opcodes and events to virtual
// operations, owns the pins built at open and installs the process operation.
//
// Nothing here throws; every entry the host calls is noexcept and checks
// the arguments a misbehaving host could get wrong.
#pragma once

#include <cstdlib>
#include <new>

#include <cstdint>

#include "host_interface.h"

namespace quorvel::module {

class ModuleBase;

// One pin of an open instance. Pins live side by side in the block that
// ModuleBase owns; an unbound pin has no module.
class ModulePin {
public:
    ModulePin() noexcept = default;
    virtual ~ModulePin();

    ModulePin(const ModulePin&) = delete;
    ModulePin& operator=(const ModulePin&) = delete;

    // Binds the pin. A null variable gives the pin its own storage, prepared
    // by datatype (an audio pin asks the host for its initial value).
    void init(ModuleBase* owner, int32_t pinIndex, int32_t type, void* variable) noexcept;
    void sendStatus(int32_t stamp, int32_t newStatus) noexcept;
    // Handles one EVENT_PIN_UPDATE: the status is visible to onPinUpdate; a
    // one-shot status is cleared afterwards.
    void deliverUpdate(int32_t newStatus) noexcept;
    bool bound() const noexcept { return module != nullptr; }

    void* valueAddress = nullptr;
    ModuleBase* module = nullptr;
    int32_t index = 0;
    int32_t status = 0;
    int32_t datatype = 0;
    alignas(4) unsigned char storage[4] = {};
};

class ModuleBase {
public:
    ModuleBase(HostCallback callback, void* hostData) noexcept;

    // Module objects come straight from malloc: the C++ runtime's operator
    // new reacts to an exhausted heap by throwing, which a module must never
    // do inside a host.
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size); }
    static void operator delete(void* block) noexcept { std::free(block); }
    static void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }

    ModuleBase(const ModuleBase&) = delete;
    ModuleBase& operator=(const ModuleBase&) = delete;

    // Virtual operations, in the order of their slots. The order is the
    // module family's table layout, kept whole so that every module built on
    // this base fills the same slots; the spare ones hold their places.
    // "Control" is the thread of the dispatcher and the event entry, which
    // the host calls one at a time; the audio thread only ever runs the
    // process operation (see host_interface.h for what may overlap).
    virtual ~ModuleBase();                                // control, from DISPATCH_CLOSE
    virtual void onPinUpdate(ModulePin* pin) noexcept;    // control: EVENT_PIN_UPDATE
    virtual void handleEvent(HostEvent* event) noexcept;  // control: the event entry
    // Control: the dispatcher entry. DISPATCH_CLOSE destroys the object:
    // nothing may touch it afterwards.
    virtual int32_t dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) noexcept;
    virtual void open() noexcept;                           // control: DISPATCH_OPEN
    virtual void close() noexcept;                          // control: DISPATCH_CLOSE, right before destruction
    virtual void spareHook(int32_t a, int32_t b) noexcept;  // slot kept, never called
    virtual void setSampleRate(float rate) noexcept;        // control: DISPATCH_SET_SAMPLE_RATE
    virtual void setBlockSize(int32_t size) noexcept;       // control: DISPATCH_SET_BLOCK_SIZE
    virtual float getSampleRate() noexcept;                 // control, from open
    virtual int32_t getBlockSize() noexcept;                // control
    virtual bool getPinProperties(int32_t index, PinProperties* props) noexcept;  // control: at open and on request
    virtual bool spareQueryA(int32_t a) noexcept;                                 // slot kept, never called
    virtual bool spareQueryB(int32_t a) noexcept;                                 // slot kept, never called
    virtual void onHostCommand() noexcept;                                        // control: DISPATCH_COMMAND
    virtual void onDataEvent(int32_t a, int32_t b, int16_t c) noexcept;           // control: EVENT_DATA
    virtual void onHostPinRequest(int32_t index, void* ptr) noexcept;             // control: DISPATCH_PIN_REQUEST

    // The host callback with this instance's record first; 0 without a callback.
    int32_t callHost(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) noexcept;
    int32_t hostStamp() noexcept;
    // Unchecked: the caller keeps to 0 ... pinCount() - 1.
    ModulePin* pin(int32_t index) noexcept { return &pins[index]; }
    // The bound pin at index, or null for an index outside the pins or an unbound pin.
    ModulePin* boundPin(intptr_t index) noexcept;
    int32_t pinCount() const noexcept;
    bool queryPinProperties(int32_t index, PinProperties* props) noexcept;
    void setProcessFunction(ProcessEntry process) noexcept;

    InstanceRecord* instanceRecord() noexcept { return &record; }
    // The module behind a record or an object word, or null when the word
    // does not lead back to a live module record.
    static ModuleBase* fromRecord(InstanceRecord* record) noexcept;
    static ModuleBase* fromObject(void* object) noexcept;

protected:
    // True when the last open could not build the pins the host asked for.
    bool pinBlockFailed() const noexcept { return pinAllocationFailed; }

private:
    // A host can ask for any count; beyond this the block is treated as not
    // allocatable rather than built pin by pin.
    static constexpr int32_t kMaxPins = 65536;

    bool allocatePins(int32_t count) noexcept;
    void bindDeclaredPins(int32_t count) noexcept;
    void releasePins() noexcept;

    HostCallback hostCallback;
    InstanceRecord record;
    float sampleRate = 44100.0f;
    int32_t blockSize = 1024;
    ModulePin* pins = nullptr;  // owned block, pinCount() in front
    ProcessEntry currentProcess;
    bool pinAllocationFailed = false;
};

// The process operation of a module that has installed none.
void QUORVEL_CDECL processNothing(void* object, int32_t start, int32_t count);

}  // namespace quorvel::module
