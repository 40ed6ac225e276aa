// Voice activation in steps: the profile's settings, the engine's voice, the
// parameters. Each row checks what an activation leaves behind when it stops
// early or the engine rejects a selection.
#include <filesystem>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "support/driver_fixture.h"
#include "support/fake_engine.h"
#include "support/files.h"
#include "voices/voices.h"
#include "voices/voices_testing.h"

using ActivationTest = DriverTest;

namespace {
const std::vector<std::string> kAllParameters = {
    "param 64 English", "param 128 Petra", "param 2 70", "param 4 50", "param 1 11", "param 512 10491", "param 2048 15"};
}  // namespace

TEST_F(ActivationTest, EachStepTakesEffectUpToWhereTheActivationStops) {
    struct Row {
        const char* label;
        bool running;
        int32_t voiceId;
        int32_t selectResult;  // the engine's answer to the language and voice
        Outcome expected;
        std::vector<std::string> params;
    } rows[] = {
        {"no engine: the settings are read, nothing is sent", false, 11, 0, Outcome::NotInitialised, {}},
        {"a language beyond the list: nothing is sent", true, 21, 0, Outcome::VoiceUnknown, {}},
        {"a negative voice id", true, -1, 0, Outcome::VoiceUnknown, {}},
        {"accepted", true, 11, 0, Outcome::Ok, kAllParameters},
        {"rejected: the parameters still follow", true, 11, 7, Outcome::Ok, kAllParameters},
    };
    for (const Row& row : rows) {
        SetUp();
        SetProfile("Default", "Volume", "70");
        FakeEngine fake;
        fake.paramResult = row.selectResult;
        InstallFakeEngine(fake);
        Engine.initialised = row.running;
        Engine.rate = 3;  // as kal_SetParameter left it: the profile's value replaces it
        CurrentVoiceId = 99;
        EXPECT_EQ(row.expected, SetVoice(row.voiceId)) << row.label;
        EXPECT_EQ(row.voiceId, CurrentVoiceId) << row.label;
        EXPECT_EQ(70, Engine.volume.load()) << row.label;
        EXPECT_EQ(kDefaultRate, Engine.rate.load()) << row.label;
        EXPECT_EQ(kDefaultFrequencyCode, Engine.frequencyCode.load()) << row.label;
        EXPECT_EQ("50", Profile("Default", "Rate")) << row.label << ": a missing key is written";
        EXPECT_EQ("11", Profile("Default", "Freq")) << row.label;
        EXPECT_EQ(row.params, fake.Calls("param")) << row.label;
        TearDown();
    }
}

// The engine takes 16 bits: a value outside 0..100 must not wrap into another
// one there (Volume=65536 muted, Rate=99999 was the slowest speech).
TEST_F(ActivationTest, RateAndVolumeOutsideTheirRangeAreClampedBeforeTheEngineSeesThem) {
    const struct {
        const char* volume;
        const char* rate;
        int32_t sentVolume, sentRate;
    } profileRows[] = {
        {"65536", "99999", 100, 100},
        {"-65436", "-1", 0, 0},
        {"65", "35", 65, 35},
    };
    for (const auto& row : profileRows) {
        SetUp();
        SetProfile("Default", "Volume", row.volume);
        SetProfile("Default", "Rate", row.rate);
        FakeEngine fake;
        InstallFakeEngine(fake);
        Engine.initialised = true;
        EXPECT_EQ(Outcome::Ok, SetVoice(11)) << row.volume;
        EXPECT_EQ(row.sentVolume, Engine.volume.load()) << row.volume;
        EXPECT_EQ(row.sentRate, Engine.rate.load()) << row.rate;
        const std::vector<std::string> params = fake.Calls("param");
        ASSERT_EQ(kAllParameters.size(), params.size()) << row.volume;
        EXPECT_EQ("param 2 " + std::to_string(row.sentVolume), params[2]) << row.volume;
        EXPECT_EQ("param 4 " + std::to_string(row.sentRate), params[3]) << row.rate;
        TearDown();
    }
    // A host's value above 100 is ignored, a negative one taken as 0.
    const struct {
        int32_t value;
        int32_t kept;
        const char* sent;  // null: nothing sent
    } hostRows[] = {{-65436, 0, "param 2 0"}, {101, 0, nullptr}, {65536, 0, nullptr}, {100, 100, "param 2 100"},
                    {-1, 0, "param 2 0"}};
    FakeEngine fake;
    InstallFakeEngine(fake);
    Engine.initialised = true;
    for (const auto& row : hostRows) {
        const size_t before = fake.Calls("param").size();
        SetVolume(row.value);
        EXPECT_EQ(row.kept, Engine.volume.load()) << row.value;
        const std::vector<std::string> params = fake.Calls("param");
        if (row.sent) {
            ASSERT_EQ(before + 1, params.size()) << row.value;
            EXPECT_EQ(row.sent, params.back()) << row.value;
        } else {
            EXPECT_EQ(before, params.size()) << row.value;
        }
    }
}

