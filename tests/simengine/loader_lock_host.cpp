// A stand-in for the driver's start-up: opens the engine and starts a text from
// inside DllMain (under the loader lock), and shuts it down in DllMain again.
#include <windows.h>

#include <cstring>
#include <string>

#include "engine/contract.h"

namespace {
HMODULE engine = nullptr;
EngineClassHandle cls{};
EngineInstanceHandle inst{};
volatile LONG notices = 0;
const char kText[] = "started under the loader lock";

int32_t ENGINE_CALL notify(uint32_t, uint32_t, FILE*, const EngineMessage*) {
    InterlockedIncrement(&notices);
    return 0;
}

EngineApi api{};
}  // namespace

extern "C" __declspec(dllexport) LONG host_Notices() { return notices; }

extern "C" BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) {
        char path[MAX_PATH];
        GetModuleFileNameA(self, path, sizeof path);
        std::string folder(path);
        folder = folder.substr(0, folder.find_last_of('\\') + 1);
        engine = LoadLibraryA((folder + "nalvoapi.dll").c_str());
        if (!engine) return FALSE;
        if (!BindEngineApi(api, [](const char* entry) {
                return reinterpret_cast<void*>(GetProcAddress(engine, entry));
            }))
            return FALSE;
        EngineEntry name{};
        std::strcpy(name.text, "SimEngine");
        OutDeviceRecord device{0, notify};
        TextRecord text{0, sizeof kText - 1, kText};
        if (api.initialize(folder.c_str(), &cls) ||
            api.open(cls.first, cls.second, &name, &inst, 0) ||
            api.setOutDevice(inst.first, inst.second, &device) ||
            api.setText(inst.first, inst.second, &text) ||
            api.speak(inst.first, inst.second, 0))
            return FALSE;
    } else if (reason == DLL_PROCESS_DETACH && !reserved && engine) {
        api.close(inst.first, inst.second);
        api.unInitialize(cls.first, cls.second);
        FreeLibrary(engine);
    }
    return TRUE;
}
