#include <cstdio>
#include <cstring>
#include <vector>

#include "config/config.h"
#include "engine/engine.h"
#include "platform/platform.h"

Outcome LoadSpeech(const char* path) {
    LogWrite(LOG_ENGINE, "LoadSpeech", path);
    if (Engine.engineLibrary) {
        PlatformFreeLibrary(Engine.engineLibrary);
        Engine.engineLibrary = nullptr;
    }
    if (!PlatformFileExists(path)) {
        LogWrite(LOG_ERR, OutcomeText(Outcome::LibraryMissing), path);
        return Outcome::LibraryMissing;
    }
    // The host's current folder is given back whatever its length.
    const std::string hostFolder = PlatformSaveCurrentFolder();
    std::vector<char> savedFolder(256);  // for the protocol
    const uint32_t needed = PlatformGetCurrentFolder(savedFolder.data(), static_cast<uint32_t>(savedFolder.size()));
    if (needed >= savedFolder.size()) {
        savedFolder.assign(needed + 1, '\0');
        PlatformGetCurrentFolder(savedFolder.data(), static_cast<uint32_t>(savedFolder.size()));
    }
    char libraryFolder[256];
    snprintf(libraryFolder, sizeof libraryFolder, "%s", path);
    if (char* slash = PlatformLastSeparator(libraryFolder)) slash[1] = '\0';
    // The engine finds its own data and dependencies relative to the current folder.
    PlatformSetCurrentFolder(libraryFolder);
    LogWrite(LOG_DLL, savedFolder.data(), ModuleFolder);

    PlatformSetLastError(0);
    Engine.engineLibrary = PlatformLoadLibrary(path);
    uint32_t error = PlatformGetLastError();
    PlatformRestoreCurrentFolder(hostFolder);
    if (!Engine.engineLibrary) {
        LogWriteDetail(LOG_ERR, "Fehlercode:", "%04X", static_cast<unsigned>(error));
        return Outcome::LibraryNotLoadable;
    }

    LogWrite(LOG_ENGINE, "Addressen zuweisen");
    const bool complete =
        BindEngineApi(Engine.api, [](const char* name) { return PlatformLibraryEntry(Engine.engineLibrary, name); });
    return complete ? Outcome::Ok : Outcome::EntryPointMissing;
}
