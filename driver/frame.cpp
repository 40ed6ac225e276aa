#include <cstdio>

#include "config/config.h"
#include "driver/driver.h"
#include "engine/engine.h"
#include "speech/speech.h"
#include "platform/platform.h"

bool ProcessAttach(bool mayIsolate) {
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
    LogOpen(protocolPath, IdentificationString);
    // Read (and so filled in) in every process, the helper's too.
    int32_t isolation = 0;
    ProfileGetInt("Isolation", &isolation, 0, "Default");
    if (mayIsolate && isolation == 1) {
        LogWrite(LOG_DLL, "Isolation=1: Sprachausgabe im Hilfsprozess");
        return true;
    }
    GoInitSpeech();
    return false;
}

void ProcessDetach(bool processEnding) {
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
    LogClose();
    // No thread is inside the driver any more: the runtime's TLS indexes go back.
    PlatformFreeRuntimeTlsIndexes();
}
