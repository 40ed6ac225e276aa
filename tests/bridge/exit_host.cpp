// A 64-bit host that ends its process in the middle of a text without
// unloading the bridge: bridge_exit_host FOLDER. It writes the helper's process
// id to FOLDER\helper.pid once the text has begun, then calls ExitProcess.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "kalsay/kal_api.h"
#include "tests/bridge/helper_process.h"

namespace {
constexpr DWORD kBeginWaitMs = 20000;
std::atomic<int> begun{0};
int KAL_CDECL OnEvent(const KalSynthEvent* event) {
    if (event->message == KAL_MSG_BEGIN) begun.store(1);
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string folder = argv[1];
    KalApi api;
    std::string error;
    if (!api.Load(folder + "kal_drv64.dll", error)) return 3;
    api.SetSynthCallback(OnEvent);
    if (api.Initialize() <= 0) return 4;
    api.Synth(L"Ein langer Text, den das Ende des Programms abschneidet.", 1);
    const DWORD started = GetTickCount();
    while (!begun.load() && GetTickCount() - started < kBeginWaitMs) Sleep(10);
    FILE* file = fopen((folder + "helper.pid").c_str(), "w");
    if (!file) return 5;
    fprintf(file, "%lu\n", static_cast<unsigned long>(FindHelper()));
    fclose(file);
    ExitProcess(begun.load() ? 0 : 6);
}
