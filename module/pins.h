// The module's pins, one row each in the order of their indices: what
// getPinProperties reports, what our host and the tools look pins up by, and
// which engine value each audio pin is bound to. No other file spells a pin
// name or counts pins.
#pragma once

#include <cstdint>

#include "host_interface.h"

namespace quorvel::module {

// What the module does with a pin.
enum class PinRole : int32_t {
    Input,   // audio in: the engine variable of the same name, times 10
    Init,    // text run once at the first sample after open
    Expr,    // text run at every sample
    Output,  // audio out: the engine variable of the same name, times 0.1
};

struct PinRow {
    const char* name;  // the pin's name, and for audio pins the engine variable's
    PinDirection direction;
    Datatype datatype;
    const char* defaultValue;  // null: not reported
    PinRole role;
};

inline constexpr PinRow kPins[] = {
    {"u", DIRECTION_IN, DATATYPE_AUDIO, "0", PinRole::Input},
    {"v", DIRECTION_IN, DATATYPE_AUDIO, "0", PinRole::Input},
    {"w", DIRECTION_IN, DATATYPE_AUDIO, "0", PinRole::Input},
    {"x", DIRECTION_IN, DATATYPE_AUDIO, "0", PinRole::Input},
    {"y", DIRECTION_IN, DATATYPE_AUDIO, "0", PinRole::Input},
    {"z", DIRECTION_IN, DATATYPE_AUDIO, "0", PinRole::Input},
    {"Init", DIRECTION_IN, DATATYPE_TEXT, nullptr, PinRole::Init},
    {"Expr", DIRECTION_IN, DATATYPE_TEXT, nullptr, PinRole::Expr},
    {"out1", DIRECTION_OUT, DATATYPE_AUDIO, nullptr, PinRole::Output},
    {"out2", DIRECTION_OUT, DATATYPE_AUDIO, nullptr, PinRole::Output},
    {"out3", DIRECTION_OUT, DATATYPE_AUDIO, nullptr, PinRole::Output},
};

inline constexpr int32_t kPinCount = static_cast<int32_t>(sizeof kPins / sizeof kPins[0]);

constexpr int32_t countPins(PinRole role) {
    int32_t count = 0;
    for (const PinRow& row : kPins) count += row.role == role ? 1 : 0;
    return count;
}

// The index of the n-th pin (from 0) with the role; -1 when there is none.
constexpr int32_t pinIndex(PinRole role, int32_t n = 0) {
    for (int32_t index = 0; index < kPinCount; ++index)
        if (kPins[index].role == role && n-- == 0) return index;
    return -1;
}

inline constexpr int32_t kInputCount = countPins(PinRole::Input);
inline constexpr int32_t kOutputCount = countPins(PinRole::Output);
inline constexpr int32_t kInitPin = pinIndex(PinRole::Init);
inline constexpr int32_t kExprPin = pinIndex(PinRole::Expr);

// The audio pins of one role lie side by side, so a buffer's pin is its
// first pin plus its number.
constexpr bool audioPinsAreContiguous(PinRole role, int32_t count) {
    for (int32_t n = 0; n < count; ++n)
        if (pinIndex(role, n) != pinIndex(role) + n) return false;
    return true;
}
static_assert(audioPinsAreContiguous(PinRole::Input, kInputCount));
static_assert(audioPinsAreContiguous(PinRole::Output, kOutputCount));

}  // namespace quorvel::module
