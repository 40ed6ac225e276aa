#pragma once
// The one result type of the core's internal operations, and its texts. The
// exports map an outcome to the result the interface defines for them; an outcome
// whose text is a protocol line is written with OutcomeText, so the line and
// the failure cannot drift apart.
#include <cstdint>

#define KAL_OUTCOMES(KAL_OUTCOME)                                                                  \
    KAL_OUTCOME(Ok, "ok")                                                                          \
    /* handing a text to the engine */                                                            \
    KAL_OUTCOME(NotInitialised, "no engine running")                                              \
    KAL_OUTCOME(EngineClaimed, "Fehler Speak...-2 NALVOIsSpeaking")                               \
    KAL_OUTCOME(EngineBusy, "engine busy")                                                        \
    KAL_OUTCOME(StatusPollFailed, "status poll failed")                                           \
    KAL_OUTCOME(SetTextFailed, "ft_ttsSetText failed")                                            \
    KAL_OUTCOME(SpeakFailed, "ft_ttsSpeak failed")                                                \
    /* stopping */                                                                                \
    KAL_OUTCOME(StillBusyAfterStop, "engine still busy after every stop poll")                    \
    /* loading the engine library */                                                              \
    KAL_OUTCOME(LibraryMissing, "Konnte die Datei nicht finden:")                                 \
    KAL_OUTCOME(LibraryNotLoadable, "engine library not loadable")                                \
    KAL_OUTCOME(EntryPointMissing, "engine entry point missing")                                  \
    /* the start-up's steps */                                                                    \
    KAL_OUTCOME(LoadFailed, "LoadSpeech fehlgeschlagen")                                          \
    KAL_OUTCOME(InitializeFailed, "init NALVO failed.")                                           \
    KAL_OUTCOME(EngineListFailed, "GetEngineList failed.")                                        \
    KAL_OUTCOME(OpenFailed, "ttsOpen failed.")                                                    \
    KAL_OUTCOME(OutDeviceFailed, "ttsSetOutDevice failed.")                                       \
    KAL_OUTCOME(LanguageListFailed, "ttsGetLanguageList failed.")                                 \
    /* a voice and its dictionary */                                                              \
    KAL_OUTCOME(VoiceUnknown, "voice beyond the engine's lists")                                  \
    KAL_OUTCOME(DictionaryOff, "dictionary off (DCBon=0)")                                        \
    KAL_OUTCOME(DictionaryNotOpened, "Fehler beim oeffnen des DCB-Files")                         \
    KAL_OUTCOME(DictionaryTooLarge, "Dictionary zu gross")                                        \
    KAL_OUTCOME(NoMemory, "Fehler bei malloc")                                                    \
    KAL_OUTCOME(DictionaryNotRead, "Fehler bei Lesen")                                            \
    KAL_OUTCOME(DictionaryRejected, "engine rejected the dictionary")

// Not to be dropped unseen: a caller that ignores one casts it to void and says why.
enum class [[nodiscard]] Outcome : int32_t {
#define KAL_OUTCOME_VALUE(name, text) name,
    KAL_OUTCOMES(KAL_OUTCOME_VALUE)
#undef KAL_OUTCOME_VALUE
};

// The outcome's text: static, never null.
const char* OutcomeText(Outcome outcome);
