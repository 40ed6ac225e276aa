#include "kalsay/kal_api.h"

#include "kalsay/library.h"

namespace {
template <typename Fn>
bool Bind(void* module, const char* name, Fn& fn, std::string& missing) {
    fn = reinterpret_cast<Fn>(HostLibraryEntry(module, name));
    if (!fn && missing.empty()) missing = name;
    return fn != nullptr;
}
}  // namespace

bool KalApi::Load(const std::string& path, std::string& error) {
    Unload();
    void* module = HostLoadLibrary(path, error);
    if (!module) return false;
    std::string missing;
    Bind(module, "kal_Initialize", Initialize, missing);
    Bind(module, "kal_Terminate", Terminate, missing);
    Bind(module, "kal_Info", Info, missing);
    Bind(module, "kal_SetSynthCallback", SetSynthCallback, missing);
    Bind(module, "kal_SetUriCallback", SetUriCallback, missing);
    Bind(module, "kal_Synth", Synth, missing);
    Bind(module, "kal_Synth_Mark", SynthMark, missing);
    Bind(module, "kal_Key", Key, missing);
    Bind(module, "kal_Char", Char, missing);
    Bind(module, "kal_SetParameter", SetParameter, missing);
    Bind(module, "kal_GetParameter", GetParameter, missing);
    Bind(module, "kal_SetPunctuationList", SetPunctuationList, missing);
    Bind(module, "kal_ListVoices", ListVoices, missing);
    Bind(module, "kal_SetVoiceByName", SetVoiceByName, missing);
    Bind(module, "kal_SetVoiceByProperties", SetVoiceByProperties, missing);
    Bind(module, "kal_GetCurrentVoice", GetCurrentVoice, missing);
    Bind(module, "kal_Pause", Pause, missing);
    Bind(module, "kal_Stop", Stop, missing);
    Bind(module, "kal_IsPlaying", IsPlaying, missing);
    Bind(module, "kal_Synchronize", Synchronize, missing);
    if (!missing.empty()) {
        HostFreeLibrary(module);
        *this = KalApi();
        error = path + " lacks the export " + missing;
        return false;
    }
    module_ = module;
    return true;
}

void KalApi::Unload() {
    HostFreeLibrary(module_);
    *this = KalApi();
}
