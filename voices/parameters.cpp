#include <cstdio>

#include "config/config.h"
#include "engine/engine.h"
#include "voices/voices.h"
#include "voices/voices_internal.h"

namespace {
char PunctuationList[260];  // host threads only; stored and logged, read by nothing else
}  // namespace

namespace {
// What a parameter number other than rate and volume reads as.
constexpr int32_t kOtherParameterValue = 50;

// Values above kLargestSetting are ignored; negative ones are taken as 0: the
// engine gets 16 bits, and -65436 would reach it as 100.
void SetSetting(void (*store)(int32_t), uint32_t engineParam, int32_t value) {
    if (value > kLargestSetting) return;
    if (value < kSmallestSetting) value = kSmallestSetting;
    store(value);
    if (Engine.initialised) EngineSendNumber(engineParam, value);
}
}  // namespace

void SetRate(int32_t value) { SetSetting(EngineSetRate, kParamRate, value); }
void SetVolume(int32_t value) { SetSetting(EngineSetVolume, kParamVolume, value); }

int32_t ParamSet(int32_t parameter, int32_t value, int32_t relative) {
    LogWriteDetail(LOG_HOST, "SetParameter", "Para:%d Val:%d Relativ:%d", static_cast<int>(parameter),
                   static_cast<int>(value), static_cast<int>(relative));
    if (parameter == KAL_PARAM_RATE) SetRate(value);
    if (parameter == KAL_PARAM_VOLUME) SetVolume(value);
    return 0;
}

// Hosts poll this: with the protocol off it formats nothing.
int32_t ParamGet(int32_t parameter, int32_t current) {
    LogWriteDetail(LOG_HOST, "GetParameter", "P:%d C:%d", static_cast<int>(parameter), static_cast<int>(current));
    if (parameter == KAL_PARAM_RATE) return current ? Engine.rate.load() : kDefaultRate;
    if (parameter == KAL_PARAM_VOLUME) return current ? Engine.volume.load() : kDefaultVolume;
    return kOtherParameterValue;
}

int32_t ParamSetPunctuation(const kal_char16* list) {
    size_t n = 0;
    // A longer list is cut to the 259 characters the buffer holds; a null list is empty.
    for (; list && list[n] && n < sizeof PunctuationList - 1; ++n)
        PunctuationList[n] = static_cast<char>(list[n] & 0xFF);
    PunctuationList[n] = '\0';
    LogWrite(LOG_HOST, "SetPunctuationList", PunctuationList);
    return 0;
}
