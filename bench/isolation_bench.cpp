// The native product in-process and in isolated mode, side by side in one
// run, with eSpeak NG as the engine: an idle export's round trip, kal_Synth
// queued behind a speaking text, the time from kal_Synth to the begin event
// (eSpeak NG sends it with the first samples: the first audio), the time an
// event takes from the driver's callback in the helper to the host's, and,
// isolated only, the time from the helper's abort (as eSpeak NG aborts) while it
// speaks to the next text's first audio. In-process the host is one libkal_drv.so loaded from a
// folder whose kal.ini says Isolation=0; isolated it calls the bridge's
// operations (what libkal_drv.so's forwarding table calls with Isolation=1)
// with kal_helper and the driver in a folder of their own.
//   usage: kal_isolation_bench [TEXTS]   (default 40 for the audio figures)
#include <dirent.h>
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "bridge/connection.h"
#include "bridge/link.h"
#include "bridge/operations.h"
#include "bridge/recovery.h"
#include "kalsay/kal_api.h"
#include "support/files.h"
#include "support/text16.h"

namespace {
constexpr int kWarmUp = 200;
constexpr int kIdleCalls = 5000;
constexpr int kQueuedRounds = 20;
constexpr int kQueuedPerRound = 10;  // the queue holds 16: none is overwritten
constexpr int kDefaultTexts = 40;
constexpr int kCrashes = 8;
constexpr uint32_t kBeginWaitMs = 10000;
// Between two crashes: a helper that dies within the recovery's quick-death
// span is restarted only after a back-off, which is not what is measured here.
constexpr uint32_t kBetweenCrashesMs = kQuickDeathMs + 500;
const char16_t kSentence[] = u"Guten Tag, dies ist ein Satz f\u00fcr die Messung der Zeit bis zum ersten Ton.";
const char16_t kLongText[] = u"Ein langer Text, der noch gesprochen wird, waehrend zehn weitere warten.";

int64_t Now() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);  // bridge::SharedClockNow's clock
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}
double Micros(int64_t ns) { return ns / 1000.0; }

std::atomic<int64_t> beganAt{0};
std::atomic<bool> isolatedSide{false};
std::vector<double> eventLatencies;  // filled on the event thread while the bench waits

int KAL_CDECL OnEvent(const KalSynthEvent* event) {
    const int64_t now = Now();
    if (isolatedSide.load() && eventLatencies.size() < 100000)
        eventLatencies.push_back(Micros(now - bridge::DeliveringEventPostedAt.load()));
    if (event->message == KAL_MSG_BEGIN) beganAt.store(now);
    return 0;
}

struct Summary {
    double median = 0, p90 = 0;
    size_t n = 0;
};
Summary Summarise(std::vector<double> values) {
    Summary s;
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    s.median = values[values.size() / 2];
    s.p90 = values[values.size() * 9 / 10];
    s.n = values.size();
    return s;
}

void PrintRow(const char* what, const std::vector<double>& inProcess, const std::vector<double>& isolated,
              const char* unit = "us") {
    const Summary a = Summarise(inProcess), b = Summarise(isolated);
    printf("bench: %-40s in-process median %9.1f p90 %9.1f | isolated median %9.1f p90 %9.1f | added %+9.1f %s (n=%zu/%zu)\n",
           what, a.median, a.p90, b.median, b.p90, b.median - a.median, unit, a.n, b.n);
}

bool WaitBegin() {
    const int64_t until = Now() + int64_t{kBeginWaitMs} * 1000000;
    while (beganAt.load() == 0 && Now() < until) std::this_thread::sleep_for(std::chrono::microseconds(20));
    return beganAt.load() != 0;
}

struct Figures {
    std::vector<double> idle, queued, firstAudio, crashToAudio;
};

// The helper this process started (a kal_helper whose parent is this
// process), 0 when none runs.
pid_t HelperPid() {
    DIR* processes = opendir("/proc");
    if (!processes) return 0;
    pid_t found = 0;
    while (dirent* entry = readdir(processes)) {
        const pid_t pid = static_cast<pid_t>(atoi(entry->d_name));
        if (pid <= 0) continue;
        // "pid (comm) state ppid ..."
        const std::string stat = ReadFileText("/proc/" + std::string(entry->d_name) + "/stat");
        const size_t close = stat.rfind(')');
        if (close == std::string::npos || stat.find("(kal_helper)") == std::string::npos) continue;
        int parent = 0;
        if (sscanf(stat.c_str() + close + 1, " %*c %d", &parent) == 1 && parent == getpid()) found = pid;
    }
    closedir(processes);
    return found;
}

