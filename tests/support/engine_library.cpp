#define KAL_BUILDING_DRIVER  // the exports are linked into the test, not imported
#include "support/engine_library.h"

#include "engine/engine.h"
#include "kal_drv.h"
#include "platform/platform.h"
#include "speech/speech.h"
#include "speech/speech_testing.h"
#include "support/files.h"

void EngineLibraryTest::SetUp() {
    DriverTest::SetUp();
    CopyFileTo(BuildPath(THREADED_ENGINE_FILE), folder + "nalvoapi.dll");
    SpeechTestingSetTimings({0, 1, 1, 1});
}

void EngineLibraryTest::TearDown() {
    kal_Terminate();
    ReleaseEngineLibrary();
    SpeechTestingSetTimings(kShippedSpeechTimings);
    DriverTest::TearDown();
}

bool EngineLibraryTest::Start() {
    const bool started = kal_Initialize() != -1;
    Bind();
    if (control) reset();
    return started && control;
}

void EngineLibraryTest::Bind() {
    control = nullptr;
    if (!Engine.engineLibrary) return;
    auto bind = [](const char* name) { return PlatformLibraryEntry(Engine.engineLibrary, name); };
    control = reinterpret_cast<ThreadedEngineControlFn>(bind("threaded_engine_control"))();
    seen = reinterpret_cast<ThreadedEngineSeenFn>(bind("threaded_engine_seen"));
    lastText = reinterpret_cast<ThreadedEngineLastTextFn>(bind("threaded_engine_last_text"));
    reset = reinterpret_cast<ThreadedEngineResetFn>(bind("threaded_engine_reset"));
    notify = reinterpret_cast<ThreadedEngineNotifyFn>(bind("threaded_engine_notify"));
}

std::string EngineLibraryTest::LastText() const {
    char text[256];
    lastText(text, sizeof text);
    return text;
}
