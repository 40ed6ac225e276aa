#include "config/config.h"
#include "driver/driver.h"
#include "engine/engine.h"
#include "speech/speech.h"
#include "voices/voices.h"

int32_t GoInitSpeech() {
    if (!Engine.initialised) {
        // Every voice reads and fills its entries: one parse of kal.ini and one
        // rewrite at the end instead of one each, which grew with the square of the voices.
        ProfileBatchScope profileBatch;
        if (BeginEngineSession(CbOutNotify) != 0) return -1;
        RegisterEngineVoices();
        CompleteEngineSession();
    }
    // Also after an unload that pinned the driver, which closed them (the engine
    // may even have stayed open, after an unload from inside the callback).
    NotificationsOpenToHost(true);
    return 0;
}

int32_t LifecycleInitialize() {
    LogWrite(LOG_HOST, "kal_Initialize");
    if (!Engine.initialised) {
        // A new start-up frees the engine library first: no engine thread may
        // still be on its way back through the driver into it.
        if (Engine.engineLibrary) WaitForOtherNotifications(kNotificationDrainMs);
        GoInitSpeech();
        if (Engine.initialised) NotificationsOpenToHost(true);
    }
    if (!Engine.initialised) return -1;
    return EngineSampleRateHz();
}

int32_t LifecycleTerminate() {
    LogWrite(LOG_HOST, "Terminate");
    QueueClear();
    ShutdownEngine();
    return 0;
}
