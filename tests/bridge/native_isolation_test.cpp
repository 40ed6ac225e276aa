// The native product in isolated mode, as a host meets it: a copy of
// libkal_drv.so in a fresh folder with kal_helper beside it and kal.ini saying
// Isolation=1, loaded with dlopen. The engine runs in the helper; when it
// aborts, faults, hangs or takes memory without end, the host lives on, its
// kal_Synchronize returns, every text gets its events (the faulting one its
// end) and the texts after it are spoken by a new helper with the host's
// settings, without a call from the host.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/recovery.h"
#include "kal_drv.h"
#include "kalsay/kal_api.h"
#include "support/files.h"
#include "support/text16.h"
#include "support/threaded_engine.h"

namespace {
using Clock = std::chrono::steady_clock;

// The longest a test lets kal_Synchronize take after a fault: the helper's
// watchdog bound for a hung engine call plus a restart, with room for a
// sanitizer build on a busy machine.
constexpr int kSynchronizeBoundMs = 30000;
// Beyond the recovery's quick death, between two eSpeak NG aborts.
constexpr uint32_t kRowMarginMs = 200;

struct Seen {
    int message;
    int mark;
};
std::mutex eventsLock;
std::condition_variable eventsChanged;
std::vector<Seen> events;

int KAL_CDECL RecordEvent(const KalSynthEvent* event) {
    {
        std::lock_guard<std::mutex> guard(eventsLock);
        events.push_back(Seen{event->message, event->mark});
    }
    eventsChanged.notify_all();
    return 0;
}

std::vector<Seen> Events() {
    std::lock_guard<std::mutex> guard(eventsLock);
    return events;
}

bool WaitForEnd(int mark, int limitMs) {
    std::unique_lock<std::mutex> guard(eventsLock);
    return eventsChanged.wait_for(guard, std::chrono::milliseconds(limitMs), [&] {
        for (const Seen& seen : events)
            if (seen.mark == mark && seen.message == KAL_MSG_END) return true;
        return false;
    });
}

std::string Text(const char* text) { return text ? text : "(null)"; }

// Begins and ends per mark, and the order of the marks' first events.
struct Tally {
    std::map<int, int> begins, ends;
    bool endBeforeBegin = false;
};
Tally Count(const std::vector<Seen>& seen) {
    Tally tally;
    for (const Seen& s : seen) {
        if (s.message == KAL_MSG_BEGIN) {
            if (tally.ends[s.mark]) tally.endBeforeBegin = true;
            ++tally.begins[s.mark];
        } else if (s.message == KAL_MSG_END) {
            ++tally.ends[s.mark];
        }
    }
    return tally;
}

// A host of the native library in a folder of its own.
class IsolatedHost : public KalApi {
public:
    // engine: the engine library below the native build tree, copied beside the
    // driver under the name kal.ini gives; kalIni: the profile's text.
    IsolatedHost(const std::string& name, const char* engine, const char* engineName, const std::string& kalIni) {
        folder = FreshFolder(name);
        CopyFileTo(BuildPath("product/libkal_drv.so"), folder + "libkal_drv.so");
        CopyFileTo(BuildPath("product/kal_helper"), folder + "kal_helper");
        chmod((folder + "kal_helper").c_str(), 0755);
        CopyFileTo(BuildPath(engine), folder + engineName);
        WriteFileText(folder + "kal.ini", kalIni);
        std::lock_guard<std::mutex> guard(eventsLock);
        events.clear();
    }
    void Load() {
        std::string error;
        ASSERT_TRUE(KalApi::Load(folder + "libkal_drv.so", error)) << error;
        SetSynthCallback(RecordEvent);
    }
    // Synchronize, and how long it took.
    long TimedSynchronize() {
        const Clock::time_point start = Clock::now();
        Synchronize();
        return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
    }
    std::string folder;
};

// The helpers here fault on purpose: under a sanitizer their fault is the
// test's subject, not a report (they inherit this environment at their start).
void HelpersFaultWithoutReports() {
    for (const char* name : {"ASAN_OPTIONS", "TSAN_OPTIONS"}) {
        const char* old = getenv(name);
        const std::string value = std::string(old ? old : "") + ":handle_segv=0:handle_abort=0";
        setenv(name, value.c_str(), 1);
    }
}

const char kThreadedIni[] =
    "[Default]\nDEBUG=4\nIsolation=1\nApi=threaded_engine.so\n";

struct FaultRow {
    const char* label;
    const char* script;  // the engine's fault file
};
const FaultRow kFaultRows[] = {
    {"abort", "abort boom\n"},
    {"segv", "segv boom\n"},
    {"hang", "hang boom\n"},
    {"leak", "leak boom\n"},
};

void PrintTo(const FaultRow& row, std::ostream* out) { *out << row.label; }

class IsolationFaultTest : public testing::TestWithParam<FaultRow> {};

TEST_P(IsolationFaultTest, TheHostLivesAndEveryTextGetsItsEventsAndTheNextIsSpoken) {
    const FaultRow& row = GetParam();
    IsolatedHost host(std::string("IsoFault-") + row.label, THREADED_ENGINE_FILE, "threaded_engine.so", kThreadedIni);
    WriteFileText(host.folder + THREADED_ENGINE_FAULT_FILE, row.script);
    HelpersFaultWithoutReports();
    host.Load();
    ASSERT_NE(-1, host.Initialize());
    // Settings the new helper must have again (a voice sets the profile's rate
    // and volume, so they come after it).
    host.SetVoiceByName("Nalvo Deutsch Petra");
    ASSERT_STREQ("Nalvo Deutsch Petra", host.GetCurrentVoice()->name);
    host.SetParameter(KAL_PARAM_RATE, 70, 0);
    host.SetParameter(KAL_PARAM_VOLUME, 35, 0);

    const char16_t* texts[] = {u"t1", u"t2", u"t3 boom", u"t4", u"t5"};
    for (int i = 0; i < 5; ++i) host.Synth(texts[i], i + 1);
    const long took = host.TimedSynchronize();
    EXPECT_LT(took, kSynchronizeBoundMs) << row.label;
    // kal_Synchronize waited for the texts behind the faulting one too, which
    // the new helper spoke.

    const Tally tally = Count(Events());
    for (int mark : {1, 2, 4, 5}) {
        EXPECT_EQ(tally.begins.count(mark) ? tally.begins.at(mark) : 0, 1) << row.label << " text " << mark;
        EXPECT_EQ(tally.ends.count(mark) ? tally.ends.at(mark) : 0, 1) << row.label << " text " << mark;
    }
    EXPECT_EQ(tally.ends.count(3) ? tally.ends.at(3) : 0, 1) << row.label << ": the faulting text's end";
    EXPECT_LE(tally.begins.count(3) ? tally.begins.at(3) : 0, 1) << row.label;
    EXPECT_FALSE(tally.endBeforeBegin) << row.label;
    // The texts' events come in the order the texts were given.
    int lastMark = 0;
    for (const Seen& seen : Events()) {
        EXPECT_GE(seen.mark, lastMark) << row.label;
        lastMark = seen.mark;
    }

    // The next text speaks, with the settings the host made before the fault.
    host.Synth(u"t6", 6);
    EXPECT_TRUE(WaitForEnd(6, kSynchronizeBoundMs)) << row.label;
    EXPECT_EQ(70, host.GetParameter(KAL_PARAM_RATE, 1)) << row.label;
    EXPECT_EQ(35, host.GetParameter(KAL_PARAM_VOLUME, 1)) << row.label;
    KalVoiceDescriptor* voice = host.GetCurrentVoice();
    ASSERT_NE(nullptr, voice);
    EXPECT_STREQ("Nalvo Deutsch Petra", voice->name) << row.label;
    host.Terminate();
    // The protocol says what happened.
    const std::vector<std::string> said = LinesStartingWith(ReadLines(host.folder + "kal.pro"), "ERR:: Sprachausgabe-Prozess");
    EXPECT_GE(said.size(), 2u) << row.label << ": the end and the restart";
}

INSTANTIATE_TEST_SUITE_P(Faults, IsolationFaultTest, testing::ValuesIn(kFaultRows),
                         [](const testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.label); });

