// The native product against what a desktop throws at it: hostile texts,
// damaged data, files that are not files, forks and second copies. Each row
// is a fault seen before; the host's process must go on and speak.
#define KAL_BUILDING_DRIVER
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "engine/engine.h"
#include "espeakengine/config.h"
#include "espeakengine/espeak_support.h"
#include "kal_drv.h"
#include "support/files.h"
#include "support/text16.h"

extern char** environ;

namespace {
constexpr uint32_t kSpeakLimitMs = 30000;
constexpr double kSpeechRms = 500;
// A child process that has not ended this long after it should have hangs.
constexpr auto kChildEndLimit = std::chrono::seconds(20);
// The children of a fork only exit: that is quick, or it hangs.
constexpr auto kForkedExitLimit = std::chrono::seconds(5);
constexpr auto kWhileSpeaking = std::chrono::milliseconds(300);

// Waits for pid until limit; kills it when it is still there. Its exit code,
// or -1 when it had to be killed or died by a signal.
int WaitOrKill(pid_t pid, std::chrono::steady_clock::duration limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > until) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs one test of this executable in a new process, where no driver and no
// eSpeak NG is loaded yet, with KAL_TEST_CHILD=folder and the extra
// environment; its output goes to folder/child.txt. Its exit code (0: passed).
int RunChild(const std::string& test, const std::string& folder, const std::vector<std::string>& extra) {
    std::vector<std::string> environment = extra;
    environment.push_back("KAL_TEST_CHILD=" + folder);
    for (char** e = environ; *e; ++e) environment.push_back(*e);
    const std::string filter = "--gtest_filter=" + test;
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return -1;
    self[n] = '\0';
    std::vector<char*> argv{self, const_cast<char*>(filter.c_str()), nullptr}, envp;
    for (std::string& e : environment) envp.push_back(&e[0]);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, (folder + "child.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, self, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? WaitOrKill(pid, kChildEndLimit) : -1;
}

// The child's folder, or null in the ordinary run (the test is then skipped).
const char* ChildFolder() { return getenv("KAL_TEST_CHILD"); }

// A copy of the native product (driver, helper, engine, kal.ini,
// espeakengine.ini) in folder, as a second installation would be. These tests
// pin what the driver and the engine do in the host's own process, so the
// copy's kal.ini turns the product's isolation off unless `isolated`.
void CopyProduct(const std::string& folder, bool isolated = false) {
    std::filesystem::create_directories(folder);
    for (const char* file : {"libkal_drv.so", "kal_helper", "nalvoapi.so", "kal.ini", "espeakengine.ini"})
        CopyFileTo(BuildPath(std::string("product/") + file), folder + file);
    std::filesystem::permissions(folder + "kal_helper", std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    std::string profile = ReadFileText(folder + "kal.ini");
    const size_t at = profile.find("Isolation=1");
    if (!isolated && at != std::string::npos) profile[at + 10] = '0';
    WriteFileText(folder + "kal.ini", profile);
}

// The exports a child test calls, from one copy of libkal_drv.so.
struct Driver {
    explicit Driver(const std::string& path) : library(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (!library) return;
        initialize = reinterpret_cast<decltype(initialize)>(dlsym(library, "kal_Initialize"));
        terminate = reinterpret_cast<decltype(terminate)>(dlsym(library, "kal_Terminate"));
        synth = reinterpret_cast<decltype(synth)>(dlsym(library, "kal_Synth"));
        synchronize = reinterpret_cast<decltype(synchronize)>(dlsym(library, "kal_Synchronize"));
        setVoice = reinterpret_cast<decltype(setVoice)>(dlsym(library, "kal_SetVoiceByName"));
    }
    void* library;
    decltype(&kal_Initialize) initialize = nullptr;
    decltype(&kal_Terminate) terminate = nullptr;
    decltype(&kal_Synth) synth = nullptr;
    decltype(&kal_Synchronize) synchronize = nullptr;
    decltype(&kal_SetVoiceByName) setVoice = nullptr;
};

class HostileTest : public EspeakTest {
protected:
    size_t CountEnds() {
        size_t n = 0;
        for (const SynthEventSeen& e : Events()) n += e.message == KAL_MSG_END;
        return n;
    }
    // Speaks one text and gives the audio of that text alone (false: no end came).
    bool SpeakOne(const Text16& text, Audio& audio) {
        const size_t before = ReadWav(wavPath).samples.size();
        const size_t ends = CountEnds();
        kal_Synth(text.c_str(), 1);
        if (!WaitFor([&] { return CountEnds() > ends; }, kSpeakLimitMs)) return false;
        audio = ReadWav(wavPath);
        audio.samples.erase(audio.samples.begin(), audio.samples.begin() + static_cast<long>(before));
        return true;
    }
};

// Latin-1 UTF-8 (the test files' encoding) as the host's UTF-16.
Text16 Utf16FromLatin1Utf8(const std::string& text) {
    Text16 out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xE0) == 0xC0 && i + 1 < text.size()) {
            out += static_cast<kal_char16>((c & 0x1F) << 6 | (static_cast<unsigned char>(text[++i]) & 0x3F));
        } else {
            out += static_cast<kal_char16>(c);
        }
    }
    return out;
}

