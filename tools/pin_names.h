// The module's pin names as the program says them, from the pin table.
#pragma once

#include <string>

#include "pins.h"

namespace quorvel::tools {

inline const char* inputName(int32_t k) {
    return module::kPins[module::pinIndex(module::PinRole::Input, k)].name;
}
inline const char* outputName(int32_t k) {
    return module::kPins[module::pinIndex(module::PinRole::Output, k)].name;
}

// "u v w x y z" for the inputs with separator " ".
inline std::string pinNames(module::PinRole role, const std::string& separator) {
    std::string names;
    for (int32_t n = 0; n < countPins(role); ++n)
        names += (n > 0 ? separator : "") + std::string(module::kPins[module::pinIndex(role, n)].name);
    return names;
}

}  // namespace quorvel::tools
