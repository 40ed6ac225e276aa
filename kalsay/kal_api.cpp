#include "kalsay/kal_api.h"

#include "kalsay/library.h"

namespace {
template <typename Fn>
bool Bind(void* module, const char* name, Fn& fn, std::string& missing) {
    fn = reinterpret_cast<Fn>(HostLibraryEntry(module, name));
    if (!fn && missing.empty()) missing = name;
    return fn != nullptr;
}
}  // namespace

bool KalApi::Load(const std::string& path, std::string& error) {
    Unload();
    void* module = HostLoadLibrary(path, error);
    if (!module) return false;
    std::string missing;
    // Every export, in the list's order; the first one missing is reported.
#define KAL_API_BIND(name, function, result, parameters) Bind(module, #function, name, missing);
    KAL_EXPORTS(KAL_API_BIND)
#undef KAL_API_BIND
    if (!missing.empty()) {
        HostFreeLibrary(module);
        *this = KalApi();
        error = path + " lacks the export " + missing;
        return false;
    }
    module_ = module;
    return true;
}

void KalApi::Unload() {
    HostFreeLibrary(module_);
    *this = KalApi();
}
