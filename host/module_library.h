// Loads a module library by file path and finds its two exports by name, as
// the host does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "host_interface/abi.h"
#include "host_interface/host_callback.h"
#include "host_interface/module_record.h"

namespace standin {

using GetModulePropertiesFn = int32_t(QV_HOST_ENTRY*)(int32_t index, ModuleInfo* info);
using MakeModuleFn = ModuleRecord*(QV_HOST_ENTRY*)(int32_t index, int32_t interfaceKind,
                                                   HostCallback callback, intptr_t hostValue);

struct ModuleExports {
    GetModulePropertiesFn getModuleProperties = nullptr;
    MakeModuleFn makeModule = nullptr;
};

class ModuleLibrary {
public:
    // Null (with a reason in `error`) when the file does not load or lacks an export.
    static std::unique_ptr<ModuleLibrary> load(const std::string& path, std::string* error);
    ~ModuleLibrary();
    ModuleLibrary(const ModuleLibrary&) = delete;
    ModuleLibrary& operator=(const ModuleLibrary&) = delete;

    const ModuleExports& exports() const { return exports_; }

private:
    ModuleLibrary() = default;
    void* handle_ = nullptr;
    ModuleExports exports_;
};

}  // namespace standin
