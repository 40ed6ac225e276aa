// kal_bench [--driver DLL] [--voices 20,200,800,8000] [--rounds N] [--startup-rounds N]
//           [--part all|calls|startup]
// Prints every figure with the bare cost it is divided by, both measured here,
// in rounds that interleave the figure and its bare cost: the minimum over the
// rounds for CPU-bound figures, the median for file- and sleep-bound ones.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "engine/contract.h"
#include "kalsay/kal_api.h"

namespace {
// Calls per round: enough to read the clock well above its resolution.
constexpr int kCheapCalls = 20000;
constexpr int kProfileCalls = 200;
// The queued text, 40 characters, and a text that keeps the engine speaking.
const wchar_t kText40[] = L"Ein Satz mit genau vierzig Zeichen Text.";
static_assert(sizeof kText40 / sizeof(wchar_t) == 41, "40 characters");
// Ms per character while a figure needs the engine speaking: minutes of speech.
constexpr int kSlowSpeech = 50;
// "CharName" entries in the profile; kal_Char asks for the last one.
constexpr int kCharNames = 1000;
// Longest wait for the engine to report idle after kal_Stop.
constexpr DWORD kIdleWaitMs = 5000;

typedef void(ENGINE_CALL* ClockFn)(int64_t*);

struct Options {
    std::string driver, engine, root;
    std::vector<int> voices{20, 200, 800, 8000};
    int rounds = 15;
    int startupRounds = 5;
    std::string part = "all";  // or "calls", "startup"
};

// Values in microseconds, printed in ns.
void Print(const char* figure, double value, const char* bareName, double bare) {
    printf("%-54s %14.1f ns / %-22s %14.1f ns = %8.2f\n", figure, value * 1000, bareName, bare * 1000,
           value / bare);
    fflush(stdout);
}

template <typename F>
double PerCall(int calls, F f) {
    const double start = ClockMicroseconds();
    for (int i = 0; i < calls; ++i) f();
    return (ClockMicroseconds() - start) / calls;
}

void Load(KalApi& api, const HostFolder& folder) {
    std::string error;
    if (!api.Load(folder.path + "kal_drv.dll", error)) throw std::runtime_error(error);
}

std::string CharNameSection() {
    std::string ini = "[CharName]\r\n";
    char line[64];
    for (int code = 0; code < kCharNames; ++code) {
        snprintf(line, sizeof line, "%04X=Zeichen %d\r\n", code, code);
        ini += line;
    }
    return ini;
}

void WaitIdle(KalApi& api) {
    const DWORD start = GetTickCount();
    while (api.IsPlaying() != 0 && GetTickCount() - start < kIdleWaitMs) Sleep(10);
}

// The exports a host calls all the time, the queue while speaking, and the hand-over.
void HostCalls(const Options& o) {
    HostFolder folder(o.root, "calls", o.driver, o.engine);
    folder.write("simengine.ini", EngineIni(10, kSlowSpeech));
    folder.age("simengine.ini");
    folder.write("kal.ini", "[Default]\r\nDEBUG=0\r\n" + CharNameSection());
    KalApi api;
    // The first start writes the voices' defaults; a host's usual start finds
    // them there, in a file not written in the last seconds.
    Load(api, folder);
    api.Unload();
    folder.age("kal.ini");
    Load(api, folder);
    int listed = 0;
    for (KalVoiceDescriptor** v = api.ListVoices(nullptr); v && *v; ++v) ++listed;
    if (listed != 10) throw std::runtime_error("the engine should offer 10 voices, the driver lists " +
                                               std::to_string(listed));

    Samples bare, playing, parameter, list;
    for (int r = 0; r < o.rounds; ++r) {
        bare.add(PerCall(kCheapCalls, [&] { api.Info(); }));
        playing.add(PerCall(kCheapCalls, [&] { api.IsPlaying(); }));
        parameter.add(PerCall(kCheapCalls, [&] { api.GetParameter(1, 1); }));
        list.add(PerCall(kCheapCalls, [&] { api.ListVoices(nullptr); }));
    }
    Print("kal_IsPlaying, idle", playing.min(), "bare call (kal_Info)", bare.min());
    Print("kal_GetParameter(1,1)", parameter.min(), "bare call (kal_Info)", bare.min());
    Print("kal_ListVoices(NULL), 10 voices", list.min(), "bare call (kal_Info)", bare.min());

    std::wstring longText;
    while (longText.size() < 4000) longText += L"Ein langer Text, der lange gesprochen wird. ";
    api.Synth(longText.c_str(), 1);
    if (api.IsPlaying() != 1) throw std::runtime_error("the engine does not speak the long text");
    const std::string ini = folder.path + "kal.ini";
    char key[8], value[2048];
    snprintf(key, sizeof key, "%04X", kCharNames - 1);
    Samples synth, character, read;
    for (int r = 0; r < o.rounds; ++r) {
        synth.add(PerCall(kProfileCalls, [&] { api.Synth(kText40, 2); }));
        character.add(PerCall(kProfileCalls, [&] { api.Char(kCharNames - 1); }));
        read.add(PerCall(kProfileCalls, [&] {
            GetPrivateProfileStringA("CharName", key, "", value, sizeof value, ini.c_str());
        }));
    }
    Print("kal_Synth, 40 characters queued while speaking", synth.min(), "bare call (kal_Info)", bare.min());
    Print("kal_Char, 1000 \"CharName\" entries", character.min(), "one profile read", read.min());
    api.Stop();
    WaitIdle(api);

    // kal_Synth on an idle driver hands the text over at once; the engine records
    // when its Speak was entered and how long this thread spent inside it until then.
    auto clock = reinterpret_cast<ClockFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("nalvoapi.dll"), "sim_Clock")));
    if (!clock) throw std::runtime_error("the engine lacks sim_Clock");
    Samples handOver, engineShare;
    for (int r = 0; r < o.rounds; ++r) {
        int64_t before[3], after[3];
        clock(before);
        LARGE_INTEGER entry;
        QueryPerformanceCounter(&entry);
        api.Synth(kText40, 3);
        clock(after);
        api.Stop();
        WaitIdle(api);
        if (after[1] < entry.QuadPart) continue;  // no Speak in this call: not a hand-over
        const double share = TicksToMicroseconds(after[2] - before[0]);
        handOver.add(TicksToMicroseconds(after[1] - entry.QuadPart) - share);
        engineShare.add(share);
    }
    if (handOver.values.empty()) throw std::runtime_error("no hand-over reached the engine");
    Print("hand-over: kal_Synth entry to Speak, engine share off", handOver.median(), "bare call (kal_Info)",
          bare.min());
    printf("%-54s %14.1f ns (median of %zu)\n", "  engine's own share taken off", engineShare.median() * 1000,
           engineShare.values.size());
    api.Unload();
}

