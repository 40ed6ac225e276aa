// Driver frame: the host-call gate, identification, the isolation client the
// exports forward to, the helper's watchdog, process attach and detach, and
// the engine's start-up and shut-down at the interface.
#pragma once
#include <atomic>
#include <cstdint>

#include "config/limits.h"
#include "config/outcome.h"
#include "kal_exports.h"

// Serialises, for its scope, the host calls that change the engine session or read
// what a start-up rewrites (start-up and shut-down, voice selection and lists,
// parameters, stop and pause), so that calls from several host threads give the
// results of the same calls one after another. Recursive on one thread. Callers
// that find it taken pass in the order they came (a stop ahead of every other
// waiter), each waiting at most kHostCallWaitMs; a call that could not pass
// within it must not run (passed() is false, and the protocol says so). A holder
// whose thread has ended (a host killed it inside the call) is noticed within
// kGateOwnerCheckMs by the first waiter, and the gate passes on.
// On the engine's notification thread (the host's callback) it never waits: a
// stop or a pause passes without it (its holder may be waiting for this very
// notification), every other call takes it when it is free and is refused at
// once when another thread holds it.
enum class GateCall { Serialised, Stop, Pause };
class HostCallGate {
public:
    explicit HostCallGate(GateCall call = GateCall::Serialised);
    ~HostCallGate();
    bool passed() const { return passed_; }
    HostCallGate(const HostCallGate&) = delete;
    HostCallGate& operator=(const HostCallGate&) = delete;

private:
    bool entered_ = false;
    bool passed_ = false;
};
// The gate's bounds, kHostCallWaitMs and kGateOwnerCheckMs, are in config/limits.h.

// Static text naming the driver, ending with the build stamp.
extern const char* const IdentificationString;

// --- Isolated mode ------------------------------------------------------------------
// The isolation client's twenty operations (bridge/operations.h: the driver
// runs in a helper process, kal_host32.exe, and these talk to it), handed to
// ProcessAttach by the entry point that links the client (the Windows DLL's).
struct IsolationClient {
#define KAL_ISOLATION_OPERATION(name, function, result, parameters) result(*name) parameters;
    KAL_EXPORTS(KAL_ISOLATION_OPERATION)
#undef KAL_ISOLATION_OPERATION
    void (*attach)();
    void (*detach)(bool processEnding);
    bool (*insideCallback)();  // on the client's thread that runs the host's callback
};
// The bridge's client for the library `module` (its handle on Windows, an
// address inside it natively), for the library's load entry to hand to
// ProcessAttach (isolation_client.cpp).
const IsolationClient* IsolationClientOf(void* module);
// The client the exports forward to: set at process attach when the profile's
// "Isolation" is not 0 and this process is not the helper; null otherwise.
// Owned by driver/ (frame.cpp), constant after process attach.
extern const IsolationClient* const& Isolated;

// The helper's watch over its driver (watchdog.cpp): an engine call that runs
// longer than the bound, or the process's memory above its bound, ends the
// process with one of these codes after a protocol line; the client then
// recovers as from any other death. Bounds from the profile's
// "IsolationCallLimit" (ms) and "IsolationMemoryLimit" (MB) when present,
// else kWatchCallLimitMs and kWatchMemoryLimitMB (config/limits.h).
constexpr uint32_t kExitEngineHung = 6;
constexpr uint32_t kExitMemoryBound = 7;
void WatchdogStart();
void WatchdogStop();

// client: the isolation client when the module links one (null: in-process only).
void ProcessAttach(const IsolationClient* client = nullptr);
// processEnding: the process is ending (DllMain's reserved argument is not null).
// Its other threads are gone then, maybe in the middle of an engine call or a
// protocol line, so nothing is done that could wait for them.
void ProcessDetach(bool processEnding);
// Start-up: Ok when the session runs (already, or now), else the step that failed.
Outcome GoInitSpeech();
int32_t LifecycleInitialize();
int32_t LifecycleTerminate();

// "Mmm dd yyyy" from the compiler's "Mmm  d yyyy": a one-digit day gets a 0, not a blank.
constexpr void BuildStampDate(const char* compilerDate, char* out) {
    for (int i = 0; i < 11; ++i) out[i] = compilerDate[i];
    if (out[4] == ' ') out[4] = '0';
    out[11] = '\0';
}
