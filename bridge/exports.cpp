// The twenty exports of kal_drv64.dll, one line each: the work is in operations.cpp.
#define KAL_BUILDING_DRIVER
#include "kal_drv.h"

#include "bridge/operations.h"

using namespace bridge;

extern "C" {

int KAL_CDECL kal_Initialize(void) { return BridgeInitialize(); }
int KAL_CDECL kal_Terminate(void) { return BridgeTerminate(); }
const char* KAL_CDECL kal_Info(void) { return BridgeInfo(); }
int KAL_CDECL kal_SetSynthCallback(KalSynthCallback callback) { return BridgeSetSynthCallback(callback); }
void* KAL_CDECL kal_SetUriCallback(void* callback) { return BridgeSetUriCallback(callback); }
int KAL_CDECL kal_Synth(const wchar_t* text, int mark) { return BridgeSynth(text, mark); }
int KAL_CDECL kal_Synth_Mark(const char* text, const char* marker, int mark) {
    return BridgeSynthMark(text, marker, mark);
}
int KAL_CDECL kal_Key(const char* text) { return BridgeKey(text); }
int KAL_CDECL kal_Char(int code) { return BridgeChar(code); }
int KAL_CDECL kal_SetParameter(int parameter, int value, int relative) {
    return BridgeSetParameter(parameter, value, relative);
}
int KAL_CDECL kal_GetParameter(int parameter, int current) { return BridgeGetParameter(parameter, current); }
int KAL_CDECL kal_SetPunctuationList(const wchar_t* list) { return BridgeSetPunctuationList(list); }
KalVoiceDescriptor** KAL_CDECL kal_ListVoices(KalVoiceFilter* filter) { return BridgeListVoices(filter); }
int KAL_CDECL kal_SetVoiceByName(const char* nameOrIdentifier) { return BridgeSetVoiceByName(nameOrIdentifier); }
int KAL_CDECL kal_SetVoiceByProperties(KalVoiceFilter* filter) { return BridgeSetVoiceByProperties(filter); }
KalVoiceDescriptor* KAL_CDECL kal_GetCurrentVoice(void) { return BridgeGetCurrentVoice(); }
int KAL_CDECL kal_Pause(int value) { return BridgePause(value); }
int KAL_CDECL kal_Stop(void) { return BridgeStop(); }
int KAL_CDECL kal_IsPlaying(void) { return BridgeIsPlaying(); }
int KAL_CDECL kal_Synchronize(void) { return BridgeSynchronize(); }

}  // extern "C"
