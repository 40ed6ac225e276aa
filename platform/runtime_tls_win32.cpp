// The static thread runtime's TLS index, given back at unload (see
// PlatformFreeRuntimeTlsIndexes). Linked into every module of ours that carries
// that runtime: each has its own import table and its own index.
#include <windows.h>

#include <atomic>
#include <cstring>

#include "platform/platform.h"
#include "platform/runtime_pool.h"

namespace {
// The indexes taken through this module's import of TlsAlloc (the runtime takes
// one) and not given back through its TlsFree; a slot holds TLS_OUT_OF_INDEXES
// when free. Both imports are followed: an index the module's own code gives
// back must not be given back again at unload, when it may be another module's.
constexpr int kRuntimeTlsSlots = 8;
std::atomic<DWORD> runtimeTlsIndexes[kRuntimeTlsSlots];
DWORD(WINAPI* systemTlsAlloc)() = nullptr;
BOOL(WINAPI* systemTlsFree)(DWORD) = nullptr;

DWORD WINAPI NotingTlsAlloc() {
    const DWORD index = systemTlsAlloc();
    if (index == TLS_OUT_OF_INDEXES) return index;
    for (std::atomic<DWORD>& slot : runtimeTlsIndexes) {
        DWORD none = TLS_OUT_OF_INDEXES;
        if (slot.compare_exchange_strong(none, index)) break;
    }
    return index;
}

BOOL WINAPI NotingTlsFree(DWORD index) {
    for (std::atomic<DWORD>& slot : runtimeTlsIndexes) {
        DWORD taken = index;
        if (slot.compare_exchange_strong(taken, TLS_OUT_OF_INDEXES)) break;
    }
    return systemTlsFree(index);
}

// This module's import address entry for the named function of kernel32, or null.
void** OwnImportEntry(const char* function) {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&OwnImportEntry), &self))
        return nullptr;
    auto* base = reinterpret_cast<BYTE*>(self);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return nullptr;
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); entry->Name; ++entry) {
        if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), "kernel32.dll") != 0) continue;
        if (!entry->OriginalFirstThunk) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        auto* addresses = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0)
                return reinterpret_cast<void**>(&addresses->u1.Function);
        }
    }
    return nullptr;
}

// Puts the replacement into this module's import entry for the function; the
// system's own is returned, or null if the entry is not there or stays as it was.
void* RedirectImport(const char* function, void* replacement) {
    void** entry = OwnImportEntry(function);
    if (!entry) return nullptr;
    DWORD protection;
    if (!VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &protection)) return nullptr;
    void* system = *entry;
    *entry = replacement;
    VirtualProtect(entry, sizeof *entry, protection, &protection);
    return system;
}

// The runtime takes its index in its own TLS callback at process attach, before
// any constructor; this callback sorts before it (.CRT$XLB before the runtime's
// .CRT$XLF), so the import is redirected in time.
void NTAPI NoteRuntimeTlsIndexes(PVOID, DWORD reason, PVOID) {
    if (reason != DLL_PROCESS_ATTACH) return;
    for (std::atomic<DWORD>& slot : runtimeTlsIndexes) slot = TLS_OUT_OF_INDEXES;
    // Indexes are noted only if each is un-noted when the module frees it.
    systemTlsFree = reinterpret_cast<BOOL(WINAPI*)(DWORD)>(
        RedirectImport("TlsFree", reinterpret_cast<void*>(&NotingTlsFree)));
    if (!systemTlsFree) return;
    systemTlsAlloc =
        reinterpret_cast<DWORD(WINAPI*)()>(RedirectImport("TlsAlloc", reinterpret_cast<void*>(&NotingTlsAlloc)));
}
}  // namespace

extern "C" __attribute__((section(".CRT$XLB"), used)) const PIMAGE_TLS_CALLBACK kalNoteRuntimeTlsIndexes =
    NoteRuntimeTlsIndexes;

void PlatformEndThreadRuntime() {
    // The runtime keeps a record (with two handles) for each thread that used it,
    // given back by the module's thread-end callbacks. Those do not run for a
    // thread that ends after the module is gone, nor in a module that turned its
    // thread calls off: such a thread gives its record back here, by running them.
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&OwnImportEntry), &self))
        return;
    auto* base = reinterpret_cast<BYTE*>(self);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS];
    if (!directory.VirtualAddress) return;
    auto* tls = reinterpret_cast<IMAGE_TLS_DIRECTORY*>(base + directory.VirtualAddress);
    for (auto* callback = reinterpret_cast<PIMAGE_TLS_CALLBACK*>(tls->AddressOfCallBacks); callback && *callback;
         ++callback)
        if (*callback != &NoteRuntimeTlsIndexes) (*callback)(self, DLL_THREAD_DETACH, nullptr);
}

void PlatformFreeRuntimeTlsIndexes() {
    // The thread unloading the module ends later, when the module is gone.
    PlatformEndThreadRuntime();
    for (std::atomic<DWORD>& slot : runtimeTlsIndexes) {
        const DWORD index = slot.exchange(TLS_OUT_OF_INDEXES);
        if (index != TLS_OUT_OF_INDEXES) TlsFree(index);
    }
    PlatformFreeRuntimePool();
}