TEST_F(HostileTest, EmbeddedCommandsInHostTextChangeNoSetting) {
    ASSERT_TRUE(Start());
    kal_SetVoiceByName("Deutsch");
    const Text16 sentence = T16("Guten Tag, dies ist ein ganz gew\u00f6hnlicher Satz.");
    Audio plain;
    ASSERT_TRUE(SpeakOne(sentence, plain));
    ASSERT_GT(plain.Rms(), kSpeechRms);
    // Control-A starts eSpeak NG's commands: 0A silences, 400S speeds up, for
    // this text and every later one.
    const struct {
        const char* label;
        Text16 text;
    } rows[] = {
        {"volume 0", T16("\x01") T16("0A Hallo.")},
        {"rate 400", T16("\x01") T16("400S Hallo.")},
        {"pitch and voice", T16("Hallo \x01") T16("99P \x01") T16("5Y.")},
    };
    for (const auto& row : rows) {
        Audio injected, after;
        ASSERT_TRUE(SpeakOne(row.text, injected)) << row.label;
        ASSERT_TRUE(SpeakOne(sentence, after)) << row.label;
        EXPECT_GT(after.Rms(), plain.Rms() * 0.8) << row.label;
        EXPECT_NEAR(plain.Seconds(), after.Seconds(), plain.Seconds() * 0.1) << row.label;
    }
    for (const std::string& given : TextsGiven()) EXPECT_EQ(std::string::npos, given.find('\x01')) << given;
}

TEST_F(HostileTest, TextsThatAbortESpeakNgAreSpokenAndEnd) {
    std::ifstream file(std::string(KAL_SOURCE_DIR) + "/tests/espeakengine/aborting_texts.txt");
    ASSERT_TRUE(file.good());
    ASSERT_TRUE(Start());
    kal_SetVoiceByName("Deutsch");
    std::string line;
    int texts = 0;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t star = line.find('*');
        ASSERT_NE(std::string::npos, star) << line;
        std::string text;
        for (int i = std::stoi(line.substr(0, star)); i > 0; --i) text += line.substr(star + 1);
        Audio audio;
        ASSERT_TRUE(SpeakOne(Utf16FromLatin1Utf8(text), audio)) << line;
        EXPECT_GT(audio.Seconds(), 1.0) << line;
        ++texts;
    }
    EXPECT_GE(texts, 5);
}
}  // namespace

