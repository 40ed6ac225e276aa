#include <cstdio>
#include <cstdlib>

#include "bridge/channel.h"
#include "config/config.h"
#include "driver/driver.h"
#include "engine/engine.h"
#include "speech/speech.h"
#include "platform/platform.h"
#include "voices/voices.h"

namespace {
const IsolationClient* isolated = nullptr;  // written once at process attach
}  // namespace
const IsolationClient* const& Isolated = isolated;

void ProcessAttach(const IsolationClient* client) {
    isolated = nullptr;  // a pinned image loaded again keeps its last life's value
    // The DEBUG read and the start-up share one parse of kal.ini.
    ProfileBatchScope profileBatch;
    char moduleFile[256];
    PlatformOwnModuleFileName(moduleFile, 255);
    ConfigSetModuleFolder(moduleFile);
    char profilePath[256];
    snprintf(profilePath, sizeof profilePath, "%skal.ini", ModuleFolder);
    ProfileSetPath(profilePath);
    char protocolPath[256];
    snprintf(protocolPath, sizeof protocolPath, "%skal.pro", ModuleFolder);
    int32_t debugLevel = 0;
    ProfileGetInt("DEBUG", &debugLevel, 0, "Default");
    LogSetLevel(debugLevel);
    int32_t isolation = 0;
    ProfileGetInt("Isolation", &isolation, 0, "Default");
    // The helper names its generation; its driver never isolates itself again.
    char generation[16];
    const bool inHelper = PlatformGetEnvironment(bridge::kHelperEnvironment, generation, sizeof generation);
    if (isolation != 0 && client && !inHelper) {
        // The helper's driver begins the protocol and starts the engine; this
        // one starts nothing here (the helper starts with the first export,
        // outside the loader lock); the bridge writes its lines about the
        // helper, this driver only its refusals inside the host's callback.
        isolated = client;
        LogContinue(protocolPath, nullptr);
        client->attach();
        return;
    }
    if (inHelper && atoi(generation) > 1)
        LogContinue(protocolPath, IdentificationString);  // after the protocol of the helper that died
    else
        LogOpen(protocolPath, IdentificationString);
    if (inHelper) WatchdogStart();
    // A driver pinned at its last unload keeps that life's records: no text and no
    // callback of it are left.
    QueueClear();
    NotificationsSetHostCallback(nullptr);
    // A failed start-up is in the protocol; kal_Initialize tries again.
    (void)GoInitSpeech();
}

void ProcessDetach(bool processEnding) {
    if (isolated) {
        isolated->detach(processEnding);
        return;
    }
    if (processEnding) {
        // The engine's threads are gone: closing the engine could wait for them for
        // ever, and the system frees the library itself. Only the protocol is
        // finished, and only if no vanished thread left its lock taken.
        LogNeverWait();
        LogWrite(LOG_DLL, "DLL_PROCESS_DETACH");
        LogClose();
        return;
    }
    LogWrite(LOG_DLL, "DLL_PROCESS_DETACH");
    if (NotificationRunningHere()) {
        // FreeLibrary from inside the host's callback: this thread returns through
        // the driver into the engine, and the engine cannot be closed from its own
        // notification. Both stay; the host hears nothing more.
        LogWrite(LOG_ERR, "Entladen im Callback: Treiber und Sprachausgabe bleiben geladen");
        NotificationsOpenToHost(false);
        PlatformPinOwnModule();
        LogClose();
        return;
    }
    ShutdownEngine();
    if (Engine.engineLibrary && !WaitForOtherNotifications(kNotificationDrainMs)) {
        // A notification (the host's callback, most likely) still runs on an
        // engine thread, which will return through this driver into the engine:
        // neither may be unmapped under it. Both stay in memory until the process ends.
        LogWrite(LOG_ERR, "Benachrichtigung laeuft noch: Treiber und Sprachausgabe bleiben geladen");
        PlatformPinOwnModule();
        LogClose();
        return;
    }
    ReleaseEngineLibrary();
    VoiceCatalogueReleaseTexts();
    WatchdogStop();  // it watched the close too
    LogClose();
    // No thread is inside the driver any more: the runtime's TLS indexes go back.
    PlatformFreeRuntimeTlsIndexes();
}
