// Calls into the engine that nothing thrown can pass: the host is a screen
// reader, and an exception escaping into it or into the engine's own thread
// would take the user's speech away.
#pragma once
#include <cstdint>

#include "platform/platform.h"

// Writes line with "%X: " of a 32-bit value, or "?: " for any other exception.
void LogEngineException(const char* line, const uint32_t* value);

// Runs call, catching the exceptions of the platform's usual C++ compiler too
// (see PlatformCallCatchingForeign); false, and line written, when one was caught.
template <typename Call>
bool CallCatchingForeign(const char* line, Call& call) {
    PlatformForeignException caught;
    if (PlatformCallCatchingForeign([](void* context) { (*static_cast<Call*>(context))(); }, &call, &caught))
        return true;
    LogEngineException(line, caught.hasValue ? &caught.value : nullptr);
    return false;
}

// Every guarded call is bracketed: its start time sits in one of a few slots
// (atomics, no lock) for the length of the call, where the helper's watchdog
// looks for a call that does not return. Begin returns the slot, -1 when all
// are taken (the call then goes unwatched).
int32_t EngineCallBegin(const char* line);
void EngineCallEnd(int32_t slot);
class EngineCallBracket {
public:
    explicit EngineCallBracket(const char* line) : slot_(EngineCallBegin(line)) {}
    ~EngineCallBracket() { EngineCallEnd(slot_); }
    EngineCallBracket(const EngineCallBracket&) = delete;
    EngineCallBracket& operator=(const EngineCallBracket&) = delete;

private:
    const int32_t slot_;
};

// Runs one engine call; an exception it throws is written to the protocol with
// line and reported as false.
template <typename Call>
bool GuardedEngineCall(const char* line, Call call) {
    EngineCallBracket bracket(line);
    try {
        return CallCatchingForeign(line, call);
    } catch (uint32_t value) {
        LogEngineException(line, &value);
    } catch (...) {
        LogEngineException(line, nullptr);
    }
    return false;
}
