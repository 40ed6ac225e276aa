// The bridge's helper as the 64-bit tests see it: a process named kal_host32.exe
// whose parent is the host.
#pragma once
#include <windows.h>
#include <tlhelp32.h>

#include <cstring>

// The helper started by the process `parent`; 0 when none runs.
inline DWORD FindHelper(DWORD parent = GetCurrentProcessId()) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && !found; more = Process32Next(snapshot, &entry)) {
        if (entry.th32ParentProcessID != parent || _stricmp(entry.szExeFile, "kal_host32.exe") != 0) continue;
        // A process id is reused once the process is gone: only a live one counts.
        HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT) found = entry.th32ProcessID;
        if (process) CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}

// Waits (bounded) for the process to end; true when it has.
inline bool ProcessEnds(DWORD pid, DWORD timeoutMs) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process) return true;  // already gone
    const bool ended = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}
