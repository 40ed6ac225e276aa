// A host that ends the way most processes end: it returns from main without
// kal_Terminate while the engine speaks and three other threads are inside the
// driver. Usage: kal_exit_host.exe <folder with kal_drv.dll>
#include <windows.h>

#include <string>

#include "kalsay/kal_api.h"

namespace {
KalApi api;

int KAL_CDECL Ignore(const KalSynthEvent*) { return 0; }

DWORD WINAPI Chatter(void* arg) {
    const int kind = static_cast<int>(reinterpret_cast<intptr_t>(arg));
    for (int i = 0;; ++i) {
        if (kind == 0) api.Key("k");
        if (kind == 1) api.IsPlaying();
        if (kind == 2) api.GetParameter(KAL_PARAM_RATE, 1);
        Sleep(1);
    }
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::string error;
    if (!api.Load(std::string(argv[1]) + "\\kal_drv.dll", error)) return 3;
    api.SetSynthCallback(Ignore);
    api.Synth(L"A text long enough to keep the engine's worker speaking while the process ends.", 1);
    for (intptr_t kind = 0; kind < 3; ++kind) CloseHandle(CreateThread(nullptr, 0, Chatter, reinterpret_cast<void*>(kind), 0, nullptr));
    Sleep(100);
    return 0;  // ExitProcess: the other threads are killed wherever they are
}
