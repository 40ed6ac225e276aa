// The driver's profile reads against the system's own profile routines: every
// corpus file is read and filled the old way (a presence read, then the value
// or the default written, straight through the system), with the driver's single
// reads, and through the start-up's batch; the values read and the file's bytes
// must be the same.
#include <windows.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "config/config.h"
#include "config/config_testing.h"
#include "platform/profile_text.h"
#include "support/driver_fixture.h"
#include "support/files.h"

namespace {

struct CorpusFile {
    const char* label;
    std::string bytes;
    bool exists;
    bool batchTakes;  // whether the in-memory copy takes the file (else the system is used)
};

std::string LongLine(char c, size_t n) { return std::string(n, c); }

std::vector<CorpusFile> Corpus() {
    const std::string complete =
        "[Default]\r\nApi=nalvoapi.dll\r\nDEBUG=0\r\n[Nalvo Deutsch Anna]\r\nName=Anna\r\nLang=49\r\n"
        "CodePage=1252\r\n[Gender]\r\nAnna=2\r\n";
    return {
        {"missing file", "", false, true},
        {"empty file", "", true, true},
        {"complete", complete, true, true},
        {"LF line ends", "[Default]\nApi=other.dll\n[Nalvo Deutsch Anna]\nLang=7\n", true, true},
        {"no final line end", "[Default]\r\nDEBUG=0\r\n[S]\r\nNum=12", true, true},
        {"spaces around equals", "[ Default ]\r\n[Default]\r\n  Api  =   spaced.dll   \r\n\tLang\t=\t3\t\r\n", true, true},
        {"section names with blanks", "[ Default]\r\nApi=a\r\n[S \t]\r\nKey=k\r\n[ Gender ]\r\n", true, true},
        {"duplicate sections and keys",
         "[S]\r\nKey=first\r\nkey=second\r\n[s]\r\nKey=third\r\nOther=4\r\n[Default]\r\nApi=a\r\nAPI=b\r\n", true, true},
        {"quotes", "[S]\r\nQuoted=\"text\"\r\nSingle='x'\r\nMixed=\"x'\r\nLone=\"\r\nEmptyQ=\"\"\r\nNum=\"12\"\r\n", true, true},
        {"comments and lines without equals",
         "; a comment\r\n[Default]\r\n;Api=commented.dll\r\nDEBUG\r\n# hash\r\nrandom text here\r\n=nameless\r\n=again\r\n", true, true},
        {"keys before any section", "Api=top.dll\r\n[Default]\r\nDEBUG=1\r\n", true, true},
        {"odd headers", "[]\r\nLost=1\r\n[unclosed\r\n[Nalvo Deutsch Anna] trailing\r\nName=A]b\r\n[a]b]\r\nK=v\r\n", true, true},
        {"blank lines and empty values", "\r\n\r\n[S]\r\n\r\nEmpty=\r\nBlank=   \r\n\r\n\r\n[Default]\r\n", true, true},
        {"very long lines and values",
         "[S]\r\nLong=" + LongLine('v', 5000) + "\r\n" + LongLine('k', 3000) + "=x\r\nNum=" + LongLine('9', 40) + "\r\n", true, true},
        {"numbers", "[Ints]\r\nA= 12\r\nB=+5\r\nC=-17\r\nD=0x1F\r\nE=0X1F\r\nF=0b101\r\nG=0o17\r\nH=99999999999\r\n"
                    "I=12abc\r\nJ=abc\r\nK=-\r\nL=0x\r\nM=-0x10\r\nN=\"42\"\r\nO=2147483648\r\nP=-2147483649\r\nQ=007\r\n"
                    "R=\"00000000000000000000000000009\"\r\nS=000000000000000000000000000009\r\n", true, true},
        {"beyond ASCII", "[Default]\r\nApi=caf\xe9.dll\r\n", true, false},
        {"control bytes", "[Default]\r\nApi=x\x01y\r\n", true, false},
        {"lone CR", "[Default]\rApi=x.dll\r", true, false},
    };
}

enum Kind { String, Number };
struct Step {
    Kind kind;
    const char* section;
    const char* key;
    const char* fallback;  // for numbers: the fallback's decimal text
};

// A start-up's reads for two voices, then reads of what the corpus holds.
const Step kScript[] = {
    {String, "Default", "Api", "nalvoapi.dll"},
    {Number, "Default", "DEBUG", "0"},
    {String, "Nalvo Deutsch Anna", "Name", "Nalvo Deutsch Anna"},
    {Number, "Nalvo Deutsch Anna", "Lang", "0"},
    {Number, "Nalvo Deutsch Anna", "CodePage", "0"},
    {Number, "Gender", "Nalvo Deutsch Anna", "0"},
    {String, "Nalvo English Daniel", "Name", "Nalvo English Daniel"},
    {Number, "Nalvo English Daniel", "Lang", "0"},
    {Number, "Nalvo English Daniel", "CodePage", "0"},
    {Number, "gender", "Nalvo English Daniel", "0"},
    {String, "S", "Key", "d"},   {String, "s", "OTHER", "d"}, {String, "S", "Quoted", "d"},
    {String, "S", "Single", "d"}, {String, "S", "Mixed", "d"}, {String, "S", "Lone", "d"},
    {String, "S", "EmptyQ", "d"}, {Number, "S", "Num", "3"},  {String, "S", "Empty", "e"},
    {String, "S", "Blank", "b"},  {String, "S", "Long", "d"}, {Number, "Default", "Lang", "8"},
    {String, "", "Api", "top-level"}, {String, "Nalvo Deutsch Anna", "Name", "again"},
    {String, "New", "Quoted", "\"quoted default\""}, {String, "New", "Quoted", "other"},
    {Number, "Ints", "A", "5"}, {Number, "Ints", "B", "5"}, {Number, "Ints", "C", "5"},
    {Number, "Ints", "D", "5"}, {Number, "Ints", "E", "5"}, {Number, "Ints", "F", "5"},
    {Number, "Ints", "G", "5"}, {Number, "Ints", "H", "5"}, {Number, "Ints", "I", "5"},
    {Number, "Ints", "J", "5"}, {Number, "Ints", "K", "5"}, {Number, "Ints", "L", "5"},
    {Number, "Ints", "M", "5"}, {Number, "Ints", "N", "5"}, {Number, "Ints", "O", "5"},
    {Number, "Ints", "P", "5"}, {Number, "Ints", "Q", "5"}, {Number, "Ints", "R", "5"},
    {Number, "Ints", "S", "5"}, {Number, "Ints", "Missing", "-9"},
    {String, "Default", "Spaced", "trailing blanks   "},  // ends the batch: read back trimmed
    {String, "Default", "After", "written call by call"},
};

std::string Shown(int32_t result, const std::string& out) {
    return std::to_string(result) + " " + out.substr(0, out.find('\0')) + "|" + out.substr(2048);
}

// One step the way the driver did it before the batch existed, straight through
// the system: a presence read, then the value read or the default written.
std::string SystemStep(const Step& step) {
    char presence[80];
    const bool present =
        GetPrivateProfileStringA(step.section, step.key, "", presence, sizeof presence, ProfileTestingPath()) != 0;
    if (step.kind == Number) {
        if (!present) WritePrivateProfileStringA(step.section, step.key, step.fallback, ProfileTestingPath());
        const int32_t value = present ? static_cast<int32_t>(GetPrivateProfileIntA(
                                            step.section, step.key, atoi(step.fallback), ProfileTestingPath()))
                                      : atoi(step.fallback);
        return std::to_string(present ? 0 : 1) + " " + std::to_string(value);
    }
    std::string out(2100, '#');
    if (present) {
        GetPrivateProfileStringA(step.section, step.key, step.fallback, &out[0], 2048, ProfileTestingPath());
    } else {
        WritePrivateProfileStringA(step.section, step.key, step.fallback, ProfileTestingPath());
        snprintf(&out[0], 2048, "%s", step.fallback);
    }
    return Shown(present ? 0 : 1, out);
}

std::string DriverStep(const Step& step) {
    if (step.kind == Number) {
        int32_t value = 0x5A5A5A5A;
        const int32_t result = ProfileGetInt(step.key, &value, atoi(step.fallback), step.section);
        return std::to_string(result) + " " + std::to_string(value);
    }
    std::string out(2100, '#');
    const int32_t result = ProfileGetString(step.key, &out[0], 2048, step.fallback, step.section);
    return Shown(result, out);
}

struct Outcome {
    std::vector<std::string> results;
    std::string file;
    bool fileExists;
};

enum Way { System, DriverCalls, DriverBatch };

Outcome RunScript(const std::string& folder, const CorpusFile& corpus, Way way, bool& batchTook, size_t steps) {
    ProfileSetPath((folder + "kal.ini").c_str());
    if (corpus.exists) WriteFileText(ProfileTestingPath(), corpus.bytes);
    batchTook = way == DriverBatch && ProfileBatchBegin();
    Outcome outcome;
    for (size_t i = 0; i < steps; ++i)
        outcome.results.push_back(way == System ? SystemStep(kScript[i]) : DriverStep(kScript[i]));
    if (way == DriverBatch) ProfileBatchEnd();
    outcome.fileExists = FileExists(ProfileTestingPath());
    outcome.file = ReadFileText(ProfileTestingPath());
    return outcome;
}

void ExpectSame(const Outcome& expected, const Outcome& actual, const std::string& label) {
    ASSERT_EQ(expected.results.size(), actual.results.size()) << label;
    for (size_t i = 0; i < expected.results.size(); ++i)
        EXPECT_EQ(expected.results[i], actual.results[i])
            << label << ", step " << i << ": [" << kScript[i].section << "] " << kScript[i].key;
    EXPECT_EQ(expected.fileExists, actual.fileExists) << label;
    EXPECT_EQ(expected.file, actual.file) << label;
}

using ProfileBatchTest = DriverTest;

TEST_F(ProfileBatchTest, EveryCorpusFileReadsAndFillsAsCallByCall) {
    const size_t all = sizeof kScript / sizeof kScript[0];
    // Once the whole script (its end leaves the batch early), once only the
    // part the batch answers to its end.
    for (size_t steps : {all, all - 2}) {
        const std::vector<CorpusFile> corpusFiles = Corpus();
        for (size_t row = 0; row < corpusFiles.size(); ++row) {
            const CorpusFile& corpus = corpusFiles[row];
            const std::string label = std::string(corpus.label) + ", " + std::to_string(steps) + " steps";
            const std::string name = "ProfileBatch-" + std::to_string(steps) + "-" + std::to_string(row);
            bool took = false;
            const Outcome expected = RunScript(FreshFolder(name + "-system"), corpus, System, took, steps);
            const Outcome calls = RunScript(FreshFolder(name + "-calls"), corpus, DriverCalls, took, steps);
            const Outcome batched = RunScript(FreshFolder(name + "-batch"), corpus, DriverBatch, took, steps);
            EXPECT_EQ(corpus.batchTakes, took) << label;
            ExpectSame(expected, calls, label + ", one read per call");
            ExpectSame(expected, batched, label + ", batch");
        }
    }
}

// Another thread writes while a start-up's batch is open: it goes to the system
// at once, and the batch, finding the file changed, writes its own entries one by
// one after it instead of putting back the bytes it began with.
TEST_F(ProfileBatchTest, AWriteFromAnotherThreadIsKeptAndTheBatchReplaysItsOwn) {
    const char* start = "[Default]\r\nDEBUG=0\r\n";
    const size_t steps = 10;  // the two voices' entries
    auto otherThread = [] {
        std::thread([] {
            char value[16];
            ProfileGetString("0041", value, sizeof value, "A", "CharName");
        }).join();
    };
    WriteFileText(folder + "system.ini", start);
    ProfileSetPath((folder + "system.ini").c_str());
    otherThread();
    for (size_t i = 0; i < steps; ++i) SystemStep(kScript[i]);
    const std::string expected = ReadFileText(ProfileTestingPath());

    WriteFileText(folder + "kal.ini", start);
    ProfileSetPath((folder + "kal.ini").c_str());
    ASSERT_TRUE(ProfileBatchBegin());
    EXPECT_FALSE(ProfileBatchBegin()) << "one batch at a time";
    for (size_t i = 0; i < steps / 2; ++i) DriverStep(kScript[i]);
    otherThread();
    EXPECT_EQ("[Default]\r\nDEBUG=0\r\n[CharName]\r\n0041=A\r\n", ReadFileText(ProfileTestingPath()))
        << "the other thread's write is on disk at once, the batch's are not yet";
    for (size_t i = steps / 2; i < steps; ++i) DriverStep(kScript[i]);
    ProfileBatchEnd();
    ProfileBatchEnd();  // a second end does nothing
    EXPECT_EQ(expected, ReadFileText(ProfileTestingPath()));
}

// A scope inside another keeps the outer batch open: its writes reach the file
// only when the outer scope ends.
TEST_F(ProfileBatchTest, AnInnerScopeLeavesTheOuterBatchOpen) {
    WriteFileText(ProfileTestingPath(), "[Default]\r\nDEBUG=0\r\n");
    char value[32];
    {
        ProfileBatchScope outer;
        {
            ProfileBatchScope inner;
            ProfileGetString("Api", value, sizeof value, "nalvoapi.dll", "Default");
        }
        EXPECT_EQ("[Default]\r\nDEBUG=0\r\n", ReadFileText(ProfileTestingPath())) << "still in the outer batch";
    }
    EXPECT_EQ("[Default]\r\nDEBUG=0\r\nApi=nalvoapi.dll\r\n", ReadFileText(ProfileTestingPath()));
}

// The in-memory copy alone, against the system, for every entry of every file
// it takes, through buffers from one character up (the system cuts a quoted
// value that just fits one character short) and as numbers.
TEST_F(ProfileBatchTest, InMemoryReadsMatchTheSystemForEveryEntry) {
    const uint32_t sizes[] = {1, 2, 3, 4, 5, 6, 30, 31, 80, 2048};
    const std::vector<CorpusFile> corpusFiles = Corpus();
    for (size_t row = 0; row < corpusFiles.size(); ++row) {
        const CorpusFile& corpus = corpusFiles[row];
        if (!corpus.batchTakes || !corpus.exists) continue;
        const std::string path = FreshFolder("ProfileText-" + std::to_string(row)) + "kal.ini";
        WriteFileText(path, corpus.bytes);
        ProfileText text;
        ASSERT_TRUE(text.Load(corpus.bytes, true)) << corpus.label;
        for (const Step& step : kScript) {
            for (uint32_t size : sizes) {
                std::string system(size + 8, '#'), model(size + 8, '#');
                const DWORD n = GetPrivateProfileStringA(step.section, step.key, "  \"def\"  ", &system[0], size,
                                                         path.c_str());
                EXPECT_EQ(n, text.GetString(step.section, step.key, "  \"def\"  ", &model[0], size))
                    << corpus.label << " [" << step.section << "] " << step.key << " size " << size;
                EXPECT_EQ(system, model) << corpus.label << " [" << step.section << "] " << step.key << " size " << size;
            }
            EXPECT_EQ(static_cast<int32_t>(GetPrivateProfileIntA(step.section, step.key, -77, path.c_str())),
                      text.GetInt(step.section, step.key, -77))
                << corpus.label << " [" << step.section << "] " << step.key;
        }
    }
}

}  // namespace