// A voice's dictionary goes with it: the next voice speaks without it, whether
// it has none (DCBon=0), its file is missing, or it brings its own.
TEST_F(ActivationTest, TheLastVoicesDictionaryIsUnloadedByTheNextActivation) {
    const struct {
        const char* label;
        const char* dcbOn;
        const char* lang;
        std::vector<std::string> calls;  // dictionary calls of the second activation
    } rows[] = {
        {"DCBon=0", "0", "7", {"unloadDictionary 81"}},
        {"file missing", "1", "8", {"unloadDictionary 81"}},
        {"a dictionary of its own", "1", "7", {"unloadDictionary 81", "dictionary 10"}},
    };
    const char* const section = "Nalvo English Petra";  // voice 11 of the fake engine
    for (const auto& row : rows) {
        SetUp();
        std::filesystem::create_directories(folder + "Speech");
        WriteFileText(folder + "Speech/Nalvo07.bdc", "Tag=Abend\n");
        FakeEngine fake;
        InstallFakeEngine(fake);
        Engine.initialised = true;
        SetProfile(section, "Lang", "7");
        EXPECT_EQ(Outcome::Ok, SetVoice(11)) << row.label;
        ASSERT_EQ(std::vector<std::string>{"dictionary 10"}, fake.Calls("dictionary")) << row.label;
        SetProfile(section, "DCBon", row.dcbOn);
        SetProfile(section, "Lang", row.lang);
        const size_t before = fake.calls.size();
        EXPECT_EQ(Outcome::Ok, SetVoice(11)) << row.label;
        std::vector<std::string> calls;
        for (size_t i = before; i < fake.calls.size(); ++i)
            if (fake.calls[i].find("ictionary") != std::string::npos) calls.push_back(fake.calls[i]);
        EXPECT_EQ(row.calls, calls) << row.label;
        TearDown();
    }
}

// A dictionary the engine rejected, or threw on, is not loaded: the next
// activation must not unload it with a handle the engine never gave.
TEST_F(ActivationTest, ADictionaryTheEngineRefusedIsNotUnloadedLater) {
    const struct {
        const char* label;
        int32_t result;
        bool throws;
    } rows[] = {{"rejected", 7, false}, {"threw", 0, true}};
    const char* const section = "Nalvo English Petra";
    for (const auto& row : rows) {
        SetUp();
        std::filesystem::create_directories(folder + "Speech");
        WriteFileText(folder + "Speech/Nalvo07.bdc", "Tag=Abend\n");
        FakeEngine fake;
        fake.dictionaryResult = row.result;
        if (row.throws) fake.throwsIn.insert("dictionary");
        InstallFakeEngine(fake);
        Engine.initialised = true;
        SetProfile(section, "Lang", "7");
        EXPECT_EQ(Outcome::Ok, SetVoice(11)) << row.label;
        EXPECT_EQ(0, Engine.dictionaryLoaded) << row.label;
        SetProfile(section, "DCBon", "0");
        EXPECT_EQ(Outcome::Ok, SetVoice(11)) << row.label;
        EXPECT_TRUE(fake.Calls("unloadDictionary").empty()) << row.label;
        TearDown();
    }
}
