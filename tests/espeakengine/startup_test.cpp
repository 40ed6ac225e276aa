// Start-up faults and edge texts against the eSpeak NG engine: each behaves as
// the engine contract says, and the host's process goes on.
#define KAL_BUILDING_DRIVER
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "engine/engine.h"
#include "espeakengine/espeak_support.h"
#include "kal_drv.h"
#include "support/files.h"
#include "support/text16.h"

namespace {
constexpr uint32_t kSpeakLimitMs = 20000;
// A start-up that fails must fail soon, never hang (an unreachable audio server).
constexpr auto kStartupFailsWithin = std::chrono::seconds(10);

class StartupTest : public EspeakTest {};

TEST_F(StartupTest, BadDataOrOutputFailsTheStartWithoutEndingTheProcess) {
    const std::string empty = folder + "nodata";
    std::filesystem::create_directories(empty);
    // Outputs that never open or swallow the audio: refused at once, never waited on.
    ASSERT_EQ(0, mkfifo((folder + "fifo.wav").c_str(), 0644));
    WriteFileText(folder + "notes.wav", std::string(100, 'x'));
    const struct {
        const char* label;
        std::string line;
    } rows[] = {
        {"missing data folder", "data=" + folder + "missing"},
        {"data folder without eSpeak's data", "data=" + empty},
        {"unreachable PulseAudio server", "output=pulse\npulse=unix:" + folder + "no-such-socket"},
        {"WAV file in a missing folder", "wav=" + folder + "missing/out.wav"},
        {"unknown output", "output=speakers"},
        {"a FIFO as the WAV file", "wav=fifo.wav"},
        {"a device as the WAV file", "wav=/dev/full"},
        {"a WAV file holding something else", "wav=notes.wav"},
    };
    for (const auto& row : rows) {
        Configure({row.line});
        const auto begun = std::chrono::steady_clock::now();
        EXPECT_EQ(-1, kal_Initialize()) << row.label;
        EXPECT_LT(std::chrono::steady_clock::now() - begun, kStartupFailsWithin) << row.label;
        EXPECT_FALSE(Engine.initialised) << row.label;
        kal_Terminate();
    }
    EXPECT_EQ(std::string(100, 'x'), ReadFileText(folder + "notes.wav")) << "another file is kept as it was";
    // The same process starts the engine once the configuration is sound.
    Configure({});
    EXPECT_TRUE(Start());
    EXPECT_STREQ("eSpeak NG's data folder is missing, empty or damaged", Engine.api.errorGetString(2));
}

// A library in the host's process keeps off the host's standard error unless
// its configuration asks: the reason of a failed start goes where "report" says.
TEST_F(StartupTest, AFailedStartSaysWhyOnlyWhereTheReportIsConfigured) {
    const std::string reason = "espeakengine: eSpeak NG's data folder is missing, empty or damaged";
    const struct {
        const char* label;
        const char* line;
        bool onStandardError;
        const char* file;
    } rows[] = {
        {"no report key", "", false, nullptr},
        {"report=stderr", "report=stderr", true, nullptr},
        {"a relative file", "report=engine.pro", false, "engine.pro"},
        {"a bad value with a file", "pitch=x\nreport=bad.pro", false, "bad.pro"},
    };
    for (const auto& row : rows) {
        Configure({"data=" + folder + "missing", row.line});
        testing::internal::CaptureStderr();
        EXPECT_EQ(-1, kal_Initialize()) << row.label;
        const std::string standardError = testing::internal::GetCapturedStderr();
        kal_Terminate();
        EXPECT_EQ(row.onStandardError, standardError.find("espeakengine: ") != std::string::npos)
            << row.label << ": " << standardError;
        if (row.file) {
            const std::string report = ReadFileText(folder + row.file);
            EXPECT_NE(std::string::npos, report.find(strcmp(row.file, "bad.pro") ? reason : "espeakengine: pitch"))
                << row.label << ": " << report;
        }
    }
}

TEST_F(StartupTest, AnUnknownVoiceOrLanguageIsRefusedAndSpeakingGoesOn) {
    ASSERT_TRUE(Start());
    const struct {
        uint32_t id;
        const char* text;
        int32_t result;
        const char* errorText;
    } rows[] = {
        {kParamVoice, "Nobody", 7, "unknown voice"},
        {kParamLanguage, "Klingonisch", 6, "unknown language"},
        {kParamVoice, "", 7, "unknown voice"},
        {kParamVoice, "f2", 0, nullptr},
        {kParamLanguage, "English", 0, nullptr},
    };
    for (const auto& row : rows) {
        ParamRecord param;
        memset(&param, 0x5A, sizeof param);
        param.paramId = row.id;
        snprintf(reinterpret_cast<char*>(param.paramValue), sizeof param.paramValue, "%s", row.text);
        const int32_t result =
            Engine.api.setParamList(Engine.instanceHandle.first, Engine.instanceHandle.second, &param, 1);
        EXPECT_EQ(row.result, result) << row.text;
        if (row.errorText) EXPECT_STREQ(row.errorText, Engine.api.errorGetString(result & 0xFF)) << row.text;
    }
    // The driver picks its first voice for a name it does not know; it speaks.
    kal_SetVoiceByName("Nobody");
    kal_Synth(T16("Hallo."), 1);
    kal_Synchronize();
    EXPECT_GT(ReadWav(wavPath).Seconds(), 0.2);
}

TEST_F(StartupTest, EmptyAndLongestTextsBeginAndEnd) {
    ASSERT_TRUE(Start());
    kal_SetVoiceByName("English");
    // An empty text is handed over with length 0: it begins and ends, silently.
    kal_Synth(T16(""), 1);
    kal_Synchronize();
    ASSERT_TRUE(WaitFor([&] { return Events().size() >= 2; }, kSpeakLimitMs));
    EXPECT_EQ(KAL_MSG_BEGIN, Events()[0].message);
    EXPECT_EQ(KAL_MSG_END, Events()[1].message);
    EXPECT_EQ(1u, TextsGiven().size());
    EXPECT_LT(ReadWav(wavPath).Seconds(), 0.5);

    // 4,095 characters, the most a text can have: spoken whole.
    std::string words;
    while (words.size() + 5 <= 4095) words += "word ";
    words.resize(4095, 'a');
    kal_Synth(Text16(words.begin(), words.end()).c_str(), 2);
    kal_Synchronize();
    ASSERT_TRUE(WaitFor([&] { return Events().size() >= 4; }, kSpeakLimitMs));
    EXPECT_EQ(KAL_MSG_END, Events()[3].message);
    ASSERT_EQ(2u, TextsGiven().size());
    EXPECT_EQ(4095u, TextsGiven()[1].size());
    EXPECT_GT(ReadWav(wavPath).Seconds(), 60.0) << "819 words take minutes";
}
}  // namespace