namespace {
// Loaded by a relative path, the driver finds its own folder, also after the
// host changed its current folder.
TEST(HostileChild, LoadedByARelativePath) {
    if (!ChildFolder()) GTEST_SKIP() << "runs in a child process of LoadedByARelativePathTheDriverFindsItself";
    const std::string folder = ChildFolder();
    ASSERT_EQ(0, chdir(folder.c_str()));
    Driver driver("drv/libkal_drv.so");
    ASSERT_TRUE(driver.library) << dlerror();
    ASSERT_EQ(0, chdir("/"));
    EXPECT_NE(-1, driver.initialize());
    driver.setVoice("English");
    driver.synth(T16("Found."), 1);
    driver.synchronize();
    driver.terminate();
    EXPECT_GT(ReadWav(folder + "drv/espeak.wav").Seconds(), 0.2);
}

TEST(HostileProcess, LoadedByARelativePathTheDriverFindsItself) {
    const std::string besideProgram = BuildPath("tests/kal.ini");
    const bool wasThere = FileExists(besideProgram);
    // In isolated mode the helper must be found beside the driver too.
    for (const bool isolated : {false, true}) {
        const std::string folder = FreshFolder(isolated ? "RelativeLoadIsolated" : "RelativeLoad");
        CopyProduct(folder + "drv/", isolated);
        EXPECT_EQ(0, RunChild("HostileChild.LoadedByARelativePath", folder, {}))
            << (isolated ? "isolated: " : "in-process: ") << ReadFileText(folder + "child.txt");
    }
    if (!wasThere) EXPECT_FALSE(FileExists(besideProgram)) << "a kal.ini was written beside the host's program";
}

// After fork, a child that only exits ends, while the parent's engine speaks.
TEST(HostileChild, ForkedChildrenExit) {
    if (!ChildFolder()) GTEST_SKIP() << "runs in a child process of AChildOfForkThatOnlyExitsEnds";
    const std::string folder = ChildFolder();
    Driver driver(folder + "drv/libkal_drv.so");
    ASSERT_TRUE(driver.library) << dlerror();
    ASSERT_NE(-1, driver.initialize());
    driver.setVoice("Deutsch");
    driver.synth(T16("Ein langer Satz, der noch gesprochen wird, w\u00e4hrend der Host sich teilt, "
                     "und danach weiter gesprochen wird."), 1);
    for (int round = 0; round < 4; ++round) {
        std::this_thread::sleep_for(kWhileSpeaking);
        const pid_t child = fork();
        if (child == 0) exit(0);
        ASSERT_GT(child, 0);
        EXPECT_EQ(0, WaitOrKill(child, kForkedExitLimit)) << "round " << round;
    }
    driver.synchronize();
    driver.terminate();
    EXPECT_GT(ReadWav(folder + "drv/espeak.wav").Seconds(), 2.0) << "the parent spoke on";
}

TEST(HostileProcess, AChildOfForkThatOnlyExitsEnds) {
    const std::string folder = FreshFolder("ForkExit");
    CopyProduct(folder + "drv/");
    // A forked child keeps its copy of what the parent's engine thread held
    // and leaves it: under AddressSanitizer that is no leak to report.
    const char* asan = getenv("ASAN_OPTIONS");
    const std::string noLeakCheck = std::string("ASAN_OPTIONS=") + (asan ? asan : "") + ":detect_leaks=0";
    EXPECT_EQ(0, RunChild("HostileChild.ForkedChildrenExit", folder, {"KAL_ESPEAK_PACE=realtime", noLeakCheck}))
        << ReadFileText(folder + "child.txt");
}

// Two copies of the product in one process: eSpeak NG is one library, so the
// second copy is refused with a clear error, and the first speaks on.
TEST(HostileChild, TwoCopies) {
    if (!ChildFolder()) GTEST_SKIP() << "runs in a child process of ASecondCopyInTheProcessIsRefused";
    const std::string folder = ChildFolder();
    Driver first(folder + "a/libkal_drv.so");
    Driver second(folder + "b/libkal_drv.so");
    ASSERT_TRUE(first.library && second.library) << dlerror();
    ASSERT_NE(first.initialize, second.initialize) << "one library, not two copies";
    EXPECT_NE(-1, first.initialize());
    EXPECT_EQ(-1, second.initialize());
    first.setVoice("English");
    first.synth(T16("The first copy speaks."), 1);
    first.synchronize();
    second.synth(T16("The second copy does not."), 1);
    second.synchronize();
    first.terminate();
    second.terminate();
    EXPECT_GT(ReadWav(folder + "a/espeak.wav").Seconds(), 0.5);
    EXPECT_EQ(0.0, ReadWav(folder + "b/espeak.wav").Seconds());
}

TEST(HostileProcess, ASecondCopyInTheProcessIsRefused) {
    const std::string folder = FreshFolder("TwoCopies");
    CopyProduct(folder + "a/");
    CopyProduct(folder + "b/");
    WriteProfileValue(folder + "b/", "Default", "DEBUG", "4");
    // The engine says why only where it is told to: here, the child's standard error.
    EXPECT_EQ(0, RunChild("HostileChild.TwoCopies", folder, {"KAL_ESPEAK_REPORT=stderr"}))
        << ReadFileText(folder + "child.txt");
    EXPECT_NE(std::string::npos, ReadFileText(folder + "b/kal.pro").find("init NALVO failed."));
    EXPECT_NE(std::string::npos,
              ReadFileText(folder + "child.txt").find("another copy of the driver in this process uses eSpeak NG"));
}
}  // namespace

