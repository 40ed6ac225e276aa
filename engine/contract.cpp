#include "engine/contract.h"

const char* const kEngineEntryNames[kEngineApiSlots] = {
    "ssft_ttsInitialize",        "ssft_ttsGetEngineList",       "ssft_ttsGetLanguageList",
    "ssft_ttsUnInitialize",      "ssft_ttsOpen",                "ssft_ttsClose",
    "ssft_ttsSetInDevice",       "ssft_ttsSetOutDevice",        "ssft_ttsProcess",
    "ssft_ttsStop",              "ssft_ttsPause",               "ssft_ttsResume",
    "ssft_ttsGetInstStatus",     "ssft_ttsSetParamList",        "ssft_ttsGetParamList",
    "ssft_ttsGetLipSyncInfo",    "ssft_ttsGetPPList",           "ssft_ttsBackward",
    "ssft_ttsForward",           "ssft_ttsGetVoiceList",        "ssft_ttsGetSpeechDBList",
    "ssft_ttsLoadDictionary",    "ssft_ttsUnloadDictionary",    "ssft_ttsActivateDictionary",
    "ssft_ttsDeactivateDictionary", "ssft_ttsSetText",          "ssft_ttsGetWordTranscriptions",
    "ssft_ttsFreeTranscriptions", "ssft_ttsErrorGetString",     "ssft_ttsSpeak",
};
