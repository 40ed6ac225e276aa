// The driver's twenty exports, bound at run time the way a screen reader's
// speech layer binds them: the library loaded from a folder, each export by name.
#pragma once
#include <string>

#include "kal_drv.h"

struct KalApi {
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

    // Loads the DLL at path and binds every export; on failure nothing stays
    // loaded and error says why.
    bool Load(const std::string& path, std::string& error);
    // Frees the library: the driver shuts its engine down in its process detach.
    void Unload();
    bool loaded() const { return module_ != nullptr; }

private:
    void* module_ = nullptr;
};
