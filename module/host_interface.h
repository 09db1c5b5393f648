// The binary contract between a module library and the host application.
//
// Everything here crosses the library boundary: the records are laid out
// word by word (little-endian, 32-bit words), the functions are plain cdecl
// functions. In 32-bit builds the layout is the host's exactly and is checked
// at compile time; in 64-bit builds the words that hold addresses widen to
// pointer size and every other word stays 32-bit.
//
// Threads: the library starts none and takes no lock. Each entry runs on the
// thread the host calls it on. The process entry is the audio thread's; the
// dispatcher and the event entry are the control side and may come from any
// thread, one call at a time per instance. Which calls may overlap which:
//
//   process  with process:            never (one audio thread per instance)
//   control  with control:            never (the host serialises them)
//   process  with event (pin update), DISPATCH_OPEN, DISPATCH_SET_SAMPLE_RATE,
//            DISPATCH_SET_BLOCK_SIZE, DISPATCH_GET_PIN_PROPERTIES and the
//            other opcodes:           allowed; the control call waits for the
//                                     block in flight only when it must change
//                                     what the block reads, and the block goes
//                                     silent to let it (see ExpressionModule)
//   process  with DISPATCH_CLOSE:     allowed: a process call that begins
//                                     before close returns is safe. A block
//                                     in flight ends before anything is
//                                     freed; one that begins during close
//                                     writes silence, or, once the memory is
//                                     being released, returns at once and
//                                     writes nothing
//   anything after DISPATCH_CLOSE has returned: forbidden, the instance and
//                                     its record are gone
//
// DISPATCH_CLOSE waits for the process calls in flight when it frees the
// instance, of this and of every other instance of the library, since the
// guard of the memory is shared; each ends within its own block. makeModule
// may wait the same way when the heap hands it a closed instance's memory.
//
// Every entry runs the engine in its own floating-point state (round to
// nearest, exceptions masked, subnormals kept, x87 at double precision) and
// gives the caller's state back on return.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && defined(__i386__)
#define QUORVEL_CDECL __cdecl
#else
#define QUORVEL_CDECL
#endif

struct InstanceRecord;
struct HostEvent;

// ---- Numbers of the contract ------------------------------------------------

inline constexpr int32_t INSTANCE_MAGIC = 0x5345504C;
inline constexpr int32_t INSTANCE_VERSION = 1;
inline constexpr int32_t INTERFACE_VERSION = 2070;
inline constexpr int32_t MODULE_KIND = 1;  // the only kind makeModule accepts

// Opcodes of the dispatcher entry. Every other value does nothing and gives 0.
enum DispatchOpcode : int32_t {
    DISPATCH_OPEN = 0,                // build pins, install the process operation; 0
    DISPATCH_CLOSE = 1,               // end the instance and its record; 1
    DISPATCH_SET_SAMPLE_RATE = 2,     // opt = rate in hertz, read at the next open; 0
    DISPATCH_SET_BLOCK_SIZE = 3,      // value = samples; 0
    DISPATCH_GET_PIN_PROPERTIES = 6,  // index, ptr = PinProperties*; 1 when the pin exists
    DISPATCH_COMMAND = 8,             // 0
    DISPATCH_PIN_REQUEST = 12         // index, ptr; 0
};

// Opcodes the library sends through the host callback; no other is ever sent.
enum HostOpcode : int32_t {
    HOST_SET_PIN_STATUS = 0,   // index = pin, value = status, ptr = stamp (32-bit value in the slot)
    HOST_GET_STAMP = 3,        // result: a value handed back in the next HOST_SET_PIN_STATUS
    HOST_GET_PIN_VALUE = 7,    // index = pin; result: initial storage of an audio pin without variable
    HOST_GET_PIN_COUNT = 14,   // result: number of pins of this instance
    HOST_PROCESS_CHANGED = 22  // the record's process word has changed
};

// HostEvent.eventType. Every other type is ignored.
enum EventType : int32_t {
    EVENT_PIN_UPDATE = 0,  // value = new status, pinIndex = the pin
    EVENT_DATA = 2,        // data, value and the low half of extra go to onDataEvent
    EVENT_CALL = 21        // call = an operation of the module to run
};

// Datatype codes of pins. The expression module uses TEXT and AUDIO; the
// others matter only for the storage a pin without a module variable gets.
enum Datatype : int32_t {
    DATATYPE_INT16 = 0,  // 16-bit storage
    DATATYPE_TEXT = 1,   // no storage
    // 2 and 3: no storage
    DATATYPE_INT8 = 4,   // 8-bit storage
    DATATYPE_AUDIO = 5,  // 32-bit storage, initialised by HOST_GET_PIN_VALUE
    DATATYPE_INT32 = 6   // 32-bit storage; 7 and above: no storage
};

enum PinDirection : int32_t { DIRECTION_IN = 0, DIRECTION_OUT = 1 };

enum PinFlags : int32_t {
    PIN_FLAG_REPEAT = 8  // the last declared pin repeats up to the host's pin count
};

// Statuses carried by pin updates and sent with HOST_SET_PIN_STATUS.
enum PinStatus : int32_t {
    PIN_STATUS_CLEAR = 0,
    PIN_STATUS_ONE_SHOT = 1,  // holds only while its update is being handled
    PIN_STATUS_ACTIVE = 2     // what the expression module reports for its outputs
};

// ---- Function types ---------------------------------------------------------

// The host's function. Called by the library on the thread of whichever entry
// is running (never from the process entry); record is the instance's own.
typedef int32_t(QUORVEL_CDECL* HostCallback)(InstanceRecord* record, int32_t opcode, int32_t index, int32_t value,
                                             void* ptr, float opt);

