// The twenty exports: each translates the host's call into the internal
// operation that owns it, and nothing else. Nothing thrown passes back to the
// host (HostCall); those that change the engine session also pass the
// HostCallGate.
#define KAL_BUILDING_DRIVER
#include "kal_drv.h"
#include "kal_exports.h"  // checks each prototype, so each definition below, against its row

#include "config/config.h"
#include "driver/driver.h"
#include "speech/speech.h"
#include "voices/voices.h"

namespace {
// The URI callback: stored, never called.
std::atomic<void*> uriCallback{nullptr};

template <typename Result, typename Operation>
Result HostCall(Result fallback, Operation operation) {
    try {
        return operation();
    } catch (...) {
        LogWrite(LOG_ERR, "Ausnahme im Aufruf des Hosts abgefangen");
        return fallback;
    }
}

// fallback is also the result of a call refused at the gate.
template <typename Result, typename Operation>
Result GatedHostCall(Result fallback, Operation operation) {
    return HostCall(fallback, [&] {
        HostCallGate gate;
        if (!gate.passed()) return fallback;
        return operation();
    });
}

// The calls the synth callback must not make. Inside a notification they would
// wait for the callback itself (kal_Synchronize) or close the engine under its
// own thread (kal_Terminate, kal_Initialize): refused at once with refusal.
template <typename Result, typename Operation>
Result NotInsideNotification(const char* name, Result refusal, Operation operation) {
    if (NotificationRunningHere() || (Isolated && Isolated->insideCallback())) {
        LogWrite(LOG_ERR, "Aufruf im Callback nicht erlaubt:", name);
        return refusal;
    }
    return operation();
}
// kal_GetParameter's answer without an engine (rate and volume 0, their
// defaults 50 and 100), written to no protocol: the helper's driver writes the call's line.
int ParameterWithoutEngine(int parameter, int current) {
    return parameter == KAL_PARAM_RATE ? (current ? 0 : 50) : parameter == KAL_PARAM_VOLUME ? (current ? 0 : 100) : 50;
}
}  // namespace

// In isolated mode each export forwards to the client, whose answers are the
// driver's in the helper; its exceptions end here as the driver's do.
#define FORWARD_IF_ISOLATED(fallback, name, ...) \
    if (const IsolationClient* client = Isolated) return HostCall(fallback, [&] { return client->name(__VA_ARGS__); })

extern "C" {

int KAL_CDECL kal_Initialize(void) {
    return NotInsideNotification("kal_Initialize", -1, [] {
        FORWARD_IF_ISOLATED(-1, Initialize);
        return GatedHostCall(-1, [] { return LifecycleInitialize(); });
    });
}
int KAL_CDECL kal_Terminate(void) {
    return NotInsideNotification("kal_Terminate", -1, [] {
        FORWARD_IF_ISOLATED(0, Terminate);
        return GatedHostCall(-1, [] { return LifecycleTerminate(); });
    });
}
const char* KAL_CDECL kal_Info(void) { return IdentificationString; }

int KAL_CDECL kal_SetSynthCallback(KalSynthCallback callback) {
    FORWARD_IF_ISOLATED(static_cast<int>(reinterpret_cast<intptr_t>(callback)), SetSynthCallback, callback);
    LogWrite(LOG_HOST, "SetSynthCallback");
    NotificationsSetHostCallback(callback);
    return static_cast<int>(reinterpret_cast<intptr_t>(callback));
}

void* KAL_CDECL kal_SetUriCallback(void* callback) {
    FORWARD_IF_ISOLATED(callback, SetUriCallback, callback);
    LogWrite(LOG_HOST, "SetUriCallback");
    uriCallback.store(callback);
    return callback;
}

int KAL_CDECL kal_Synth(const kal_char16* text, int mark) {
    FORWARD_IF_ISOLATED(0, Synth, text, mark);
    return HostCall(0, [&] { return IntakeSynth(text, mark); });
}
int KAL_CDECL kal_Synth_Mark(const char* text, const char* marker, int mark) {
    FORWARD_IF_ISOLATED(0, SynthMark, text, marker, mark);
    return HostCall(0, [&] { return IntakeSynthMark(text, marker, mark); });
}
int KAL_CDECL kal_Key(const char* text) {
    FORWARD_IF_ISOLATED(0, Key, text);
    return HostCall(0, [&] { return IntakeKey(text); });
}
int KAL_CDECL kal_Char(int code) {
    FORWARD_IF_ISOLATED(0, Char, code);
    return HostCall(0, [&] { return IntakeChar(code); });
}

int KAL_CDECL kal_SetParameter(int parameter, int value, int relative) {
    FORWARD_IF_ISOLATED(0, SetParameter, parameter, value, relative);
    return GatedHostCall(0, [&] { return ParamSet(parameter, value, relative); });
}
int KAL_CDECL kal_GetParameter(int parameter, int current) {
    FORWARD_IF_ISOLATED(ParameterWithoutEngine(parameter, current), GetParameter, parameter, current);
    return ParamGet(parameter, current);
}
int KAL_CDECL kal_SetPunctuationList(const kal_char16* list) {
    FORWARD_IF_ISOLATED(0, SetPunctuationList, list);
    return GatedHostCall(0, [&] { return ParamSetPunctuation(list); });
}

KalVoiceDescriptor** KAL_CDECL kal_ListVoices(KalVoiceFilter* filter) {
    FORWARD_IF_ISOLATED(VoiceList, ListVoices, filter);
    // Hosts ask for the whole list often; while it stands it needs no gate.
    if (!filter) {
        if (KalVoiceDescriptor** list = VoicesListAllIfStanding()) return list;
    }
    return GatedHostCall(VoiceList, [&] { return VoicesList(filter); });
}
int KAL_CDECL kal_SetVoiceByName(const char* nameOrIdentifier) {
    FORWARD_IF_ISOLATED(0, SetVoiceByName, nameOrIdentifier);
    return GatedHostCall(0, [&] { return VoicesSetByName(nameOrIdentifier); });
}
int KAL_CDECL kal_SetVoiceByProperties(KalVoiceFilter* filter) {
    FORWARD_IF_ISOLATED(0, SetVoiceByProperties, filter);
    return GatedHostCall(0, [&] { return VoicesSetByProperties(filter); });
}
KalVoiceDescriptor* KAL_CDECL kal_GetCurrentVoice(void) {
    FORWARD_IF_ISOLATED(&Voices.descriptors[0], GetCurrentVoice);
    return GatedHostCall(&Voices.descriptors[0], [] { return VoicesGetCurrent(); });
}

int KAL_CDECL kal_Pause(int value) {
    FORWARD_IF_ISOLATED(0, Pause, value);
    return GatedHostCall(0, [&] { return PlaybackPause(value); });
}
int KAL_CDECL kal_Stop(void) {
    FORWARD_IF_ISOLATED(0, Stop);
    return GatedHostCall(0, [] { return PlaybackStop(); });
}
int KAL_CDECL kal_IsPlaying(void) {
    FORWARD_IF_ISOLATED(0, IsPlaying);
    return HostCall(0, [] { return PlaybackIsPlaying(); });
}
int KAL_CDECL kal_Synchronize(void) {
    return NotInsideNotification("kal_Synchronize", -1, [] {
        FORWARD_IF_ISOLATED(0, Synchronize);
        return HostCall(0, [] { return PlaybackSynchronize(); });
    });
}

}  // extern "C"
