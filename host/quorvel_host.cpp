#include "quorvel_host.h"

#include "realtime_section.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace quorvel::host {

namespace {

// The audio pins in the order processBlock takes buffers: inputs, then outputs.
const char* audioPinName(int32_t k) {
    return k < module::kInputCount
               ? module::kPins[module::pinIndex(module::PinRole::Input, k)].name
               : module::kPins[module::pinIndex(module::PinRole::Output, k - module::kInputCount)].name;
}

bool samePin(const PinProperties& a, const PinProperties& b) {
    return a.variable == b.variable && a.direction == b.direction && a.datatype == b.datatype &&
           a.pinName == b.pinName && a.defaultValue == b.defaultValue && a.reserved0 == b.reserved0 &&
           a.flags == b.flags && a.reserved1 == b.reserved1;
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

#if defined(_WIN32)
void* openLibrary(const std::string& path, std::string* error) {
    HMODULE handle = LoadLibraryA(path.c_str());
    if (!handle && error) *error = "LoadLibrary failed for " + path + " (error " + std::to_string(GetLastError()) + ")";
    return reinterpret_cast<void*>(handle);
}
void* findSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void closeLibrary(void* handle) {
    FreeLibrary(static_cast<HMODULE>(handle));
}
#else
void* openLibrary(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle && error) *error = dlerror();
    return handle;
}
void* findSymbol(void* handle, const char* name) {
    return dlsym(handle, name);
}
void closeLibrary(void* handle) {
    dlclose(handle);
}
#endif

}  // namespace

// The caller's floating-point state around one call into the module, when
// the instance's options ask for one; allocates nothing.
class CallerFloatScope {
public:
    explicit CallerFloatScope(Instance& instance) : instance_(instance), wanted_(instance.options_.callerFloatControl) {
        if (!wanted_) return;
        own_ = currentFloatControl();
        setFloatControl(*wanted_);
    }
    ~CallerFloatScope() {
        if (!wanted_) return;
        if (!(currentFloatControl() == *wanted_)) instance_.floatControlChanges_.fetch_add(1);
        setFloatControl(own_);
    }
    CallerFloatScope(const CallerFloatScope&) = delete;
    CallerFloatScope& operator=(const CallerFloatScope&) = delete;

private:
    Instance& instance_;
    const FloatControl* wanted_;
    FloatControl own_;
};

const Library& Library::nextToExecutable() {
    static const std::unique_ptr<Library> library = [] {
        std::string error;
        auto loaded = Library::load(moduleNextToExecutable(), &error);
        if (!loaded) {
            std::fprintf(stderr, "cannot load quorvel.sem: %s\n", error.c_str());
            std::abort();
        }
        return loaded;
    }();
    return *library;
}

std::string moduleNextToExecutable(const std::string& fileName) {
    char path[4096] = {};
#if defined(_WIN32)
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path - 1);
    if (length == 0 || length >= sizeof path - 1) return fileName;
#else
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return fileName;
    path[length] = '\0';
#endif
    return directoryOf(path) + "/" + fileName;
}

// ---- Library ----------------------------------------------------------------

std::unique_ptr<Library> Library::load(const std::string& path, std::string* error) {
    void* handle = openLibrary(path, error);
    if (!handle) return nullptr;
    std::unique_ptr<Library> library(new Library());
    library->handle_ = handle;
    library->getProperties_ = reinterpret_cast<GetModulePropertiesFunction>(findSymbol(handle, "getModuleProperties"));
    library->make_ = reinterpret_cast<MakeModuleFunction>(findSymbol(handle, "makeModule"));
    if (!library->getProperties_ || !library->make_) {
        if (error) *error = path + " lacks getModuleProperties or makeModule";
        return nullptr;
    }
    return library;
}

Library::~Library() {
    if (handle_) closeLibrary(handle_);
}

int32_t Library::getModuleProperties(int32_t index, ModuleProperties* props) const {
    return getProperties_(index, props);
}

InstanceRecord* Library::makeModule(int32_t index, int32_t kind, HostCallback callback, void* hostData) const {
    return make_(index, kind, callback, hostData);
}

// ---- Instance -------------------------------------------------------------------

Instance::Instance(const InstanceOptions& options)
    : options_(options), pinCount_(options.pinCount), nextStamp_(options.firstStamp) {
    audioPins_.fill(-1);
}

std::unique_ptr<Instance> Instance::create(const Library& library, const InstanceOptions& options) {
    std::unique_ptr<Instance> instance(new Instance(options));
    CallerFloatScope floatScope(*instance);
    instance->record_ = library.makeModule(options.index, options.kind,
                                           options.withCallback ? &Instance::callback : nullptr, instance.get());
    if (!instance->record_) return nullptr;
    return instance;
}

Instance::~Instance() {
    close();
}

int32_t QUORVEL_CDECL Instance::callback(InstanceRecord* record, int32_t opcode, int32_t index, int32_t value,
                                         void* ptr, float opt) {
    if (!record || !record->hostData) return 0;
    return static_cast<Instance*>(record->hostData)->answer(opcode, index, value, ptr, opt);
}

