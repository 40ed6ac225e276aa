// Loading the driver's library: the one part of kal_api.cpp that differs
// between the systems. Inline here, so that every program that takes
// kal_api.cpp (kalsay, the helper, the benchmarks, the test hosts) builds
// without another file.
#pragma once
#include <string>

#if defined(_WIN32)
#include <windows.h>

// Why a load failed, in words: a bare error number tells a user nothing.
inline std::string HostLoadFailure(const std::string& path, DWORD code) {
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) return "there is no such file";
    switch (code) {
    case ERROR_MOD_NOT_FOUND: return "a DLL it needs was not found";
    case ERROR_BAD_EXE_FORMAT: return "it is not a DLL for this program (a 32-bit one for a 64-bit program?)";
    case ERROR_ACCESS_DENIED: return "access was denied";
    case ERROR_DLL_INIT_FAILED: return "its start-up failed";
    default: return "the system refused it";
    }
}

inline void* HostLoadLibrary(const std::string& path, std::string& error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) {
        const DWORD code = GetLastError();
        error = "cannot load " + path + ": " + HostLoadFailure(path, code) + " (error " + std::to_string(code) + ")";
    }
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
