// Integration tests act as a host: they copy the built kal_drv.dll and the
// simulated engine into a fresh folder, load the driver with LoadLibraryA and
// call its exports, then read kal.ini, kal.pro and the engine's journal.
#pragma once
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "kal_drv.h"

struct HostEvent {
    int message;
    int mark;
};

class Host {
public:
    // name: folder name; kalIni/engineIni: contents written before loading ("" = no file).
    explicit Host(const std::string& name, const std::string& kalIni = "[Default]\r\nDEBUG=4\r\n",
                  const std::string& engineIni = "", const char* engineFile = "simengine/nalvoapi.dll");
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    void Load();
    void Unload();  // FreeLibrary: process detach
    bool loaded() const { return dll_ != nullptr; }

    std::vector<std::string> Protocol() const;
    std::vector<std::string> Journal() const;  // the simulated engine's calls
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
    decltype(&kal_Initialize) Initialize = nullptr;
    decltype(&kal_Terminate) Terminate = nullptr;
    decltype(&kal_Info) Info = nullptr;
    decltype(&kal_SetSynthCallback) SetSynthCallback = nullptr;
    decltype(&kal_SetUriCallback) SetUriCallback = nullptr;
    decltype(&kal_Synth) Synth = nullptr;
    decltype(&kal_Synth_Mark) SynthMark = nullptr;
    decltype(&kal_Key) Key = nullptr;
    decltype(&kal_Char) Char = nullptr;
    decltype(&kal_SetParameter) SetParameter = nullptr;
    decltype(&kal_GetParameter) GetParameter = nullptr;
    decltype(&kal_SetPunctuationList) SetPunctuationList = nullptr;
    decltype(&kal_ListVoices) ListVoices = nullptr;
    decltype(&kal_SetVoiceByName) SetVoiceByName = nullptr;
    decltype(&kal_SetVoiceByProperties) SetVoiceByProperties = nullptr;
    decltype(&kal_GetCurrentVoice) GetCurrentVoice = nullptr;
    decltype(&kal_Pause) Pause = nullptr;
    decltype(&kal_Stop) Stop = nullptr;
    decltype(&kal_IsPlaying) IsPlaying = nullptr;
    decltype(&kal_Synchronize) Synchronize = nullptr;

private:
    HMODULE dll_ = nullptr;
};

// The twenty export names of the host interface.
extern const char* const kExportNames[20];
