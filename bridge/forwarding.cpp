#include "bridge/forwarding.h"

#include "bridge/boundary.h"
#include "bridge/operations.h"

namespace bridge {
namespace {
int KAL_CDECL Initialize() { return Guarded(-1, [&] { return BridgeInitialize(); }); }
int KAL_CDECL Terminate() { return Guarded(0, [&] { return BridgeTerminate(); }); }
const char* KAL_CDECL Info() { return Guarded(BridgeNoInfo(), [&] { return BridgeInfo(); }); }
int KAL_CDECL SetSynthCallback(KalSynthCallback callback) {
    return Guarded(static_cast<int>(reinterpret_cast<intptr_t>(callback)), [&] { return BridgeSetSynthCallback(callback); });
}
void* KAL_CDECL SetUriCallback(void* callback) { return Guarded(callback, [&] { return BridgeSetUriCallback(callback); }); }
int KAL_CDECL Synth(const kal_char16* text, int mark) { return Guarded(0, [&] { return BridgeSynth(text, mark); }); }
int KAL_CDECL SynthMark(const char* text, const char* marker, int mark) {
    return Guarded(0, [&] { return BridgeSynthMark(text, marker, mark); });
}
int KAL_CDECL Key(const char* text) { return Guarded(0, [&] { return BridgeKey(text); }); }
int KAL_CDECL Char(int code) { return Guarded(0, [&] { return BridgeChar(code); }); }
int KAL_CDECL SetParameter(int parameter, int value, int relative) {
    return Guarded(0, [&] { return BridgeSetParameter(parameter, value, relative); });
}
int KAL_CDECL GetParameter(int parameter, int current) {
    return Guarded(BridgeParameterWithoutEngine(parameter, current), [&] { return BridgeGetParameter(parameter, current); });
}
int KAL_CDECL SetPunctuationList(const kal_char16* list) { return Guarded(0, [&] { return BridgeSetPunctuationList(list); }); }
KalVoiceDescriptor** KAL_CDECL ListVoices(KalVoiceFilter* filter) {
    return Guarded(BridgeNoVoices(), [&] { return BridgeListVoices(filter); });
}
int KAL_CDECL SetVoiceByName(const char* name) { return Guarded(0, [&] { return BridgeSetVoiceByName(name); }); }
int KAL_CDECL SetVoiceByProperties(KalVoiceFilter* filter) {
    return Guarded(0, [&] { return BridgeSetVoiceByProperties(filter); });
}
KalVoiceDescriptor* KAL_CDECL GetCurrentVoice() { return Guarded(BridgeNoVoice(), [&] { return BridgeGetCurrentVoice(); }); }
int KAL_CDECL Pause(int value) { return Guarded(0, [&] { return BridgePause(value); }); }
int KAL_CDECL Stop() { return Guarded(0, [&] { return BridgeStop(); }); }
int KAL_CDECL IsPlaying() { return Guarded(0, [&] { return BridgeIsPlaying(); }); }
int KAL_CDECL Synchronize() { return Guarded(0, [&] { return BridgeSynchronize(); }); }
}  // namespace

void BridgeFillForwarding(void* module, ExportForwarding& table) {
    BridgeAttach(module);
    // Every row of KAL_EXPORTS, by the names above: a row without its function fails to build here.
#define BRIDGE_FORWARD(name, function, result, parameters) table.name = &name;
    KAL_EXPORTS(BRIDGE_FORWARD)
#undef BRIDGE_FORWARD
}

}  // namespace bridge