int32_t Instance::answer(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    [[maybe_unused]] HostBookkeeping bookkeeping;
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.push_back({opcode, index, value, reinterpret_cast<intptr_t>(ptr), opt});
    switch (opcode) {
        case HOST_SET_PIN_STATUS:
            statuses_.push_back({index, value, static_cast<int32_t>(reinterpret_cast<intptr_t>(ptr))});
            return 0;
        case HOST_GET_STAMP: stamps_.push_back(nextStamp_); return nextStamp_++;
        case HOST_GET_PIN_VALUE: return index >= 0 && index < kMaxPins ? pinValues_[index] : 0;
        case HOST_GET_PIN_COUNT: return pinCount_;
        case HOST_PROCESS_CHANGED: ++processChanged_; return 0;
        default: return 0;
    }
}

int32_t Instance::dispatch(int32_t opcode, int32_t index, int32_t value, void* ptr, float opt) {
    if (!record_) return 0;
    InstanceRecord* record = record_;
    if (opcode == DISPATCH_CLOSE) record_ = nullptr;  // the record dies with the call
    CallerFloatScope floatScope(*this);
    return record->dispatcher(record, opcode, index, value, ptr, opt);
}

void Instance::setSampleRate(float rate) {
    dispatch(DISPATCH_SET_SAMPLE_RATE, 0, 0, nullptr, rate);
}

void Instance::setBlockSize(int32_t size) {
    dispatch(DISPATCH_SET_BLOCK_SIZE, 0, size);
}

int32_t Instance::pinProperties(int32_t index, PinProperties* props) {
    return dispatch(DISPATCH_GET_PIN_PROPERTIES, index, 0, props);
}

void Instance::open() {
    dispatch(DISPATCH_OPEN);
    // What was learned at an earlier open is written again only where it
    // changed: an audio thread may be reading it for processBlock meanwhile.
    int32_t declared = 0;
    for (int32_t i = 0; i < kMaxPins; ++i) {
        PinProperties props{};
        if (!pinProperties(i, &props)) break;
        if (!samePin(pins_[i], props)) pins_[i] = props;
        declared = i + 1;
    }
    if (declaredPins_ != declared) declaredPins_ = declared;
    for (int32_t k = 0; k < kAudioPins; ++k) {
        const int32_t found = findPin(audioPinName(k));
        if (audioPins_[k] != found) audioPins_[k] = found;
    }
}

void Instance::close() {
    if (record_) dispatch(DISPATCH_CLOSE);
}

const PinProperties* Instance::pin(int32_t index) const {
    return index >= 0 && index < declaredPins_ ? &pins_[index] : nullptr;
}

int32_t Instance::findPin(const std::string& name) const {
    for (int32_t i = 0; i < declaredPins_; ++i)
        if (pins_[i].pinName && name == pins_[i].pinName) return i;
    return -1;
}

bool Instance::writeVariable(int32_t pin, const void* address) {
    const PinProperties* props = this->pin(pin);
    if (!props || !props->variable || !record_) return false;
    std::memcpy(props->variable, &address, sizeof address);
    return true;
}

bool Instance::setText(int32_t pin, const std::string& text, bool deliver, int32_t status) {
    if (!this->pin(pin)) return false;
    // The old copy stays alive until the module has been given the new address.
    std::string previous = std::move(texts_[pin]);
    texts_[pin] = text;
    if (!writeVariable(pin, texts_[pin].c_str())) return false;
    if (deliver) pinUpdate(pin, status);
    return true;
}

void Instance::pinUpdate(intptr_t pin, int32_t status) {
    HostEvent event{};
    event.eventType = EVENT_PIN_UPDATE;
    event.value = status;
    event.pinIndex = pin;
    sendEvent(event);
}

void Instance::sendEvent(HostEvent& event) {
    CallerFloatScope floatScope(*this);
    if (record_) record_->event(record_->object, &event);
}

void Instance::process(int32_t start, int32_t count) {
    [[maybe_unused]] RealtimeSection audioThread;
    CallerFloatScope floatScope(*this);
    if (record_) record_->process(record_->object, start, count);
}

void Instance::processBlock(const float* const* inputs, float* const* outputs, int32_t count) {
    for (int32_t k = 0; k < module::kInputCount; ++k) writeVariable(audioPins_[k], inputs ? inputs[k] : nullptr);
    for (int32_t k = 0; k < module::kOutputCount; ++k)
        writeVariable(audioPins_[module::kInputCount + k], outputs ? outputs[k] : nullptr);
    process(0, count);
}

void Instance::setPinCount(int32_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    pinCount_ = count;
}

void Instance::setPinValue(int32_t pin, int32_t value) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pin >= 0 && pin < kMaxPins) pinValues_[pin] = value;
}

std::vector<HostCall> Instance::calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<StatusReport> Instance::statuses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return statuses_;
}

std::vector<int32_t> Instance::stampsIssued() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stamps_;
}

int32_t Instance::processChangedCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return processChanged_;
}

void Instance::clearCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
    statuses_.clear();
    stamps_.clear();
    processChanged_ = 0;
}

}  // namespace quorvel::host