namespace {
// A damaged data folder fails the start (kal_Initialize -1), already at the
// load, and the same process starts on a sound folder afterwards.
TEST(HostileChild, DamagedData) {
    if (!ChildFolder()) GTEST_SKIP() << "runs in a child process of ADamagedDataFolderFailsTheStart";
    const std::string folder = ChildFolder();
    Driver driver(folder + "drv/libkal_drv.so");  // its load starts the engine on the damaged data
    ASSERT_TRUE(driver.library) << dlerror();
    EXPECT_EQ(-1, driver.initialize());
    unsetenv("KAL_ESPEAK_DATA");
    EXPECT_NE(-1, driver.initialize());
    driver.terminate();
}

TEST(HostileProcess, ADamagedDataFolderFailsTheStart) {
    EngineConfig config;
    std::string error;
    ASSERT_TRUE(ReadEngineConfig("", config, error)) << error;
    std::string phontab = ReadFileText(config.data + "/phontab");
    ASSERT_GT(phontab.size(), 1000u) << config.data;
    const struct {
        const char* label;
        std::string bytes;
    } rows[] = {
        {"empty", ""},
        {"cut", phontab.substr(0, phontab.size() / 2)},
        {"zeroed", std::string(phontab.size(), '\0')},
        {"one byte short", phontab.substr(0, phontab.size() - 1)},
    };
    for (const auto& row : rows) {
        const std::string folder = FreshFolder("DamagedData");
        CopyProduct(folder + "drv/");
        const std::string data = folder + "data/";
        std::filesystem::create_directories(data);
        for (const auto& entry : std::filesystem::directory_iterator(config.data))
            if (entry.path().filename() != "phontab")
                std::filesystem::create_symlink(entry.path(), data + entry.path().filename().string());
        WriteFileText(data + "phontab", row.bytes);
        EXPECT_EQ(0, RunChild("HostileChild.DamagedData", folder, {"KAL_ESPEAK_DATA=" + data, "KAL_ESPEAK_OUTPUT=none"}))
            << row.label << ": " << ReadFileText(folder + "child.txt");
    }
}
}  // namespace

namespace {
// The first bytes of a file (it may be gigabytes long).
std::string ReadStart(const std::string& path, size_t bytes) {
    std::string out(bytes, '\0');
    std::ifstream in(path, std::ios::binary);
    in.read(&out[0], static_cast<std::streamsize>(bytes));
    out.resize(static_cast<size_t>(in.gcount()));
    return out;
}

uint32_t HeaderDataBytes(const std::string& path) {
    const std::string bytes = ReadStart(path, 44);
    if (bytes.size() < 44) return 0;
    const unsigned char* at = reinterpret_cast<const unsigned char*>(bytes.data()) + 40;
    return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24;
}

// A WAV header of 22050 Hz 16-bit mono claiming dataBytes.
std::string WavHeader(uint32_t dataBytes) {
    unsigned char h[44] = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0, 1, 0, 1, 0,
                           0x22, 0x56, 0, 0, 0x44, 0xAC, 0, 0, 2, 0, 16, 0, 'd', 'a', 't', 'a'};
    const uint32_t riff = dataBytes + 36;
    for (int i = 0; i < 4; ++i) h[4 + i] = static_cast<unsigned char>(riff >> (8 * i));
    for (int i = 0; i < 4; ++i) h[40 + i] = static_cast<unsigned char>(dataBytes >> (8 * i));
    return std::string(reinterpret_cast<char*>(h), sizeof h);
}

