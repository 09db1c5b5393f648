// The identity check (identity.h) in the WebAssembly engine, for
// web/tests/unit/identity.test.mjs: web/build links it with the playground's
// engine objects into build/web/identity.wasm.
#include <cstdint>
#include <string>

#include "expected_digests.h"
#include "identity.h"

#define IDENTITY_EXPORT(name) extern "C" __attribute__((export_name(#name)))

namespace {
std::string report;
constexpr int kHardCount = sizeof identity::kExpectedHardCases / sizeof identity::kExpectedHardCases[0];
}  // namespace

IDENTITY_EXPORT(identity_function_count) int32_t identityFunctionCount() {
    return identity::kFunctionCount;
}

IDENTITY_EXPORT(identity_function_name) const char* identityFunctionName(int32_t function) {
    return identity::kFunctions[function].name;
}

// Checks one function as the engine runs it here; the length of the report,
// 0 when every outcome agrees with the table. identity_report gives the text.
IDENTITY_EXPORT(identity_check) int32_t identityCheck(int32_t function) {
    report = identity::check(function, identity::Form::Compiled, identity::kExpectedDigests,
                             identity::kExpectedHardCases, kHardCount);
    return static_cast<int32_t>(report.size());
}

// Every outcome of one function, as identity_tool dump prints them; the
// length of the text, which identity_report then gives.
IDENTITY_EXPORT(identity_dump) int32_t identityDump(int32_t function) {
    report = identity::dump(function);
    return static_cast<int32_t>(report.size());
}

IDENTITY_EXPORT(identity_report) const char* identityReport() {
    return report.c_str();
}
