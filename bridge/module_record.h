// A record of the client's that the C++ runtime never destroys. A module pinned
// at its unload (FreeLibrary from inside the host's callback, or a callback
// that outlasts the unload's wait for the event thread) is loaded again
// without its constructors running again, after the runtime ran its destructors:
// every record with a destructor lives here instead, built at the load and
// destroyed at an unload that unmaps the module.
#pragma once
#include <new>

namespace bridge {

// Only at namespace scope: a trivial type, so its zeroed storage is all the
// runtime initializes, at no point in the order of the constructors.
template <typename T>
class ModuleRecord {
public:
    // At the load: builds the record, or keeps the one a pinned life left.
    void Begin() {
        if (built_) return;
        new (storage_) T();
        built_ = true;
    }
    // At an unload that unmaps the module.
    void End() {
        if (!built_) return;
        get().~T();
        built_ = false;
    }
    T& get() { return *reinterpret_cast<T*>(storage_); }
    T* operator->() { return &get(); }

private:
    alignas(T) unsigned char storage_[sizeof(T)];
    bool built_;
};

}  // namespace bridge
