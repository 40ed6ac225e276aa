// Loading the driver's library: the one part of kal_api.cpp that differs
// between the systems. Inline here, so that every program that takes
// kal_api.cpp (kalsay, the helper, the benchmarks, the test hosts) builds
// without another file.
#pragma once
#include <string>

#if defined(_WIN32)
#include <windows.h>

inline void* HostLoadLibrary(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return reinterpret_cast<void*>(module);
}
inline void* HostLibraryEntry(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
inline void HostFreeLibrary(void* library) {
    if (library) FreeLibrary(static_cast<HMODULE>(library));
}
#else
#include <dlfcn.h>

inline void* HostLoadLibrary(const std::string& path, std::string& error) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* reason = dlerror();
        error = "cannot load " + path + " (" + (reason ? reason : "unknown reason") + ")";
    }
    return library;
}
inline void* HostLibraryEntry(void* library, const char* name) { return dlsym(library, name); }
inline void HostFreeLibrary(void* library) {
    if (library) dlclose(library);
}
#endif
