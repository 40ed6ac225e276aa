#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "driver/driver.h"
#include "engine/engine.h"
#include "platform/platform.h"

char ModuleFolder[256];
void* UriCallback;

void ProcessAttach() {
    PlatformOwnModuleFileName(ModuleFolder, 255);
    if (char* slash = strrchr(ModuleFolder, '\\')) slash[1] = '\0';
    snprintf(ProfilePath, sizeof ProfilePath, "%skal.ini", ModuleFolder);
    char protocolPath[256];
    snprintf(protocolPath, sizeof protocolPath, "%skal.pro", ModuleFolder);
    ProfileGetInt("DEBUG", &DebugLevel, 0, "Default");
    LogOpen(protocolPath);
    GoInitSpeech();
}

void ProcessDetach() {
    LogWrite(LOG_DLL, "DLL_PROCESS_DETACH");
    ShutdownEngine();
    ReleaseEngineLibrary();
    LogClose();
}