// Entries the host calls through an InstanceRecord.
typedef int32_t(QUORVEL_CDECL* DispatcherEntry)(InstanceRecord* record, int32_t opcode, int32_t index, int32_t value,
                                                void* ptr, float opt);
// Thread: the dispatcher may be called from any thread but not concurrently
// with itself or the event entry. DISPATCH_CLOSE ends the instance: the record
// and every address the module handed out (pin variables, the record's words)
// are invalid once it returns.
//
// The process entry: audio thread only, never two at once for one instance.
// object is the record's object word; start and count select samples of the
// buffers the host has written into the module's variables, which the host
// owns and keeps valid for the call. It allocates nothing, takes no lock and
// never waits. It may overlap any control call of the same instance,
// DISPATCH_CLOSE included; it must not begin after DISPATCH_CLOSE has
// returned.
typedef void(QUORVEL_CDECL* ProcessEntry)(void* object, int32_t start, int32_t count);
// The event entry: control side, like the dispatcher. The event is the
// host's and is read only during the call.
typedef void(QUORVEL_CDECL* EventEntry)(void* object, HostEvent* event);

// An operation of the module carried by EVENT_CALL: run with the object word.
typedef void(QUORVEL_CDECL* ModuleCall)(void* object);

// ---- Records ----------------------------------------------------------------

struct ModuleProperties;
typedef int32_t(QUORVEL_CDECL* GetModulePropertiesFunction)(int32_t index, ModuleProperties* props);
typedef InstanceRecord*(QUORVEL_CDECL* MakeModuleFunction)(int32_t index, int32_t kind, HostCallback callback,
                                                           void* hostData);

// Owned by the host; getModuleProperties writes the three text addresses and
// interfaceVersion, nothing else. The texts are constants of the library and
// live as long as it stays loaded.
struct ModuleProperties {
    const char* moduleName;
    const char* moduleId;
    const char* about;
    int32_t reserved[2];  // never written
    int32_t interfaceVersion;
};

// Embedded in the module object and owned by it: valid from makeModule until
// DISPATCH_CLOSE returns. The host reads it on any of its threads; the library
// writes it at construction and `process` when an operation is installed
// (announced by HOST_PROCESS_CHANGED).
struct InstanceRecord {
    int32_t magic;    // INSTANCE_MAGIC
    int32_t version;  // INSTANCE_VERSION
    void* hostData;   // makeModule's last argument, stored and never read
    void* object;     // the module object: first argument of process and event
    int32_t reserved0;
    DispatcherEntry dispatcher;
    ProcessEntry process;  // the current process operation
    EventEntry event;
    int32_t reserved1[4];
};

// Filled by the module for DISPATCH_GET_PIN_PROPERTIES, owned by whoever
// asks. Only the words a pin sets are written; the rest keep their contents.
struct PinProperties {
    // Address of the module variable behind the pin. The host keeps it
    // current: for an audio pin it stores there the address of the current
    // block's float buffer, for a text pin the address of the current text.
    // Valid until DISPATCH_CLOSE.
    void* variable;
    int32_t direction;         // PinDirection
    int32_t datatype;          // Datatype
    const char* pinName;       // library constant
    const char* defaultValue;  // library constant, or null
    int32_t reserved0;
    int32_t flags;  // PinFlags
    int32_t reserved1;
};

// Built and owned by the host, read by the library during the event entry only.
struct HostEvent {
    int32_t data;       // EVENT_DATA: first argument of onDataEvent
    int32_t eventType;  // EventType
    int32_t value;      // EVENT_PIN_UPDATE: new status; EVENT_DATA: second argument
    int32_t extra;      // EVENT_DATA: the low 16 bits are the third argument
    union {
        intptr_t pinIndex;  // EVENT_PIN_UPDATE
        ModuleCall call;    // EVENT_CALL; null is ignored
    };
};

// ---- Layout checks ----------------------------------------------------------

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ModuleProperties) == 24);
static_assert(offsetof(ModuleProperties, moduleId) == 4);
static_assert(offsetof(ModuleProperties, about) == 8);
static_assert(offsetof(ModuleProperties, reserved) == 12);
static_assert(offsetof(ModuleProperties, interfaceVersion) == 20);

static_assert(sizeof(InstanceRecord) == 48);
static_assert(offsetof(InstanceRecord, version) == 4);
static_assert(offsetof(InstanceRecord, hostData) == 8);
static_assert(offsetof(InstanceRecord, object) == 12);
static_assert(offsetof(InstanceRecord, reserved0) == 16);
static_assert(offsetof(InstanceRecord, dispatcher) == 20);
static_assert(offsetof(InstanceRecord, process) == 24);
static_assert(offsetof(InstanceRecord, event) == 28);
static_assert(offsetof(InstanceRecord, reserved1) == 32);

static_assert(sizeof(PinProperties) == 32);
static_assert(offsetof(PinProperties, direction) == 4);
static_assert(offsetof(PinProperties, datatype) == 8);
static_assert(offsetof(PinProperties, pinName) == 12);
static_assert(offsetof(PinProperties, defaultValue) == 16);
static_assert(offsetof(PinProperties, flags) == 24);

static_assert(sizeof(HostEvent) == 20);
static_assert(offsetof(HostEvent, eventType) == 4);
static_assert(offsetof(HostEvent, value) == 8);
static_assert(offsetof(HostEvent, extra) == 12);
static_assert(offsetof(HostEvent, pinIndex) == 16);
#endif

static_assert(sizeof(float) == 4 && sizeof(int32_t) == 4);
static_assert(sizeof(intptr_t) == sizeof(void*) && sizeof(ModuleCall) == sizeof(void*));
