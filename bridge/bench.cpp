// The bridge's figures, printed: an idle export's round trip, kal_Synth's
// hand-over, a text's time to its begin event, and (through the bridge) the
// time an event takes from the driver's callback in the helper to the host's.
// Built twice: 32-bit, loading kal_drv.dll (in-process, or isolated when the
// folder's kal.ini says so), and 64-bit, calling the bridge's operations (what
// kal_drv64.dll's one-line exports call). Runs in its own folder beside the
// driver, the helper and the simulated engine.
//   usage: bridge_bench [SIDE [CRASHES]]: SIDE names the figures' column;
//   CRASHES > 0 also measures, that many times, the time from kal_Synth of a
//   text the engine aborts on (simengine.ini: Fault=abort, FaultText=BOOM) to
//   the begin event of the text queued after it, spoken by a new helper.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kalsay/kal_api.h"
#if defined(_WIN64)
#include "bridge/connection.h"
#include "bridge/operations.h"
#endif

namespace {
constexpr int kWarmUp = 200;
constexpr int kIdleCalls = 3000;
constexpr int kTexts = 200;
constexpr DWORD kBeginWaitMs = 5000;
constexpr int kQueuedPerRound = 10;  // the queue holds 16: none is overwritten
// A helper that dies within 2 s of its start is restarted after a pause
// (kQuickDeathMs): the crashes are spaced so that each restart is immediate.
constexpr DWORD kCrashSpacingMs = 2500;
constexpr DWORD kRecoveryWaitMs = 30000;
// Long enough to still be spoken while ten more texts are queued (MsPerChar in simengine.ini).
const wchar_t kLongText[] = L"Ein langer Text, der noch gesprochen wird, waehrend zehn weitere warten.";

double ticksPerMicrosecond = 1;
std::atomic<int64_t> beganAt{0};
std::vector<double> eventLatencies;  // the bridge's added latency per event, in microseconds

int64_t Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}
double Micros(int64_t ticks) { return static_cast<double>(ticks) / ticksPerMicrosecond; }

int KAL_CDECL OnEvent(const KalSynthEvent* event) {
    const int64_t now = Now();
#if defined(_WIN64)
    if (eventLatencies.size() < 100000) eventLatencies.push_back(Micros(now - bridge::DeliveringEventPostedAt.load()));
#endif
    if (event->message == KAL_MSG_BEGIN) beganAt.store(now);
    return 0;
}

void Print(const char* side, const char* what, std::vector<double> values) {
    if (values.empty()) return;
    std::sort(values.begin(), values.end());
    auto at = [&](double q) { return values[static_cast<size_t>(q * (values.size() - 1))]; };
    printf("%-10s %-44s median %8.1f us   p90 %8.1f us   p99 %8.1f us   (n=%zu)\n", side, what, at(0.5), at(0.9),
           at(0.99), values.size());
}

#if defined(_WIN64)
const char* kSide = "bridge";
bool Bind(KalApi& api, std::string&) {
    using namespace bridge;
    api.Initialize = BridgeInitialize;
    api.Terminate = BridgeTerminate;
    api.SetSynthCallback = BridgeSetSynthCallback;
    api.Synth = BridgeSynth;
    api.SetVoiceByName = BridgeSetVoiceByName;
    api.IsPlaying = BridgeIsPlaying;
    api.Synchronize = BridgeSynchronize;
    api.Stop = BridgeStop;
    return true;
}
#else
const char* kSide = "in-process";
bool Bind(KalApi& api, std::string& error) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n < MAX_PATH ? n : 0);
    return api.Load(folder.substr(0, folder.find_last_of('\\') + 1) + "kal_drv.dll", error);
}
#endif
}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) kSide = argv[1];
    const int crashes = argc > 2 ? atoi(argv[2]) : 0;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    ticksPerMicrosecond = static_cast<double>(frequency.QuadPart) / 1e6;
#if defined(_WIN64)
    bridge::BridgeAttach(GetModuleHandleA(nullptr));
#endif
    KalApi api;
    std::string error;
    if (!Bind(api, error)) {
        fprintf(stderr, "bench: %s\n", error.c_str());
        return 1;
    }
    api.SetSynthCallback(OnEvent);
    if (api.Initialize() <= 0) {
        fprintf(stderr, "bench: the engine did not start\n");
        return 1;
    }
    api.SetVoiceByName("Anna");

    std::vector<double> idle;
    for (int i = 0; i < kWarmUp + kIdleCalls; ++i) {
        const int64_t start = Now();
        api.IsPlaying();
        if (i >= kWarmUp) idle.push_back(Micros(Now() - start));
    }
    Print(kSide, "idle export round trip (kal_IsPlaying)", idle);

    // An idle engine: the driver starts the text at once and then waits its
    // start-up pause (50 ms) before kal_Synth returns; the begin event comes
    // within that pause.
    std::vector<double> idleHandOver, toBegin;
    eventLatencies.clear();
    for (int i = 0; i < kTexts; ++i) {
        beganAt.store(0);
        const int64_t start = Now();
        api.Synth(L"Kurz.", i);
        const int64_t returned = Now();
        const DWORD waited = GetTickCount();
        while (beganAt.load() == 0 && GetTickCount() - waited < kBeginWaitMs) {
        }
        if (beganAt.load()) toBegin.push_back(Micros(beganAt.load() - start));
        idleHandOver.push_back(Micros(returned - start));
        api.Synchronize();
    }
    Print(kSide, "kal_Synth call to the begin event", toBegin);
#if defined(_WIN64)
    Print(kSide, "added event latency (driver -> host callback)", eventLatencies);
#endif
    Print(kSide, "kal_Synth hand-over, engine idle (+50 ms pause)", idleHandOver);

    // A speaking engine: each text is converted and queued, nothing more.
    std::vector<double> queuedHandOver;
    for (int round = 0; round < kTexts / kQueuedPerRound; ++round) {
        api.Synth(kLongText, 0);
        for (int i = 0; i < kQueuedPerRound; ++i) {
            const int64_t start = Now();
            api.Synth(L"Ein Text in der Warteschlange.", i + 1);
            queuedHandOver.push_back(Micros(Now() - start));
        }
        api.Stop();
    }
    Print(kSide, "kal_Synth hand-over, engine speaking (queued)", queuedHandOver);

    // The engine aborts on a text; the next one waits behind it.
    std::vector<double> crashToNext;
    for (int i = 0; i < crashes; ++i) {
        Sleep(kCrashSpacingMs);
        beganAt.store(0);
        const int64_t start = Now();
        api.Synth(L"BOOM", 1000 + i);
        api.Synth(L"Danach.", 2000 + i);
        const DWORD waited = GetTickCount();
        while (beganAt.load() == 0 && GetTickCount() - waited < kRecoveryWaitMs) Sleep(0);
        if (beganAt.load()) crashToNext.push_back(Micros(beganAt.load() - start));
        api.Synchronize();
    }
    Print(kSide, "engine crash to the next text's begin event", crashToNext);
    api.Terminate();
#if defined(_WIN64)
    bridge::BridgeDetach(false);
#endif
    return 0;
}
