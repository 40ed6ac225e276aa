// The twenty exports of kal_drv64.dll, one line each: the work is in
// operations.cpp; each ends in a last catch that answers as without an engine.
#define KAL_BUILDING_DRIVER
#include "kal_drv.h"
#include "kal_exports.h"  // checks each prototype, so each definition below, against its row

#include "bridge/boundary.h"
#include "bridge/operations.h"

using namespace bridge;

extern "C" {

int KAL_CDECL kal_Initialize(void) { return Guarded(-1, [&] { return BridgeInitialize(); }); }
int KAL_CDECL kal_Terminate(void) { return Guarded(0, [&] { return BridgeTerminate(); }); }
const char* KAL_CDECL kal_Info(void) { return Guarded(BridgeNoInfo(), [&] { return BridgeInfo(); }); }
int KAL_CDECL kal_SetSynthCallback(KalSynthCallback callback) {
    return Guarded(static_cast<int>(reinterpret_cast<intptr_t>(callback)),
                   [&] { return BridgeSetSynthCallback(callback); });
}
void* KAL_CDECL kal_SetUriCallback(void* callback) { return Guarded(callback, [&] { return BridgeSetUriCallback(callback); }); }
int KAL_CDECL kal_Synth(const kal_char16* text, int mark) { return Guarded(0, [&] { return BridgeSynth(text, mark); }); }
int KAL_CDECL kal_Synth_Mark(const char* text, const char* marker, int mark) {
    return Guarded(0, [&] { return BridgeSynthMark(text, marker, mark); });
}
int KAL_CDECL kal_Key(const char* text) { return Guarded(0, [&] { return BridgeKey(text); }); }
int KAL_CDECL kal_Char(int code) { return Guarded(0, [&] { return BridgeChar(code); }); }
int KAL_CDECL kal_SetParameter(int parameter, int value, int relative) {
    return Guarded(0, [&] { return BridgeSetParameter(parameter, value, relative); });
}
int KAL_CDECL kal_GetParameter(int parameter, int current) {
    return Guarded(BridgeParameterWithoutEngine(parameter, current),
                   [&] { return BridgeGetParameter(parameter, current); });
}
int KAL_CDECL kal_SetPunctuationList(const kal_char16* list) {
    return Guarded(0, [&] { return BridgeSetPunctuationList(list); });
}
KalVoiceDescriptor** KAL_CDECL kal_ListVoices(KalVoiceFilter* filter) {
    return Guarded(BridgeNoVoices(), [&] { return BridgeListVoices(filter); });
}
int KAL_CDECL kal_SetVoiceByName(const char* nameOrIdentifier) {
    return Guarded(0, [&] { return BridgeSetVoiceByName(nameOrIdentifier); });
}
int KAL_CDECL kal_SetVoiceByProperties(KalVoiceFilter* filter) {
    return Guarded(0, [&] { return BridgeSetVoiceByProperties(filter); });
}
KalVoiceDescriptor* KAL_CDECL kal_GetCurrentVoice(void) {
    return Guarded(BridgeNoVoice(), [&] { return BridgeGetCurrentVoice(); });
}
int KAL_CDECL kal_Pause(int value) { return Guarded(0, [&] { return BridgePause(value); }); }
int KAL_CDECL kal_Stop(void) { return Guarded(0, [&] { return BridgeStop(); }); }
int KAL_CDECL kal_IsPlaying(void) { return Guarded(0, [&] { return BridgeIsPlaying(); }); }
int KAL_CDECL kal_Synchronize(void) { return Guarded(0, [&] { return BridgeSynchronize(); }); }

}  // extern "C"
