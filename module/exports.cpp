// The library's two exports and its load entry point.
#include <new>

#include "expression_module.h"
#include "float_state.h"
#include "host_interface.h"

#if defined(_WIN32)
#include <windows.h>
#define QUORVEL_EXPORT
#else
#define QUORVEL_EXPORT __attribute__((visibility("default")))
#endif

using quorvel::module::EngineFloatState;
using quorvel::module::ExpressionModule;

namespace {
const char* const kModuleName = "Quorvel";
const char* const kModuleId = "TRESK Quorvel";
const char* const kAbout = "by Tresk (MS)";
}  // namespace

extern "C" {

QUORVEL_EXPORT int32_t QUORVEL_CDECL getModuleProperties(int32_t index, ModuleProperties* props) noexcept {
    if (!props) return 0;
    props->interfaceVersion = INTERFACE_VERSION;
    if (index != 0) return 0;
    props->moduleName = kModuleName;
    props->moduleId = kModuleId;
    props->about = kAbout;
    return 1;
}

// The instance is returned even when its engine could not be set up; it is
// then silent. The host ends it with DISPATCH_CLOSE.
QUORVEL_EXPORT InstanceRecord* QUORVEL_CDECL makeModule(int32_t index, int32_t kind, HostCallback callback,
                                                        void* hostData) noexcept {
    if (index != 0 || kind != MODULE_KIND) return nullptr;
    EngineFloatState floatState;
    auto* module = new (std::nothrow) ExpressionModule(callback, hostData);
    return module ? module->instanceRecord() : nullptr;
}

#if defined(_WIN32)
// Loading and unloading do no work.
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
#endif

}  // extern "C"