// Texts on which eSpeak NG 1.51 itself aborts ("stack smashing detected"),
// found by tests/espeakengine/abort_search.cpp: a unit, how often it repeats
// (the fewest that abort), the voice. Each ended the whole host in-process
// before the engine's text guard; now the guard and the isolation both stand
// between them and the host (the threaded engine's rows above abort for real).
struct AbortingText {
    const char* voice;
    const char* unit;  // Windows-1252 as the host's UTF-16 text is converted
    int repeats;
};
const AbortingText kAbortingTexts[] = {
    {"English US", "A.", 85},
    {"English US", "A.B.C.D.", 22},
    {"Deutsch", "U.S.A.B.", 22},
    {"English", "z.B. ", 43},
    {"English US", "e.g.! ", 43},
    {"Deutsch", "\xe4.", 57},
    {"English", "I.U.S.", 29},
    {"Deutsch", "A.B.A.B.e.g.", 15},
    {"English US", ":A.;", 85},
    {"English", "?A.B.", 43},
    {"English US", "\x85\xe4.I.", 34},
    {"Deutsch", "z.B.I. ", 29},
};

Text16 Widen1252(const std::string& bytes) {
    Text16 text;
    for (unsigned char c : bytes) text += static_cast<kal_char16>(c == 0x85 ? 0x2026 : c);
    return text;
}

