#include "config/config.h"
#include "driver/driver.h"
#include "engine/engine.h"
#include "speech/speech.h"
#include "voices/voices.h"

Outcome GoInitSpeech() {
    if (!Engine.initialised) {
        // Every voice reads and fills its entries: one parse of kal.ini and one
        // rewrite at the end instead of one each, which grew with the square of the voices.
        ProfileBatchScope profileBatch;
        const Outcome started = BeginEngineSession(CbOutNotify);
        if (started != Outcome::Ok) return started;
        RegisterEngineVoices();
        CompleteEngineSession();
    }
    // Also after an unload that pinned the driver, which closed them (the engine
    // may even have stayed open, after an unload from inside the callback).
    NotificationsOpenToHost(true);
    return Outcome::Ok;
}

int32_t LifecycleInitialize() {
    LogWrite(LOG_HOST, "kal_Initialize");
    if (!Engine.initialised) {
        // A new start-up frees the engine library first: no engine thread may
        // still be on its way back through the driver into it.
        if (Engine.engineLibrary) WaitForOtherNotifications(kNotificationDrainMs);
        // Its outcome is in the protocol; whether the session runs is read below.
        (void)GoInitSpeech();
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
