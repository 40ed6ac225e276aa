#include "support/driver_fixture.h"


#include <cstring>

#include "config/config.h"
#include "config/config_testing.h"
#include "driver/driver.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "speech/speech.h"
#include "speech/speech_testing.h"
#include "support/files.h"
#include "voices/voices.h"
#include "voices/voices_testing.h"

void ResetDriverState(const std::string& folder, int debugLevel) {
    EngineSessionReset();
    QueueClear();
    speakingMark = 0;
    PlaybackState = Idle;
    VoiceCatalogueClear();
    CurrentVoiceId = 0;
    IntakeSetCodePage(0);
    NotificationsSetHostCallback(nullptr);
    NotificationsOpenToHost(true);
    SynthEventRecord = KalSynthEvent{};
    memset(VoiceList, 0, sizeof VoiceList);
    ConfigSetModuleFolder(folder.c_str());
    ProfileSetPath((folder + "kal.ini").c_str());
    LogTestingSetPath((folder + "kal.pro").c_str());
    LogSetLevel(debugLevel);
}

void DriverTest::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name)  // parameterised tests have slashes in their names
        if (c == '/') c = '_';
    folder = FreshFolder(name);
    ResetDriverState(folder, 4);
}

void DriverTest::TearDown() { ResetDriverState(folder, 0); }

std::vector<std::string> DriverTest::Protocol() const { return ReadLines(folder + "kal.pro"); }

std::string DriverTest::Profile(const char* section, const char* key) const {
    return ReadProfileValue(folder, section, key);
}

void DriverTest::SetProfile(const char* section, const char* key, const char* value) const {
    WriteProfileValue(folder, section, key, value);
}

bool Eventually(const std::function<bool()>& done, uint32_t limitMs) {
    const uint32_t started = PlatformTickCount();
    for (;;) {
        if (done()) return true;
        if (PlatformTickCount() - started >= limitMs) return false;
        PlatformSleep(1);
    }
}
