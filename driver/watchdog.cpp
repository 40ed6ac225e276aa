// The helper's watch over its engine: the driver runs in kal_host32.exe, and
// an engine that hangs in a call or takes memory without end would hold or
// drown that process. The watch ends it instead; the client sees the end and
// recovers as from a crash. It runs only in the helper (frame.cpp starts it).
#include <atomic>

#include "config/config.h"
#include "driver/driver.h"
#include "engine/engine.h"
#include "platform/platform.h"

namespace {
// Written at process attach before the thread starts; read by it only.
uint32_t callLimitMs = kWatchCallLimitMs;
uint64_t memoryLimitBytes = uint64_t(kWatchMemoryLimitMB) << 20;
bool watching = false;  // process attach and detach only
std::atomic<bool> stopWatching{false};

// A bound from the profile when the key is there; the keys are not filled in
// (they are for tests and for engines known to need more).
uint32_t BoundFromProfile(const char* key, uint32_t fallback) {
    if (!ProfileHasKey(key, "Default")) return fallback;
    int32_t value = 0;
    ProfileGetInt(key, &value, static_cast<int32_t>(fallback), "Default");
    return value > 0 ? static_cast<uint32_t>(value) : fallback;
}

// The name of the call, from its protocol line ("ft_ttsSpeak failed EX:").
void CallName(const char* line, char* out, size_t size) {
    size_t n = 0;
    while (line && line[n] && line[n] != ' ' && n + 1 < size) {
        out[n] = line[n];
        ++n;
    }
    out[n] = '\0';
}

void Watch(void*) {
    while (!stopWatching.load()) {
        PlatformSleep(kWatchPeriodMs);
        uint32_t startedAt = 0;
        const char* line = nullptr;
        if (EngineOldestCall(startedAt, line)) {
            const uint32_t running = PlatformTickCount() - startedAt;
            if (running > callLimitMs) {
                char name[64];
                CallName(line, name, sizeof name);
                LogWriteFormat(LOG_ERR, "Sprachausgabe haengt in %s seit %u ms: Prozess wird beendet", name,
                               static_cast<unsigned>(running));
                PlatformEndProcess(kExitEngineHung);
            }
        }
        const uint64_t memory = PlatformProcessMemoryBytes();
        if (memory > memoryLimitBytes) {
            LogWriteFormat(LOG_ERR, "Speicher %u MB ueber der Grenze von %u MB: Prozess wird beendet",
                           static_cast<unsigned>(memory >> 20), static_cast<unsigned>(memoryLimitBytes >> 20));
            PlatformEndProcess(kExitMemoryBound);
        }
    }
}
}  // namespace

void WatchdogStart() {
    callLimitMs = BoundFromProfile("IsolationCallLimit", kWatchCallLimitMs);
    memoryLimitBytes = uint64_t(BoundFromProfile("IsolationMemoryLimit", kWatchMemoryLimitMB)) << 20;
    stopWatching.store(false);
    watching = PlatformStartWatchThread(&Watch, nullptr);
    if (!watching) LogWrite(LOG_ERR, "Ueberwachung der Sprachausgabe nicht gestartet");
}

void WatchdogStop() {
    if (!watching) return;
    stopWatching.store(true);
    // Still inside a look after the bound: its code stays in memory until the process ends.
    if (!PlatformWatchThreadParked(kWatchStopMs)) PlatformPinOwnModule();
    watching = false;
}
