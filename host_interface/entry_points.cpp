// The library's two exports (the DLL's process-attach entry is in
// dll_runtime.cpp).
#include <new>

#include "equaliser/module.h"
#include "host_interface/abi.h"
#include "host_interface/module_record.h"

#ifndef QUORVANE_VERSION
#error "QUORVANE_VERSION comes from the project version (cmake/QuorvaneLibrary.cmake)"
#endif

namespace {
constexpr char kModuleName[] = "Quorvane";
// The host lists modules by this text; the version goes right after the
// name so a user can tell which release a patch is running.
constexpr char kAbout[] =
    "Five Band EQ " QUORVANE_VERSION " - stereo parametric equaliser by the Quorvane developers";
}  // namespace

QV_EXPORT int32_t QV_HOST_ENTRY getModuleProperties(int32_t index, ModuleInfo* info) {
    if (info == nullptr) return 0;  // nowhere to answer
    info->interfaceVersion = kInterfaceVersion;
    if (index != 0) return 0;
    info->name = kModuleName;
    info->id = kModuleName;
    info->about = kAbout;
    return 1;
}

QV_EXPORT ModuleRecord* QV_HOST_ENTRY makeModule(int32_t index, int32_t interfaceKind,
                                                 HostCallback callback, intptr_t hostValue) {
    if (index != 0 || interfaceKind != 1) return nullptr;
    Module* module = new (std::nothrow) Module(callback, hostValue);
    return module == nullptr ? nullptr : module->record();
}