TEST(IsolationEspeakTest, TextsThatAbortTheEngineLeaveTheHostAndTheNextTextSpeaks) {
    std::string ini = ReadFileText(BuildPath("product/kal.ini"));
    ASSERT_NE(std::string::npos, ini.find("Isolation=1")) << "the product is isolated by default";
    IsolatedHost host("IsoEspeak", "product/nalvoapi.so", "nalvoapi.so", ini);
    setenv("KAL_ESPEAK_OUTPUT", "none", 1);
    HelpersFaultWithoutReports();
    host.Load();
    ASSERT_NE(-1, host.Initialize());
    int mark = 1;
    for (const AbortingText& row : kAbortingTexts) {
        std::string text;
        for (int i = 0; i < row.repeats; ++i) text += row.unit;
        const std::string label = std::string(row.voice) + " " + row.unit + " x" + std::to_string(row.repeats);
        host.SetVoiceByName(row.voice);
        ASSERT_EQ(row.voice, Text(host.GetCurrentVoice()->name)) << label;
        // Each helper lives longer than a quick death, so that each row's
        // restart comes at once rather than after a growing back-off.
        std::this_thread::sleep_for(std::chrono::milliseconds(kQuickDeathMs + kRowMarginMs));
        const int bad = mark++, next = mark++;
        host.Synth(Widen1252(text).c_str(), bad);
        host.Synth(u"Hello.", next);
        EXPECT_LT(host.TimedSynchronize(), kSynchronizeBoundMs) << label;
        EXPECT_TRUE(WaitForEnd(next, kSynchronizeBoundMs)) << label;
        const Tally tally = Count(Events());
        EXPECT_EQ(tally.ends.count(bad) ? tally.ends.at(bad) : 0, 1) << label;
        EXPECT_EQ(tally.begins.count(next) ? tally.begins.at(next) : 0, 1) << label << ": the next text is heard";
        EXPECT_EQ(tally.ends.count(next) ? tally.ends.at(next) : 0, 1) << label;
        EXPECT_EQ(row.voice, Text(host.GetCurrentVoice()->name)) << label;
    }
    host.Terminate();
    unsetenv("KAL_ESPEAK_OUTPUT");
}
}  // namespace

namespace {
// What a host sees of one session, call by call: the same in both modes.
std::vector<std::string> Transcript(const char* isolation) {
    IsolatedHost host(std::string("IsoContract-") + isolation, THREADED_ENGINE_FILE, "threaded_engine.so",
                      std::string("[Default]\nDEBUG=0\nIsolation=") + isolation + "\nApi=threaded_engine.so\n");
    host.Load();
    std::vector<std::string> lines;
    auto note = [&](const std::string& what, long value) { lines.push_back(what + " " + std::to_string(value)); };
    note("Initialize > 0", host.Initialize() > 0);
    lines.push_back("Info " + Text(host.Info()));
    for (KalVoiceDescriptor** voice = host.ListVoices(nullptr); voice && *voice; ++voice)
        lines.push_back("voice " + Text((*voice)->name) + " " + Text((*voice)->identifier) + " " + Text((*voice)->language));
    KalVoiceFilter filter{};
    char language[] = "0000";
    filter.language = language;
    note("ListVoices(filter) first is list's first", host.ListVoices(&filter)[0] == host.ListVoices(nullptr)[0]);
    note("SetVoiceByName", host.SetVoiceByName("0000-Nalvo Deutsch Petra"));
    lines.push_back("current " + Text(host.GetCurrentVoice()->name));
    note("SetVoiceByName unknown", host.SetVoiceByName("nobody"));
    note("SetParameter rate", host.SetParameter(KAL_PARAM_RATE, 70, 0));
    note("SetParameter volume relative", host.SetParameter(KAL_PARAM_VOLUME, -10, 1));
    note("SetParameter too large", host.SetParameter(KAL_PARAM_RATE, 101, 0));
    for (int parameter : {KAL_PARAM_RATE, KAL_PARAM_VOLUME, 3})
        for (int current : {0, 1}) note("GetParameter " + std::to_string(parameter * 10 + current), host.GetParameter(parameter, current));
    note("SetPunctuationList", host.SetPunctuationList(u".,;"));
    note("Synth", host.Synth(u"eins", 1));
    note("Synth null", host.Synth(nullptr, 2));
    note("Synth_Mark", host.SynthMark("zwei <m> drei", "<m>", 3));
    note("Key", host.Key("a"));
    note("Char", host.Char('b'));
    note("Synchronize", host.Synchronize());
    note("IsPlaying", host.IsPlaying());
    note("Pause", host.Pause(1));
    note("Resume", host.Pause(0));
    note("Stop", host.Stop());
    for (const Seen& seen : Events()) note("event " + std::to_string(seen.message), seen.mark);
    note("Terminate", host.Terminate());
    note("Initialize again > 0", host.Initialize() > 0);
    host.Terminate();
    return lines;
}
}  // namespace

