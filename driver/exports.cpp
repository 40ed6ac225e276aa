// The twenty exports: each translates the host's call into the internal
// operation that owns it, and nothing else.
#define KAL_BUILDING_DRIVER
#include "kal_drv.h"

#include "config/config.h"
#include "driver/driver.h"
#include "speech/speech.h"
#include "voices/voices.h"

extern "C" {

int KAL_CDECL kal_Initialize(void) { return LifecycleInitialize(); }
int KAL_CDECL kal_Terminate(void) { return LifecycleTerminate(); }
const char* KAL_CDECL kal_Info(void) { return IdentificationString; }

int KAL_CDECL kal_SetSynthCallback(KalSynthCallback callback) {
    LogWrite(LOG_HOST, "SetSynthCallback");
    SynthCallback.store(callback);
    return static_cast<int>(reinterpret_cast<intptr_t>(callback));
}

void* KAL_CDECL kal_SetUriCallback(void* callback) {
    LogWrite(LOG_HOST, "SetUriCallback");
    UriCallback = callback;
    return callback;
}

int KAL_CDECL kal_Synth(const kal_char16* text, int mark) { return IntakeSynth(text, mark); }
int KAL_CDECL kal_Synth_Mark(const char* text, const char* marker, int mark) {
    return IntakeSynthMark(text, marker, mark);
}
int KAL_CDECL kal_Key(const char* text) { return IntakeKey(text); }
int KAL_CDECL kal_Char(int code) { return IntakeChar(code); }

int KAL_CDECL kal_SetParameter(int parameter, int value, int relative) {
    return ParamSet(parameter, value, relative);
}
int KAL_CDECL kal_GetParameter(int parameter, int current) { return ParamGet(parameter, current); }
int KAL_CDECL kal_SetPunctuationList(const kal_char16* list) { return ParamSetPunctuation(list); }

KalVoiceDescriptor** KAL_CDECL kal_ListVoices(KalVoiceDescriptor* filter) { return VoicesList(filter); }
int KAL_CDECL kal_SetVoiceByName(const char* nameOrIdentifier) { return VoicesSetByName(nameOrIdentifier); }
int KAL_CDECL kal_SetVoiceByProperties(KalVoiceDescriptor* filter) { return VoicesSetByProperties(filter); }
KalVoiceDescriptor* KAL_CDECL kal_GetCurrentVoice(void) { return VoicesGetCurrent(); }

int KAL_CDECL kal_Pause(int value) { return PlaybackPause(value); }
int KAL_CDECL kal_Stop(void) { return PlaybackStop(); }
int KAL_CDECL kal_IsPlaying(void) { return PlaybackIsPlaying(); }
int KAL_CDECL kal_Synchronize(void) { return PlaybackSynchronize(); }

}  // extern "C"
