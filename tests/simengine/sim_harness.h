// Loads a private copy of the simulated engine and records its notifications.
#pragma once
#include <windows.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "engine/contract.h"

struct Notice {
    uint32_t code;
    DWORD thread;
    int32_t status;     // GetInstStatus from inside the notification
    bool bufferFilled;  // code 16: the record and buffer set at code 8 came back, zeroed
};

class SimEngine {
public:
    // A fresh folder holding `dll` (from the build tree) and, unless empty, `ini`.
    SimEngine(const std::string& name, const std::string& ini,
              const std::string& dll = "nalvoapi.dll");
    ~SimEngine();

    void open();  // Initialize, Open, SetOutDevice; all must succeed
    int32_t say(const std::string& text);
    int32_t status();
    std::vector<std::string> journal() const;
    std::vector<Notice> notices();
    std::vector<uint32_t> codes();
    // Waits until `count` notices arrived; false on timeout.
    bool waitFor(size_t count, DWORD ms = 5000);
    template <typename Fn> Fn bind(const char* name) {
        return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }

    std::string folder;
    HMODULE module = nullptr;
    EngineApi api{};
    EngineClassHandle cls{};
    EngineInstanceHandle inst{};
    // Runs inside each notification, after it is recorded.
    std::function<void(uint32_t code)> onNotify;
    bool probeStatus = false;  // call GetInstStatus inside notifications
    bool opened = false;       // the destructor calls UnInitialize

private:
    static int32_t ENGINE_CALL notify(uint32_t, uint32_t, FILE*, const EngineMessage*);
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Notice> notices_;
};
