// The operating system's part of the channel between a client (kal_drv64.dll,
// or kal_drv.dll in isolated mode) and its helper (kal_host32.exe): the shared
// section holding the Channel, the helper's process, numbered wake-ups, and
// the client's event thread. bridge/link_win32.cpp implements it with an
// unnamed section, events duplicated into the helper, a job and the thread
// pool; bridge/link_posix.cpp natively with a memfd, futexes, posix_spawn and
// a socket pair (bridge/posix_primitives.cpp). Apart from these, the refusal
// notes (refusals_*.cpp), kal_drv64.dll's DllMain (dllmain.cpp) and the bench,
// bridge/ and host32/ are portable C++ over this.
//
// Every wait here also ends when the peer's process has ended (Woke::PeerGone):
// the client watches its helper, the helper its client.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "bridge/channel.h"

namespace bridge {

#ifdef _WIN32
using PathText = std::wstring;  // module folders may hold any character
#else
using PathText = std::string;
#endif

// A wait bounded only by the peer's life: the peer either answers or ends.
constexpr uint32_t kUntilPeerGone = 0xFFFFFFFF;

// The wake-ups, numbered alike on both sides; a slot's are kWakeRequest + slot
// (client -> helper) and kWakeResponse + slot (helper -> client).
enum Wake : uint32_t {
    kWakeReady = 0,     // helper -> client: helperState is set
    kWakeEventsPosted,  // helper -> client: the ring has new entries; the client also wakes its own reader with it
    kWakeRingSpace,     // client -> helper: the ring has room again
    kWakeSlotFreed,     // the client's own: a caller waiting for a slot looks again
    kWakeQuit,          // the helper's own: serving ends
    kWakeRequest,
    kWakeResponse = kWakeRequest + kSlotCount,
    kWakeCount = kWakeResponse + kSlotCount,
};

enum class Woke : uint32_t { Signalled, PeerGone, Timeout };

// The thread that reads the event ring runs this; it returns true when the
// link's "parked" signal is to be given once the thread has left this module's
// code (false: the body disposed of the link itself and nothing may touch it).
using EventThreadBody = bool (*)(void* argument);

// The client's side: one helper and its channel.
class ClientLink {
public:
    // The section (zero-filled; the caller writes its header) and the wake-ups.
    static std::unique_ptr<ClientLink> Create(std::string& error);
    ~ClientLink();
    ClientLink(const ClientLink&) = delete;
    ClientLink& operator=(const ClientLink&) = delete;

    Channel* channel() const;
    // Starts kal_host32.exe from `folder` (ending in a separator) with the
    // channel, in the host's current folder; the helper ends with this process.
    bool StartHelper(const PathText& folder, std::string& error);
    void Signal(uint32_t wake);
    Woke Wait(uint32_t wake, uint32_t timeoutMs);
    // Ends the helper at once (no-op when none was started).
    void KillHelper();
    // Waits, bounded, for the helper to end; true when it has.
    bool WaitHelperEnd(uint32_t timeoutMs);
    bool HelperEnded();
    // The ended helper's exit code (what ended it: an abort, an exception code,
    // the watchdog's code); 0 while it runs.
    uint32_t HelperExitCode();
    // The helper's process handle (Windows), for the tests that end it.
    void* process() const;
    // The event thread: started once; WaitParked waits for its parked signal.
    bool StartEventThread(EventThreadBody body, void* argument);
    bool WaitParked(uint32_t timeoutMs);

    struct Impl;

private:
    explicit ClientLink(Impl* impl) : impl_(impl) {}
    Impl* impl_;
};

// The helper's side, made from what its client started it with.
class HelperLink {
public:
    // Maps and checks the client's channel from the command line and enters the
    // host's folder; null with an exit code when that fails.
    static std::unique_ptr<HelperLink> Attach(int& exitCode);
    ~HelperLink();
    HelperLink(const HelperLink&) = delete;
    HelperLink& operator=(const HelperLink&) = delete;

    Channel* channel() const;
    void Signal(uint32_t wake);
    Woke Wait(uint32_t wake, uint32_t timeoutMs);
    // The folder of the helper's program, ending in a separator (the driver sits there).
    std::string OwnFolder() const;
    // Sets a variable of this process's environment, for the driver it loads.
    static void SetEnvironment(const char* name, const char* value);

    struct Impl;

private:
    explicit HelperLink(Impl* impl) : impl_(impl) {}
    Impl* impl_;
};

// The helper's exit codes, for the client's and the tests' sake.
constexpr int kExitQuit = 0;
constexpr int kExitBadCommandLine = 2;
constexpr int kExitBadSection = 3;
constexpr int kExitNoDriver = 4;
constexpr int kExitThrew = 5;

// The calling thread's id, comparable between threads of this process.
uint64_t CurrentThreadId();
// A monotonic counter comparable between the client's and the helper's process
// (the event latency figure of the bench).
int64_t SharedClockNow();
// The module holding this code stays in memory until the process ends: a
// thread of ours still runs in it.
void PinThisModule();
// The folder of the module `module` (null: the program), ending in a separator.
PathText ModuleFolder(void* module);
// The helper's process set-up (no error boxes; an exception nobody catches
// ends the process at once with its code, with no debugger started) and end (without running the
// C runtime's exit, so serving threads do not run on while it goes down).
void HelperProcessSetup();
[[noreturn]] void HelperProcessExit(int code);

}  // namespace bridge
