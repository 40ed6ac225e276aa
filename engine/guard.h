// Calls into the engine that nothing thrown can pass: the host is a screen
// reader, and an exception escaping into it or into the engine's own thread
// would take the user's speech away.
#pragma once
#include <cstdint>

// Writes line with "%X: " of a 32-bit value, or "?: " for any other exception.
void LogEngineException(const char* line, const uint32_t* value);

// Runs one engine call; an exception it throws is written to the protocol with
// line and reported as false.
template <typename Call>
bool GuardedEngineCall(const char* line, Call call) {
    try {
        call();
        return true;
    } catch (uint32_t value) {
        LogEngineException(line, &value);
    } catch (...) {
        LogEngineException(line, nullptr);
    }
    return false;
}
