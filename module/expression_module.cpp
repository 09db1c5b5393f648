#include "expression_module.h"

#include <thread>

#include "float_state.h"
#include "instance_lifetime.h"

namespace quorvel::module {

namespace {

void QUORVEL_CDECL processSamplesEntry(void* object, int32_t start, int32_t count) noexcept {
    EngineFloatState floatState;
    // Announced before the object is read: its memory outlives the call.
    const BlockEntry entry(object);
    if (!entry.admitted()) return;
    if (ModuleBase* module = ModuleBase::fromObject(object))
        static_cast<ExpressionModule*>(module)->processSamples(start, count);
}

}  // namespace

ExpressionModule::ExpressionModule(HostCallback callback, void* hostData) noexcept : ModuleBase(callback, hostData) {
    if (engine.ready()) ready.store(1);
}

ExpressionModule::~ExpressionModule() {
    closing.store(1);
    ready.store(0);
    suspended.store(1);
    // A block in flight ends before the engine goes (with the members, right
    // after this body); one that begins from here on sees `closing` and
    // writes silence only.
    waitForAudio();
}

bool ExpressionModule::getPinProperties(int32_t index, PinProperties* props) noexcept {
    if (index < 0 || index >= kPinCount) return false;
    const PinRow& row = kPins[index];
    switch (row.role) {
        case PinRole::Input: props->variable = &inputs[index - pinIndex(PinRole::Input)]; break;
        case PinRole::Init: props->variable = &initText; break;
        case PinRole::Expr: props->variable = &exprText; break;
        case PinRole::Output: props->variable = &outputs[index - pinIndex(PinRole::Output)]; break;
    }
    props->direction = row.direction;
    props->datatype = row.datatype;
    props->pinName = row.name;
    if (row.defaultValue) props->defaultValue = row.defaultValue;
    return true;
}

void ExpressionModule::open() noexcept {
    ModuleBase::open();
    setProcessFunction(&processSamplesEntry);
    stopAudio();
    engine.restart(getSampleRate());
    // Without its pins the instance stays silent until a later open succeeds.
    suspended.store(pinBlockFailed() ? 1 : 0);
}

void ExpressionModule::close() noexcept {
    closing.store(1);
    suspended.store(1);
}

void ExpressionModule::onPinUpdate(ModulePin* pin) noexcept {
    for (int32_t k = 0; k < kOutputCount; ++k) {
        // A host reporting fewer pins has no such output to report on.
        if (ModulePin* output = boundPin(pinIndex(PinRole::Output, k)))
            output->sendStatus(hostStamp(), PIN_STATUS_ACTIVE);
    }
    if (ready.load() == 0) return;
    suspended.store(1);
    ready.store(0);
    waitForAudio();
    if (pin->index == kInitPin)
        engine.parseInit(initText);
    else if (pin->index == kExprPin)
        engine.parseExpr(exprText);
    ready.store(1);
    suspended.store(0);
}

namespace {
// Until the audio side has lowered `evaluating`; a block that must end
// soon (its engine is suspended) is all it ever waits for.
void waitUntilLowered(const std::atomic<int32_t>& evaluating) noexcept {
    while (evaluating.load() != 0) std::this_thread::yield();
}
}  // namespace

ExpressionModule::BlockDrain::~BlockDrain() {
    waitUntilLowered(evaluating);
}

void ExpressionModule::stopAudio() noexcept {
    suspended.store(1);
    waitForAudio();
}

void ExpressionModule::waitForAudio() const noexcept {
    waitUntilLowered(evaluating);
}

void ExpressionModule::processSamples(int32_t start, int32_t count) noexcept {
    if (count <= 0 || start < 0) return;
    const std::size_t first = static_cast<std::size_t>(start);
    const std::size_t end = first + static_cast<std::size_t>(count);
    // Raised before anything else is touched, lowered as the last access:
    // whoever raised `suspended` and then saw this fall may change or free
    // the engine. Both are sequentially consistent, so a block cannot miss
    // `suspended` while its raiser misses `evaluating`.
    evaluating.store(1);
    float* out[kOutputCount];
    for (int32_t k = 0; k < kOutputCount; ++k) out[k] = outputs[k];
    if (closing.load() != 0) {
        // The instance is going away: nothing but silence is written.
        for (float* buffer : out)
            if (buffer)
                for (std::size_t i = first; i < end; ++i) buffer[i] = 0.0f;
        evaluating.store(0);
        return;
    }
    const float* in[kInputCount];
    for (int32_t k = 0; k < kInputCount; ++k) in[k] = inputs[k];
    // Decided once: a block that begins without the engine stays silent.
    engine.process(in, out, first, end, suspended.load() == 0);
    evaluating.store(0);
}

}  // namespace quorvel::module