TEST(IsolationContractTest, AHostSeesTheSameResultsAndEventsInBothModes) {
    const std::vector<std::string> inProcess = Transcript("0"), isolated = Transcript("1");
    ASSERT_GT(inProcess.size(), 20u);
    for (const char* line : {"event 1 1", "event 2 1", "event 2 3", "current Nalvo Deutsch Petra"})
        EXPECT_NE(std::find(inProcess.begin(), inProcess.end(), line), inProcess.end()) << line;
    for (size_t i = 0; i < inProcess.size() || i < isolated.size(); ++i)
        EXPECT_EQ(i < inProcess.size() ? inProcess[i] : "(none)", i < isolated.size() ? isolated[i] : "(none)") << "line " << i;
}

namespace {
// The processes whose parent is `parent`, named `name`.
std::vector<pid_t> ChildrenNamed(pid_t parent, const std::string& name) {
    std::vector<pid_t> found;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string id = entry.path().filename();
        if (id.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::string stat = ReadFileText("/proc/" + id + "/stat");
        const size_t open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        int ppid = 0;
        char state = 0;
        if (sscanf(stat.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == parent &&
            stat.substr(open + 1, close - open - 1) == name)
            found.push_back(static_cast<pid_t>(std::stoi(id)));
    }
    return found;
}

// Gone, or a zombie nobody has collected yet: it runs no more.
bool Ended(pid_t pid) {
    const std::string stat = ReadFileText("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    return close == std::string::npos || stat[close + 2] == 'Z' || stat[close + 2] == 'X';
}
}  // namespace

TEST(IsolationLifetimeTest, TheHelperEndsWhenItsHostIsKilled) {
    // kalsay as the host, waiting for typed lines; killed as a crash would end it.
    IsolatedHost host("IsoLifetime", THREADED_ENGINE_FILE, "threaded_engine.so", kThreadedIni);
    CopyFileTo(BuildPath("product/kalsay"), host.folder + "kalsay");
    chmod((host.folder + "kalsay").c_str(), 0755);
    int input[2];
    ASSERT_EQ(0, pipe(input));
    const pid_t kalsay = fork();
    if (kalsay == 0) {
        dup2(input[0], 0);
        execl((host.folder + "kalsay").c_str(), "kalsay", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(input[0]);
    std::vector<pid_t> helpers;
    for (int i = 0; i < 10000 && helpers.empty(); ++i) {
        helpers = ChildrenNamed(kalsay, "kal_helper");
        usleep(1000);
    }
    ASSERT_EQ(1u, helpers.size()) << "kalsay's first call starts one helper";
    kill(kalsay, SIGKILL);
    waitpid(kalsay, nullptr, 0);
    close(input[1]);
    const Clock::time_point killed = Clock::now();
    while (!Ended(helpers[0]) && Clock::now() - killed < std::chrono::seconds(10)) usleep(1000);
    EXPECT_TRUE(Ended(helpers[0])) << "the helper outlived its host";
    if (!Ended(helpers[0])) kill(helpers[0], SIGKILL);
}

// Without kal_helper every export answers as without an engine, and kal.pro
// says why (before, nothing was written at any DEBUG level).
TEST(IsolationStartTest, AMissingHelperSaysWhyInTheProtocol) {
    IsolatedHost host("IsoNoHelper", THREADED_ENGINE_FILE, "threaded_engine.so", kThreadedIni);
    unlink((host.folder + "kal_helper").c_str());
    host.Load();
    EXPECT_EQ(-1, host.Initialize());
    EXPECT_EQ(0, host.Synth(u"niemand", 1));
    const std::string protocol = ReadFileText(host.folder + "kal.pro");
    EXPECT_NE(std::string::npos, protocol.find("ERR:: Sprachausgabe-Prozess nicht gestartet: cannot start "))
        << protocol;
    host.Unload();
}
