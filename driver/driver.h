// Driver frame: paths, identification, the host's callbacks, and the engine
// lifecycle at the interface.
#pragma once
#include <atomic>
#include <cstdint>

#include "kal_exports.h"

// Serialises, for its scope, the host calls that change the engine session or read
// what a start-up rewrites (start-up and shut-down, voice selection and lists,
// parameters, stop and pause), so that calls from several host threads give the
// results of the same calls one after another. Recursive on one thread. The wait
// is bounded by kHostCallWaitMs, the longest such call's own work (a shut-down);
// a call that could not pass within it must not run (passed() is false, and the
// protocol says so). On the engine's notification thread it does not wait at all.
class HostCallGate {
public:
    HostCallGate();
    ~HostCallGate();
    bool passed() const { return passed_; }
    HostCallGate(const HostCallGate&) = delete;
    HostCallGate& operator=(const HostCallGate&) = delete;

private:
    bool entered_ = false;
    bool passed_ = false;
};
constexpr uint32_t kHostCallWaitMs = 10000;

// Static text naming the driver, ending with the build stamp.
extern const char* const IdentificationString;

// mayIsolate: this load may leave the engine to a helper process when
// [Default] Isolation is 1 (false in the helper itself, and where no helper
// exists). True when it does: no engine was started here, and the load goes on
// to DriverSetForwarding.
bool ProcessAttach(bool mayIsolate = false);
// Isolated mode: every export goes through this table to the helper, one
// pointer per row of KAL_EXPORTS. Set once at the load, before any export can
// run; all null (in-process) otherwise.
struct ExportForwarding {
#define KAL_FORWARD_POINTER(name, function, result, parameters) decltype(&function) name = nullptr;
    KAL_EXPORTS(KAL_FORWARD_POINTER)
#undef KAL_FORWARD_POINTER
};
void DriverSetForwarding(const ExportForwarding& table);
// processEnding: the process is ending (DllMain's reserved argument is not null).
// Its other threads are gone then, maybe in the middle of an engine call or a
// protocol line, so nothing is done that could wait for them.
void ProcessDetach(bool processEnding);
// Start-up: 0 when the session runs (already, or now), -1 when it failed.
int32_t GoInitSpeech();
int32_t LifecycleInitialize();
int32_t LifecycleTerminate();

// "Mmm dd yyyy" from the compiler's "Mmm  d yyyy": a one-digit day gets a 0, not a blank.
constexpr void BuildStampDate(const char* compilerDate, char* out) {
    for (int i = 0; i < 11; ++i) out[i] = compilerDate[i];
    if (out[4] == ' ') out[4] = '0';
    out[11] = '\0';
}