void Measure(KalApi& api, int texts, bool crashes, Figures& f) {
    api.SetSynthCallback(OnEvent);
    api.Initialize();
    api.SetVoiceByName("Deutsch");
    for (int i = 0; i < kWarmUp + kIdleCalls; ++i) {
        const int64_t start = Now();
        api.IsPlaying();
        if (i >= kWarmUp) f.idle.push_back(Micros(Now() - start));
    }
    for (int i = 0; i < texts; ++i) {
        beganAt.store(0);
        const int64_t start = Now();
        api.Synth(kSentence, i + 1);
        if (WaitBegin()) f.firstAudio.push_back(Micros(beganAt.load() - start));
        api.Stop();
    }
    for (int round = 0; round < kQueuedRounds; ++round) {
        beganAt.store(0);
        api.Synth(kLongText, 100);
        WaitBegin();
        for (int i = 0; i < kQueuedPerRound; ++i) {
            const int64_t start = Now();
            api.Synth(u"Ein Text in der Warteschlange.", 101 + i);
            f.queued.push_back(Micros(Now() - start));
        }
        api.Stop();
    }
    if (crashes) {
        // The engine's text guard keeps eSpeak NG 1.51's known aborting texts
        // from it, so the helper is made to abort as eSpeak NG would while it
        // speaks: SIGABRT, with a text queued behind the one it speaks.
        for (int i = 0; i < kCrashes; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(kBetweenCrashesMs));
            const pid_t helper = HelperPid();
            if (helper == 0) break;
            beganAt.store(0);
            api.Synth(kLongText, 200);
            if (!WaitBegin()) break;
            beganAt.store(0);
            api.Synth(u"Hallo.", 201);
            const int64_t start = Now();
            kill(helper, SIGABRT);
            if (WaitBegin()) f.crashToAudio.push_back(Micros(beganAt.load() - start) / 1000.0);
            api.Synchronize();
        }
    }
    api.Terminate();
}

// A folder with the product's driver, helper, engine and kal.ini, Isolation set as given.
std::string ProductFolder(const char* name, const char* isolation) {
    const std::string folder = FreshFolder(name);
    for (const char* file : {"libkal_drv.so", "kal_helper", "nalvoapi.so"}) CopyFileTo(BuildPath(std::string("product/") + file), folder + file);
    std::string ini = ReadFileText(BuildPath("product/kal.ini"));
    const size_t at = ini.find("Isolation=1");
    if (at != std::string::npos) ini.replace(at, 11, std::string("Isolation=") + isolation);
    WriteFileText(folder + "kal.ini", ini);
    // Paced like a sound card, so that a long text is still speaking while others are queued.
    WriteFileText(folder + "espeakengine.ini", "output=wav\nwav=bench.wav\npace=realtime\n");
    chmod((folder + "kal_helper").c_str(), 0755);
    return folder;
}
}  // namespace

int main(int argc, char** argv) {
    const int texts = argc > 1 && atoi(argv[1]) > 0 ? atoi(argv[1]) : kDefaultTexts;
    Figures inProcess, isolated;

    KalApi local;
    std::string error;
    if (!local.Load(ProductFolder("bench-inprocess", "0") + "libkal_drv.so", error)) {
        fprintf(stderr, "bench: %s\n", error.c_str());
        return 1;
    }
    Measure(local, texts, false, inProcess);

    // The isolated side: the driver's folder is found from an address inside its copy.
    const std::string folder = ProductFolder("bench-isolated", "1");
    void* library = dlopen((folder + "libkal_drv.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        fprintf(stderr, "bench: %s\n", dlerror());
        return 1;
    }
    bridge::BridgeAttach(dlsym(library, "kal_Info"));
    KalApi remote;
#define BENCH_BIND(name, function, result, parameters) remote.name = bridge::Bridge##name;
    KAL_EXPORTS(BENCH_BIND)
#undef BENCH_BIND
    isolatedSide.store(true);
    Measure(remote, texts, true, isolated);
    isolatedSide.store(false);

    PrintRow("idle call (kal_IsPlaying)", inProcess.idle, isolated.idle);
    PrintRow("kal_Synth queued behind a speaking text", inProcess.queued, isolated.queued);
    PrintRow("event latency (driver callback -> host)", std::vector<double>(1, 0.0), eventLatencies);
    PrintRow("first audio (kal_Synth -> begin event)", inProcess.firstAudio, isolated.firstAudio);
    const Summary crash = Summarise(isolated.crashToAudio);
    printf("bench: %-40s in-process: the host ends | isolated median %9.1f p90 %9.1f ms (n=%zu)\n",
           "helper abort -> next text's audio", crash.median, crash.p90, crash.n);
    bridge::BridgeDetach(false);
    return 0;
}