// The engine's own part of the start-up just done on this thread: the time this
// thread spent inside its entry points, as the engine counts it.
double EngineShare() {
    auto clock = reinterpret_cast<ClockFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("nalvoapi.dll"), "sim_Clock")));
    if (!clock) throw std::runtime_error("the engine lacks sim_Clock");
    int64_t ticks[3];
    clock(ticks);
    return TicksToMicroseconds(ticks[0]);
}

// Start-up inside LoadLibrary for each number of voices offered: first start
// (no kal.ini yet) and start with the profile complete.
void StartupCurve(const Options& o) {
    struct Point {
        int voices;
        HostFolder folder;
        Samples first, complete, bareReads;
        Samples driverFirst, driverComplete;  // each start-up less the engine's part in it
    };
    std::vector<Point> points;
    for (int n : o.voices) {
        points.push_back(Point{n, HostFolder(o.root, "startup" + std::to_string(n), o.driver, o.engine), {}, {}, {}, {}, {}});
        points.back().folder.write("simengine.ini", EngineIni(n, 2));
        points.back().folder.age("simengine.ini");
    }
    const auto keys200 = StartupKeys(200);
    char value[2048];
    for (int r = 0; r < o.startupRounds; ++r) {
        for (Point& p : points) {
            KalApi api;
            p.folder.remove("kal.ini");
            double start = ClockMicroseconds();
            Load(api, p.folder);
            p.first.add(ClockMicroseconds() - start);
            p.driverFirst.add(p.first.values.back() - EngineShare());
            api.Unload();
            p.folder.age("kal.ini");
            start = ClockMicroseconds();
            Load(api, p.folder);
            p.complete.add(ClockMicroseconds() - start);
            p.driverComplete.add(p.complete.values.back() - EngineShare());
            api.Unload();
            if (p.voices != 200) continue;
            const std::string ini = p.folder.path + "kal.ini";
            start = ClockMicroseconds();
            for (const auto& k : keys200)
                for (int twice = 0; twice < 2; ++twice)
                    GetPrivateProfileStringA(k.first.c_str(), k.second.c_str(), "", value, sizeof value, ini.c_str());
            p.bareReads.add(ClockMicroseconds() - start);
        }
    }
    for (const Point& p : points) {
        if (p.voices != 200) continue;
        const std::string bare = std::to_string(2 * keys200.size()) + " profile reads";
        Print("start-up, 200 voices, profile complete", p.complete.median(), bare.c_str(), p.bareReads.median());
    }
    printf("\nstart-up inside LoadLibrary (median of %d), ms:\n", o.startupRounds);
    printf("%8s %14s %14s %16s %14s %14s\n", "voices", "first start", "complete",
           "engine off: first", "complete", "kal.ini bytes");
    for (const Point& p : points) {
        WIN32_FILE_ATTRIBUTE_DATA info{};
        GetFileAttributesExA((p.folder.path + "kal.ini").c_str(), GetFileExInfoStandard, &info);
        printf("%8d %14.1f %14.1f %16.1f %14.1f %14lu\n", p.voices, p.first.median() / 1000,
               p.complete.median() / 1000, p.driverFirst.median() / 1000, p.driverComplete.median() / 1000,
               info.nFileSizeLow);
    }
}

std::vector<int> NumberList(const char* text) {
    std::vector<int> numbers;
    for (const char* p = text; *p;) {
        numbers.push_back(atoi(p));
        p = strchr(p, ',');
        if (!p) break;
        ++p;
    }
    return numbers;
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string build = self;
    build.resize(build.rfind('\\'));
    build.resize(build.rfind('\\') + 1);  // the exe sits in <build>\bench\.
    o.driver = build + "driver\\kal_drv.dll";
    o.engine = build + "simengine\\nalvoapi.dll";
    o.root = build + "bench-run\\";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        if (name == "--driver") o.driver = argv[i + 1];
        else if (name == "--voices") o.voices = NumberList(argv[i + 1]);
        else if (name == "--rounds") o.rounds = atoi(argv[i + 1]);
        else if (name == "--startup-rounds") o.startupRounds = atoi(argv[i + 1]);
        else if (name == "--part") o.part = argv[i + 1];
        else throw std::runtime_error("unknown option " + name);
    }
    return o;
}
}  // namespace

int main(int argc, char** argv) {
    try {
        const Options o = ParseOptions(argc, argv);
        printf("driver %s, %d rounds\n\n", o.driver.c_str(), o.rounds);
        if (o.part != "startup") HostCalls(o);
        if (o.part != "calls") StartupCurve(o);
        return 0;
    } catch (const std::exception& e) {
        fprintf(stderr, "kal_bench: %s\n", e.what());
        return 1;
    }
}
