#include "host/module_library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace standin {

namespace {
#if defined(_WIN32)
void* openLibrary(const std::string& path) { return reinterpret_cast<void*>(LoadLibraryA(path.c_str())); }
void* findSymbol(void* handle, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
}
void closeLibrary(void* handle) { FreeLibrary(static_cast<HMODULE>(handle)); }
std::string lastError() { return "error " + std::to_string(GetLastError()); }
#else
void* openLibrary(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
void* findSymbol(void* handle, const char* name) { return dlsym(handle, name); }
void closeLibrary(void* handle) { dlclose(handle); }
std::string lastError() {
    const char* text = dlerror();
    return text != nullptr ? text : "unknown error";
}
#endif
}  // namespace

std::unique_ptr<ModuleLibrary> ModuleLibrary::load(const std::string& path, std::string* error) {
    void* handle = openLibrary(path);
    if (handle == nullptr) {
        if (error != nullptr) *error = "cannot load " + path + ": " + lastError();
        return nullptr;
    }
    std::unique_ptr<ModuleLibrary> library(new ModuleLibrary);
    library->handle_ = handle;
    library->exports_.getModuleProperties =
        reinterpret_cast<GetModulePropertiesFn>(findSymbol(handle, "getModuleProperties"));
    library->exports_.makeModule = reinterpret_cast<MakeModuleFn>(findSymbol(handle, "makeModule"));
    if (library->exports_.getModuleProperties == nullptr || library->exports_.makeModule == nullptr) {
        if (error != nullptr) *error = path + " does not export getModuleProperties and makeModule";
        return nullptr;
    }
    return library;
}

ModuleLibrary::~ModuleLibrary() {
    if (handle_ != nullptr) closeLibrary(handle_);
}

}  // namespace standin
