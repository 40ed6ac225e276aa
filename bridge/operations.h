// What the bridge's twenty exports do: each turns the host's call into one
// request to the helper and the answer back into what the driver returns
// in-process, keeping everything it hands out at stable addresses here.
#pragma once
#include <cstdint>

#include "kal_drv.h"

namespace bridge {

// Called from DllMain: the bridge's folder (the helper is looked for there).
void BridgeAttach(void* module);
// FreeLibrary: the helper unloads the driver and ends. At process exit nothing
// is done: nothing may wait then, and the helper ends with the host.
void BridgeDetach(bool processEnding);

int BridgeInitialize();
int BridgeTerminate();
const char* BridgeInfo();
int BridgeSetSynthCallback(KalSynthCallback callback);
void* BridgeSetUriCallback(void* callback);
int BridgeSynth(const wchar_t* text, int mark);
int BridgeSynthMark(const char* text, const char* marker, int mark);
int BridgeKey(const char* text);
int BridgeChar(int code);
int BridgeSetParameter(int parameter, int value, int relative);
int BridgeGetParameter(int parameter, int current);
int BridgeSetPunctuationList(const wchar_t* list);
KalVoiceDescriptor** BridgeListVoices(KalVoiceFilter* filter);
int BridgeSetVoiceByName(const char* text);
int BridgeSetVoiceByProperties(KalVoiceFilter* filter);
KalVoiceDescriptor* BridgeGetCurrentVoice();
int BridgePause(int value);
int BridgeStop();
int BridgeIsPlaying();
int BridgeSynchronize();

// What the exports answer when a call throws: the driver's answers without an engine.
int BridgeParameterWithoutEngine(int parameter, int current);
KalVoiceDescriptor** BridgeNoVoices();
KalVoiceDescriptor* BridgeNoVoice();
const char* BridgeNoInfo();

}  // namespace bridge