// A file that nearly reaches the 4 GiB a WAV header can count: the next text
// must not wrap around and land on the audio at its start.
TEST_F(HostileTest, AWavFileNearFourGibIsNotWrittenOverFromItsStart) {
    const uint32_t claimed = 0xFFFFFFFFu - 36 - 1001;  // room for 500 samples, whole ones
    WriteFileText(wavPath, WavHeader(claimed) + std::string(4096, '\x5a'));
    ASSERT_EQ(0, truncate(wavPath.c_str(), 44 + static_cast<off_t>(claimed)));  // sparse
    ASSERT_TRUE(Start());
    kal_SetVoiceByName("English");
    kal_Synth(T16("This text does not fit."), 1);
    EXPECT_TRUE(WaitFor([&] { return CountEnds() == 1; }, kSpeakLimitMs)) << "the text still ends";
    EXPECT_TRUE(std::string(4096, '\x5a') == ReadStart(wavPath, 44 + 4096).substr(44))
        << "the audio at the file's start was written over";
    // What fitted was appended and counted; the header's sizes did not wrap.
    EXPECT_GE(HeaderDataBytes(wavPath), claimed);
    EXPECT_LE(HeaderDataBytes(wavPath), 0xFFFFFFFFu - 36);
    EXPECT_EQ(44 + static_cast<uint64_t>(HeaderDataBytes(wavPath)), std::filesystem::file_size(wavPath));
}

// A second host appending to the same file would interleave with the first
// and write its header over the other's: the file is taken by one at a time.
TEST_F(HostileTest, AWavFileAnotherProcessWritesIsNotSharedAndAFullDiskIsReported) {
    WriteFileText(wavPath, "");
    const int other = open(wavPath.c_str(), O_RDWR);
    ASSERT_GE(other, 0);
    ASSERT_EQ(0, flock(other, LOCK_EX));  // as the other host's engine holds it
    EXPECT_FALSE(Start()) << "the start took a file another host writes";
    kal_Terminate();
    close(other);
    ASSERT_TRUE(Start());

    // A disk that fills up mid-text: the text ends, and the header claims only
    // what was written.
    kal_SetVoiceByName("Deutsch");
    Audio first;
    ASSERT_TRUE(SpeakOne(T16("Vorher."), first));
    struct rlimit saved;
    getrlimit(RLIMIT_FSIZE, &saved);
    struct rlimit full = saved;
    full.rlim_cur = 44 + first.samples.size() * 2 + 20000;
    signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &full);
    Audio cut;
    const bool ended = SpeakOne(T16("Dieser Satz ist viel zu lang f\u00fcr den wenigen Platz, der auf dem Datentr\u00e4ger "
                                    "noch frei ist, und er wird darum abgeschnitten."), cut);
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, SIG_DFL);
    EXPECT_TRUE(ended);
    const uint64_t size = std::filesystem::file_size(wavPath);
    EXPECT_LE(size, full.rlim_cur);
    EXPECT_EQ(size - 44, HeaderDataBytes(wavPath)) << "the header claims samples that were never written";
}

// One file per text: the numbers go on after the files an earlier run left.
TEST_F(HostileTest, PerTextFilesOfAnEarlierRunAreKept) {
    Configure({"wavmode=pertext"});
    WriteFileText(folder + "out-0001.wav", "earlier one");
    WriteFileText(folder + "out-0002.wav", "earlier two");
    ASSERT_TRUE(Start());
    kal_SetVoiceByName("English");
    kal_Synth(T16("Three."), 1);
    kal_Synchronize();
    EXPECT_TRUE(ReadFileText(folder + "out-0001.wav") == "earlier one") << "written over";
    EXPECT_TRUE(ReadFileText(folder + "out-0002.wav") == "earlier two") << "written over";
    EXPECT_GT(ReadWav(folder + "out-0003.wav").Seconds(), 0.2);
}
}  // namespace

namespace {
// The German voice's dictionary does not follow the host to an English voice
// without one.
TEST_F(HostileTest, AVoicesDictionaryDoesNotOutliveIt) {
    SetProfile("Nalvo Deutsch Standard", "DCBon", "1");
    SetProfile("Nalvo English Standard", "DCBon", "0");
    std::filesystem::create_directories(folder + "Speech");
    WriteFileText(folder + "Speech/Nalvo49.bdc", "Tag = Abend\n");
    ASSERT_TRUE(Start());
    Audio audio;
    kal_SetVoiceByName("Deutsch");
    ASSERT_TRUE(SpeakOne(T16("Guten Tag."), audio));
    kal_SetVoiceByName("English");
    ASSERT_TRUE(SpeakOne(T16("Good Tag."), audio));
    const std::vector<std::string> texts = TextsGiven();
    ASSERT_EQ(2u, texts.size());
    EXPECT_EQ("Guten Abend.", texts[0]);
    EXPECT_EQ("Good Tag.", texts[1]) << "the German replacements applied to the English voice";
}
}  // namespace
