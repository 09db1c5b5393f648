// Our own host: loads a module library and drives its instances the way the
// host application does, through the binary interface alone.
//
//   auto library = quorvel::host::Library::load(quorvel::host::moduleNextToExecutable());
//   auto instance = quorvel::host::Instance::create(*library);   // makeModule
//   instance->setSampleRate(48000.0f);                            // before open
//   instance->open();                    // DISPATCH_OPEN, then learns the pins
//   instance->setText(instance->findPin("Expr"), "out1 = u;");     // text + pin update
//   const float* in[6] = {u, nullptr, ...};  float* out[3] = {o1, o2, o3};
//   instance->processBlock(in, out, 256);  // buffers into the variables, then process
//   instance->close();                     // or let the destructor do it
//
// Library: one loaded module library (dlopen / LoadLibrary), unloaded on destruction;
//   its instances must be gone first.
// Instance: one module instance. It answers the host callback (pin count,
//   stamps, pin values) and records every call so tests can read them back.
//   Lower-level calls (dispatch, event, writeVariable, process) let tests
//   and fuzzers send any sequence, including misuse.
// Threads: process()/processBlock() may run on one thread while setText(),
//   pinUpdate() and close() run on another (the recorded calls are guarded);
//   process() itself allocates nothing and takes no lock.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "../module/host_interface.h"
#include "../module/pins.h"
#include "float_control.h"

namespace quorvel::host {

// Where the test programs and tools find quorvel.sem: next to the running executable.
std::string moduleNextToExecutable(const std::string& fileName = "quorvel.sem");

class Library {
public:
    // quorvel.sem next to the running program, loaded once for the whole
    // process; when it cannot be loaded the process stops with the reason.
    // For test programs, fuzzers and benchmarks.
    static const Library& nextToExecutable();
    // Null when the file cannot be loaded or lacks either export; *error says why.
    static std::unique_ptr<Library> load(const std::string& path, std::string* error = nullptr);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    int32_t getModuleProperties(int32_t index, ModuleProperties* props) const;
    InstanceRecord* makeModule(int32_t index, int32_t kind, HostCallback callback, void* hostData) const;
    // The platform's handle (void* from dlopen, HMODULE on Windows).
    void* nativeHandle() const { return handle_; }

private:
    Library() = default;
    void* handle_ = nullptr;
    GetModulePropertiesFunction getProperties_ = nullptr;
    MakeModuleFunction make_ = nullptr;
};

// One call the module made through the host callback.
struct HostCall {
    int32_t opcode;
    int32_t index;
    int32_t value;
    intptr_t ptr;
    float opt;
};

// One HOST_SET_PIN_STATUS: pin, status and the stamp it carried.
struct StatusReport {
    int32_t pin;
    int32_t status;
    int32_t stamp;
};

struct InstanceOptions {
    int32_t index = 0;           // makeModule's index
    int32_t kind = MODULE_KIND;  // makeModule's kind
    bool withCallback = true;    // false: makeModule gets a null callback
    int32_t pinCount = 11;       // answer to HOST_GET_PIN_COUNT
    int32_t firstStamp = 1000;   // HOST_GET_STAMP answers this, then counts up
    // Set before every call into the module (and taken back after it), as a
    // host that runs in another floating-point state would; null keeps the
    // thread's own state.
    const FloatControl* callerFloatControl = nullptr;
};

class Instance {
public:
    static constexpr int32_t kMaxPins = 64;  // pins this host keeps properties and texts for

    // makeModule with the options; null when the module refuses.
    static std::unique_ptr<Instance> create(const Library& library, const InstanceOptions& options = {});
    ~Instance();  // closes the instance if it is still open
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    InstanceRecord* record() const { return record_; }
    bool closed() const { return record_ == nullptr; }

    // ---- Dispatcher -----------------------------------------------------
    // Raw dispatcher call; DISPATCH_CLOSE through here also forgets the record.
    int32_t dispatch(int32_t opcode, int32_t index = 0, int32_t value = 0, void* ptr = nullptr, float opt = 0.0f);
    void setSampleRate(float rate);
    void setBlockSize(int32_t size);
    // DISPATCH_GET_PIN_PROPERTIES into the caller's record, passed unchanged.
    int32_t pinProperties(int32_t index, PinProperties* props);
    // DISPATCH_OPEN, then asks for pin properties from 0 until the module
    // refuses (at most kMaxPins) and remembers them.
    void open();
    void close();

    // ---- Pins as learned at open ------------------------------------------
    int32_t declaredPins() const { return declaredPins_; }
    const PinProperties* pin(int32_t index) const;
    int32_t findPin(const std::string& name) const;  // -1 when absent
    // Stores an address (buffer or text) at the pin's variable. False for an
    // unknown pin or a pin without variable.
    bool writeVariable(int32_t pin, const void* address);
    // Keeps a copy of text, writes its address into the pin's variable and,
    // when deliver is set, sends EVENT_PIN_UPDATE with status.
    bool setText(int32_t pin, const std::string& text, bool deliver = true, int32_t status = PIN_STATUS_CLEAR);
    void pinUpdate(intptr_t pin, int32_t status = PIN_STATUS_CLEAR);  // any index, checked by the module only
    void sendEvent(HostEvent& event);                                 // the record's event entry

    // ---- Audio --------------------------------------------------------------
    // The record's process word, called once. No allocation, no lock.
    void process(int32_t start, int32_t count);
    // Writes the six input and three output buffer addresses (null allowed)
    // into the pins u ... z, out1 ... out3, then process(0, count).
    void processBlock(const float* const* inputs, float* const* outputs, int32_t count);

    // ---- Answers and records of the host callback ---------------------------
    void setPinCount(int32_t count);
    void setPinValue(int32_t pin, int32_t value);  // answer to HOST_GET_PIN_VALUE
    std::vector<HostCall> calls() const;
    std::vector<StatusReport> statuses() const;
    std::vector<int32_t> stampsIssued() const;
    int32_t processChangedCount() const;
    void clearCalls();
    // Calls after which the floating-point state was not the one the host
    // set before it (only with callerFloatControl).
    int32_t floatControlChanges() const { return floatControlChanges_.load(); }

private:
    explicit Instance(const InstanceOptions& options);
    static int32_t QUORVEL_CDECL callback(InstanceRecord* record, int32_t opcode, int32_t index, int32_t value,
                                          void* ptr, float opt);
    int32_t answer(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt);
    friend class CallerFloatScope;

    InstanceOptions options_;
    InstanceRecord* record_ = nullptr;
    std::atomic<int32_t> floatControlChanges_{0};
    int32_t declaredPins_ = 0;
    std::array<PinProperties, kMaxPins> pins_{};
    std::array<std::string, kMaxPins> texts_{};
    static constexpr int32_t kAudioPins = module::kInputCount + module::kOutputCount;
    std::array<int32_t, kAudioPins> audioPins_{};  // the inputs, then the outputs; -1 when absent

    mutable std::mutex mutex_;  // guards everything below
    int32_t pinCount_;
    int32_t nextStamp_;
    std::array<int32_t, kMaxPins> pinValues_{};
    std::vector<HostCall> calls_;
    std::vector<StatusReport> statuses_;
    std::vector<int32_t> stamps_;
    int32_t processChanged_ = 0;
};

}  // namespace quorvel::host
