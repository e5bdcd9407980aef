#include "ModuleLoader.h"

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

namespace testing_support {

std::string executablePath() {
#if defined(_WIN32)
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
#else
    char path[PATH_MAX] = {};
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return std::string(path, length > 0 ? static_cast<std::size_t>(length) : 0);
#endif
}

std::string executableFolder() { return executablePath().substr(0, executablePath().find_last_of("\\/")); }

std::string modulePath() {
    const char* configured = std::getenv("ZELMOR_TEST_MODULE");
    if (configured != nullptr && *configured != '\0') return configured;
#if defined(_WIN32)
    return executableFolder() + "\\..\\ZelmorPKCS11Driver.dll";
#else
    return executableFolder() + "/../libZelmorPKCS11Driver.so";
#endif
}

LoadedModule::LoadedModule(const std::string& path) {
#if defined(_WIN32)
    handle = LoadLibraryA(path.c_str());
#else
    handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    auto getList = reinterpret_cast<CK_C_GetFunctionList>(symbol("C_GetFunctionList"));
    if (getList != nullptr) getList(&list);
}

LoadedModule::~LoadedModule() {
#if defined(_WIN32)
    if (handle != nullptr) FreeLibrary(static_cast<HMODULE>(handle));
#else
    if (handle != nullptr) dlclose(handle);
#endif
}

void* LoadedModule::symbol(const char* name) const {
    if (handle == nullptr) return nullptr;
#if defined(_WIN32)
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle), name));
#else
    return dlsym(handle, name);
#endif
}

LoadedModule& sharedModule() {
    // Never unloaded: the monitor thread may still be running at process exit.
    static LoadedModule& module = *new LoadedModule(modulePath());
    return module;
}

}  // namespace testing_support
