// What the process holds, counted by hand: under Wine the process counters
// report no private bytes and no handle count. For the load/unload tests.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <cstdint>
#include <vector>

// TLS indexes still free: taken until none is left, then given back.
inline int FreeTlsIndexes() {
    std::vector<DWORD> taken;
    for (DWORD index; (index = TlsAlloc()) != TLS_OUT_OF_INDEXES;) taken.push_back(index);
    for (DWORD index : taken) TlsFree(index);
    return static_cast<int>(taken.size());
}

// Open handles, each value up to kHighestHandleTried tried.
constexpr uintptr_t kHighestHandleTried = 0x10000;
inline long OpenHandles() {
    long open = 0;
    DWORD flags;
    for (uintptr_t value = 4; value <= kHighestHandleTried; value += 4)
        open += GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags) ? 1 : 0;
    return open;
}

struct MemoryInUse {
    uint64_t committedPrivate;  // bytes
    uint64_t addressSpace;      // bytes not free, reserved included
};

inline MemoryInUse MemoryInUseNow() {
    MemoryInUse memory{};
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = nullptr; VirtualQuery(at, &region, sizeof region) == sizeof region;) {
        if (region.State != MEM_FREE) memory.addressSpace += region.RegionSize;
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) memory.committedPrivate += region.RegionSize;
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= at) break;
        at = next;
    }
    return memory;
}

// Threads of this process, the calling one included; -1 when they cannot be listed.
inline int ProcessThreads() {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    int threads = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++threads;
    CloseHandle(snapshot);
    return threads;
}
