// The twenty exports: each translates the host's call into the internal
// operation that owns it, and nothing else. Nothing thrown passes back to the
// host (HostCall); those that change the engine session also pass the
// HostCallGate. In isolated mode each goes to the helper instead (the
// forwarding table, filled at the load).
#define KAL_BUILDING_DRIVER
#include "kal_drv.h"
#include "kal_exports.h"  // checks each prototype, so each definition below, against its row

#include "config/config.h"
#include "driver/driver.h"
#include "speech/speech.h"
#include "voices/voices.h"

namespace {
// Isolated mode's road to the helper (null rows: in-process). Written once at
// the load, before any export runs; read-only afterwards.
ExportForwarding forwarding;
#define FORWARDED0(name) \
    if (forwarding.name) return forwarding.name()
#define FORWARDED(name, ...) \
    if (forwarding.name) return forwarding.name(__VA_ARGS__)

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
    if (NotificationRunningHere()) {
        LogWrite(LOG_ERR, "Aufruf im Callback nicht erlaubt:", name);
        return refusal;
    }
    return operation();
}
}  // namespace

void DriverSetForwarding(const ExportForwarding& table) { forwarding = table; }

extern "C" {

int KAL_CDECL kal_Initialize(void) {
    FORWARDED0(Initialize);
    return NotInsideNotification("kal_Initialize", -1, [] { return GatedHostCall(-1, [] { return LifecycleInitialize(); }); });
}
int KAL_CDECL kal_Terminate(void) {
    FORWARDED0(Terminate);
    return NotInsideNotification("kal_Terminate", -1, [] { return GatedHostCall(-1, [] { return LifecycleTerminate(); }); });
}
const char* KAL_CDECL kal_Info(void) {
    FORWARDED0(Info);
    return IdentificationString;
}

int KAL_CDECL kal_SetSynthCallback(KalSynthCallback callback) {
    FORWARDED(SetSynthCallback, callback);
    LogWrite(LOG_HOST, "SetSynthCallback");
    NotificationsSetHostCallback(callback);
    return static_cast<int>(reinterpret_cast<intptr_t>(callback));
}

void* KAL_CDECL kal_SetUriCallback(void* callback) {
    FORWARDED(SetUriCallback, callback);
    LogWrite(LOG_HOST, "SetUriCallback");
    uriCallback.store(callback);
    return callback;
}

int KAL_CDECL kal_Synth(const kal_char16* text, int mark) {
    FORWARDED(Synth, text, mark);
    return HostCall(0, [&] { return IntakeSynth(text, mark); });
}
int KAL_CDECL kal_Synth_Mark(const char* text, const char* marker, int mark) {
    FORWARDED(SynthMark, text, marker, mark);
    return HostCall(0, [&] { return IntakeSynthMark(text, marker, mark); });
}
int KAL_CDECL kal_Key(const char* text) {
    FORWARDED(Key, text);
    return HostCall(0, [&] { return IntakeKey(text); });
}
int KAL_CDECL kal_Char(int code) {
    FORWARDED(Char, code);
    return HostCall(0, [&] { return IntakeChar(code); });
}

int KAL_CDECL kal_SetParameter(int parameter, int value, int relative) {
    FORWARDED(SetParameter, parameter, value, relative);
    return GatedHostCall(0, [&] { return ParamSet(parameter, value, relative); });
}
int KAL_CDECL kal_GetParameter(int parameter, int current) {
    FORWARDED(GetParameter, parameter, current);
    return ParamGet(parameter, current);
}
int KAL_CDECL kal_SetPunctuationList(const kal_char16* list) {
    FORWARDED(SetPunctuationList, list);
    return GatedHostCall(0, [&] { return ParamSetPunctuation(list); });
}

KalVoiceDescriptor** KAL_CDECL kal_ListVoices(KalVoiceFilter* filter) {
    FORWARDED(ListVoices, filter);
    // Hosts ask for the whole list often; while it stands it needs no gate.
    if (!filter) {
        if (KalVoiceDescriptor** list = VoicesListAllIfStanding()) return list;
    }
    return GatedHostCall(VoiceList, [&] { return VoicesList(filter); });
}
int KAL_CDECL kal_SetVoiceByName(const char* nameOrIdentifier) {
    FORWARDED(SetVoiceByName, nameOrIdentifier);
    return GatedHostCall(0, [&] { return VoicesSetByName(nameOrIdentifier); });
}
int KAL_CDECL kal_SetVoiceByProperties(KalVoiceFilter* filter) {
    FORWARDED(SetVoiceByProperties, filter);
    return GatedHostCall(0, [&] { return VoicesSetByProperties(filter); });
}
KalVoiceDescriptor* KAL_CDECL kal_GetCurrentVoice(void) {
    FORWARDED0(GetCurrentVoice);
    return GatedHostCall(&Voices.descriptors[0], [] { return VoicesGetCurrent(); });
}

int KAL_CDECL kal_Pause(int value) {
    FORWARDED(Pause, value);
    return GatedHostCall(0, [&] { return PlaybackPause(value); });
}
int KAL_CDECL kal_Stop(void) {
    FORWARDED0(Stop);
    return GatedHostCall(0, [] { return PlaybackStop(); });
}
int KAL_CDECL kal_IsPlaying(void) {
    FORWARDED0(IsPlaying);
    return HostCall(0, [] { return PlaybackIsPlaying(); });
}
int KAL_CDECL kal_Synchronize(void) {
    FORWARDED0(Synchronize);
    return NotInsideNotification("kal_Synchronize", -1, [] { return HostCall(0, [] { return PlaybackSynchronize(); }); });
}

}  // extern "C"
