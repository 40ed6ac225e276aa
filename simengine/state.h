// The simulated engine's state. Engine::lock guards every field unless its
// comment says otherwise; it is never held while notify runs, so the driver may
// call back into the engine from inside a notification.
#pragma once
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <set>
#include <string>
#include <utility>

#include "engine/contract.h"
#include "platform/platform.h"
#include "simengine/config.h"

namespace sim {

// Results of our own checks (a real engine has its own numbers).
enum : int32_t {
    kErrBadHandle = 0x201,    // unknown or closed handle, or not initialised
    kErrBadArgument = 0x202,  // null pointer, negative capacity
    kErrBusy = 0x203,         // Speak while speaking or paused; no free instance
};

constexpr uint32_t kClassTag = 0x53494D43;     // first word of the class handle
constexpr uint32_t kInstanceTag = 0x53494D00;  // plus the slot: first word of an instance
constexpr uint32_t kDictionarySecond = 0xD1C7; // second word of every dictionary handle
constexpr int kMaxInstances = 4;

enum class Speech { Idle, Speaking, Paused };

struct Instance {
    bool open = false;                   // lock
    uint32_t serial = 0;                 // lock; second handle word
    EngineNotifyFn notify = nullptr;     // lock
    std::string text;                    // lock
    uint16_t rate = 50;                  // lock; parameter 4
    Speech speech = Speech::Idle;        // lock; the status is non-zero unless Idle
    uint32_t speechSerial = 0;           // lock; tells one Speak's text from a later one
    ULONGLONG deadline = 0;              // lock; while Speaking: tick at which the text ends
    ULONGLONG remaining = 0;             // lock; while Paused: ms left
    std::deque<uint32_t> pending;        // lock; worker mode: codes not yet delivered
    bool workerRunning = false;          // lock; a worker thread exists (maybe not yet started)
    bool workerStarted = false;          // lock; it runs its loop, so waiting for it is safe
    bool workerQuit = false;             // lock; asks the worker to leave
    DWORD workerThreadId = 0;            // lock
    CONDITION_VARIABLE wake = CONDITION_VARIABLE_INIT;        // the worker sleeps here
    CONDITION_VARIABLE workerGone = CONDITION_VARIABLE_INIT;  // Close waits here
    FILE* outStream = nullptr;           // lock to open/close; used by the delivering thread
    OutBufferInfo outBuffer{};           // the delivering thread only (between codes 8 and 16)
};

struct Engine {
    SRWLOCK lock = SRWLOCK_INIT;
    HMODULE module = nullptr;            // set at attach, read-only after
    std::string folder;                  // set at attach, read-only after; ends with '\'
    Config config;                       // lock; replaced at Initialize and sim_Reload
    size_t statusScriptPos = 0;          // lock
    bool initialized = false;            // lock
    uint32_t classGeneration = 0;        // lock; second word of the class handle
    uint32_t instanceSerial = 0;         // lock
    uint32_t nextDictionary = 0;         // lock
    std::set<std::pair<uint32_t, uint32_t>> dictionaries;  // lock; loaded handles
    std::set<std::string> errorTexts;    // lock; never shrinks: returned texts stay valid
    Instance instances[kMaxInstances];   // lock (see Instance)
    LONGLONG lastSpeakEntry = 0;         // lock; sim_Clock: the clock at the last Speak's entry
    LONGLONG speakerTicksAtEntry = 0;    // lock; sim_Clock: that thread's engine ticks then
};

extern Engine g;

// For the driver's benchmark: time spent inside the engine's entry points by the
// calling thread (QueryPerformanceCounter ticks), so that a measured hand-over
// can have the engine's own share taken off. Each thread counts only its own, in
// two system TLS slots (low and high word) taken at load and given back at
// unload: the runtime's thread_local would take a TLS index at every load and
// never give it back, and hosts load and unload the engine with the driver.
LONGLONG ThreadEngineTicks();
void AddThreadEngineTicks(LONGLONG ticks);
// How many entry points (or the worker) the calling thread is inside, after
// adding `delta`; in a system TLS slot for the same reason.
int AddThreadEntryDepth(int delta);
inline LONGLONG clockNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Scoped hold of g.lock that can be dropped and retaken. Every entry point holds
// one for its whole run, so its lifetime is the entry point's time.
class Guard {
public:
    Guard() : entered_(clockNow()) {
        AddThreadEntryDepth(1);
        lock();
    }
    ~Guard() {
        if (held_) unlock();
        AddThreadEngineTicks(clockNow() - entered_);
        // The runtime keeps a record (two handles) of each thread that used it,
        // given back only when the thread ends while this DLL is loaded with its
        // thread calls on, or when this thread unloads it. The worker often
        // unloads us, and the driver's threads outlive us: each thread leaving
        // its outermost entry gives its record back now.
        if (AddThreadEntryDepth(-1) == 0) PlatformEndThreadRuntime();
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    void lock() { AcquireSRWLockExclusive(&g.lock); held_ = true; }
    void unlock() { held_ = false; ReleaseSRWLockExclusive(&g.lock); }
private:
    LONGLONG entered_;
    bool held_ = false;
};

// speaking.cpp. Each takes the held guard and may drop it (sync-mode delivery,
// starting a worker); callers must not touch shared state afterwards.
void startSpeaking(Guard& guard, Instance& in);
void stopSpeaking(Guard& guard, Instance& in);
void pauseSpeaking(Guard& guard, Instance& in);
void resumeSpeaking(Guard& guard, Instance& in);
// Stops the instance's worker (waits unless that is unsafe) and closes the slot.
void shutdownInstance(Guard& guard, Instance& in);
int workerCount();  // lock held

}  // namespace sim
