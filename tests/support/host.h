// Integration tests act as a host: they copy the built kal_drv.dll and the
// simulated engine into a fresh folder, load the driver with LoadLibraryA and
// call its exports, then read kal.ini, kal.pro and the engine's journal.
#pragma once
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "kal_drv.h"
#include "kalsay/kal_api.h"

struct HostEvent {
    int message;
    int mark;
};

// A text as the engine received it through ssft_ttsSetText.
struct SpokenText {
    size_t length;  // the length the driver passed in the text record
    std::string text;
};

class Host : public KalApi {
public:
    // name: folder name; kalIni/engineIni: contents written before loading ("" = no file).
    explicit Host(const std::string& name, const std::string& kalIni = "[Default]\r\nDEBUG=4\r\n",
                  const std::string& engineIni = "", const char* engineFile = "simengine/nalvoapi.dll");
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // LoadLibraryA from the folder, every export bound; Unload is FreeLibrary (process detach).
    void Load();
    // kal_drv.dll in isolated mode: kal_host32.exe beside it and [Default]
    // Isolation=1. Every host does this when the run is isolated (below).
    void Isolate() const;

    std::vector<std::string> Protocol() const;
    std::vector<std::string> Journal() const;  // the simulated engine's calls
    std::vector<SpokenText> Spoken() const;    // every text the engine was given, in order
    std::string Profile(const char* section, const char* key) const;
    void SetProfile(const char* section, const char* key, const char* value) const;
    void WriteEngineIni(const std::string& text) const;

    // Events received by the synth callback registered with UseCallback.
    void UseCallback();
    std::vector<HostEvent> Events() const;
    void ClearEvents();
    // Waits until the callback has seen `count` events (or the timeout passed).
    bool WaitForEvents(size_t count, DWORD timeoutMs = 10000) const;

    std::string folder;
};

// The DLL a host loads: kal_drv.dll, or the bridge in the 64-bit tests.
#ifdef KAL_TEST_BRIDGE
constexpr const char* kHostDriverFile = "kal_drv64.dll";
#else
constexpr const char* kHostDriverFile = "kal_drv.dll";
#endif

// KAL_TEST_ISOLATION=1 in the environment: the 32-bit host suites run with
// the driver in isolated mode (tests/CMakeLists.txt registers them twice).
bool IsolatedRun();
// Skips a test that cannot hold in isolated mode; the reason says why.
#define SKIP_WHEN_ISOLATED(reason) \
    if (IsolatedRun()) GTEST_SKIP() << "isolated mode: " << (reason)

// The twenty export names of the host interface.
extern const char* const kExportNames[20];
