#pragma once
// The statically linked C++ runtime's emergency exception pool (about 70 KB),
// allocated when a module of ours loads. A module that is unloaded gives it
// back, or every load and unload leaves it behind; never at process exit (nothing
// is given back then) nor while a pinned module's code may still run.
namespace __gnu_cxx {
void __freeres() noexcept;
}

inline void PlatformFreeRuntimePool() { __gnu_cxx::__freeres(); }
