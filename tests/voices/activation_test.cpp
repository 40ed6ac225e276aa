// Voice activation in steps: the profile's settings, the engine's voice, the
// parameters. Each row checks what an activation leaves behind when it stops
// early or the engine rejects a selection.
#include <string>
#include <vector>

#include "engine/engine.h"
#include "support/driver_fixture.h"
#include "support/fake_engine.h"
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
        int32_t expected;
        std::vector<std::string> params;
    } rows[] = {
        {"no engine: the settings are read, nothing is sent", false, 11, 0, -1, {}},
        {"a language beyond the list: nothing is sent", true, 21, 0, -1, {}},
        {"a negative voice id", true, -1, 0, -1, {}},
        {"accepted", true, 11, 0, 0, kAllParameters},
        {"rejected: the parameters still follow", true, 11, 7, 0, kAllParameters},
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
