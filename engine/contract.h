// The contract with the closed speech engine library: the records it exchanges
// with the driver and the shapes of its thirty entry points. Everything here is
// fixed by the engine's binary interface (32-bit, little-endian, cdecl).
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <type_traits>

// Every engine entry point and the driver's notify function: the caller removes
// the arguments. A native build of the core (sanitizers, fuzzing) has one convention.
#if defined(_WIN32)
#define ENGINE_CALL __cdecl
#else
#define ENGINE_CALL
#endif

// The engine's handles: two 32-bit words, written by the engine through a
// pointer and passed back by value as two arguments, first word first.
struct EngineClassHandle { uint32_t first; uint32_t second; };
struct EngineInstanceHandle { uint32_t first; uint32_t second; };
struct EngineDictionaryHandle { uint32_t first; uint32_t second; };

// List entries: only the leading NUL-terminated text is read.
struct EngineEntry { char text[388]; };
struct LanguageEntry { char text[260]; };
struct VoiceEntry { char text[640]; };

enum : uint32_t {
    kEngineListCapacity = 20,
    kLanguageListCapacity = 100,
    kVoiceListCapacity = 80,
};

// One parameter: a number as 16 bits in the first two bytes of paramValue
// (the other bytes untouched), or a text with its NUL (at most 127 characters).
struct ParamRecord {
    uint32_t paramId;
    uint8_t paramValue[128];
};

enum : uint32_t {
    kParamFrequency = 1,
    kParamVolume = 2,
    kParamRate = 4,
    kParamLanguage = 64,
    kParamVoice = 128,
    kParamUnknown512 = 512,    // always sent with 10491
    kParamUnknown2048 = 2048,  // always sent with 15
};

// The record of a notification; the engine hands its address to notify.
struct EngineMessage {
    uint32_t code;
    uint32_t reserved;
    void* data;  // an OutBufferInfo for codes 8 and 16
};

// The engine's output-buffer record for the buffer messages.
struct OutBufferInfo {
    uint32_t reserved;
    uint32_t size;
    void* buffer;
    uint32_t zero12;
    uint32_t zero16;
};

enum : uint32_t {
    kMsgBeginProcess = 1,
    kMsgEndProcess = 2,
    kMsgOutBufRequest = 8,
    kMsgOutBufDone = 16,
    kMsgStop = 32,
    kMsgPause = 64,
    kMsgResume = 128,
};

// Called by the engine with four words; returns 0.
typedef int32_t(ENGINE_CALL* EngineNotifyFn)(uint32_t first, uint32_t second, FILE* stream,
                                             const EngineMessage* message);

struct OutDeviceRecord {
    uint32_t zero;
    EngineNotifyFn notify;
};

struct TextRecord {
    uint32_t zero;
    uint32_t length;  // bytes, without the NUL
    const char* text;
};

// Entry-point shapes. c0/c1, i0/i1, d0/d1: the two words of a handle.
typedef int32_t(ENGINE_CALL* TtsInitializeFn)(const char* folder, EngineClassHandle* outClass);
typedef int32_t(ENGINE_CALL* TtsGetEngineListFn)(uint32_t c0, uint32_t c1, int32_t one,
                                                 EngineEntry* list, int32_t* count);
typedef int32_t(ENGINE_CALL* TtsGetLanguageListFn)(uint32_t c0, uint32_t c1,
                                                   const EngineEntry* engine, LanguageEntry* list,
                                                   int32_t* count);
typedef int32_t(ENGINE_CALL* TtsClassFn)(uint32_t c0, uint32_t c1);
typedef int32_t(ENGINE_CALL* TtsOpenFn)(uint32_t c0, uint32_t c1, const EngineEntry* engine,
                                        EngineInstanceHandle* outInstance, int32_t zero);
typedef int32_t(ENGINE_CALL* TtsInstanceFn)(uint32_t i0, uint32_t i1);
typedef int32_t(ENGINE_CALL* TtsSetOutDeviceFn)(uint32_t i0, uint32_t i1,
                                                const OutDeviceRecord* device);
typedef int32_t(ENGINE_CALL* TtsGetInstStatusFn)(uint32_t i0, uint32_t i1, int32_t* outStatus);
typedef int32_t(ENGINE_CALL* TtsSetParamListFn)(uint32_t i0, uint32_t i1,
                                                const ParamRecord* params, int32_t count);
typedef int32_t(ENGINE_CALL* TtsGetVoiceListFn)(uint32_t c0, uint32_t c1,
                                                const EngineEntry* engine,
                                                const LanguageEntry* language, VoiceEntry* list,
                                                int32_t* count);
typedef int32_t(ENGINE_CALL* TtsLoadDictionaryFn)(uint32_t i0, uint32_t i1, int32_t one,
                                                  const void* bytes, uint32_t size,
                                                  EngineDictionaryHandle* outDictionary);
typedef int32_t(ENGINE_CALL* TtsUnloadDictionaryFn)(uint32_t i0, uint32_t i1, uint32_t d0,
                                                    uint32_t d1);
typedef int32_t(ENGINE_CALL* TtsSetTextFn)(uint32_t i0, uint32_t i1, const TextRecord* text);
typedef const char*(ENGINE_CALL* TtsErrorGetStringFn)(uint32_t code);
typedef int32_t(ENGINE_CALL* TtsSpeakFn)(uint32_t i0, uint32_t i1, int32_t zero);
// Bound but never called; only their presence is required.
typedef int32_t(ENGINE_CALL* TtsUnusedFn)();

// The thirty entry points in slot order, one row each: exported name (an
// identifier, so that an engine's own definitions can be checked against it),
// slot field in EngineApi, entry-point shape. The record, the name table, the
// binding loop and the engines' checks are all made from this list, so a name
// cannot sit beside the wrong slot.
#define ENGINE_ENTRY_POINTS(X)                                                                 \
    X(ssft_ttsInitialize,              initialize,            TtsInitializeFn       ) /*  0 */ \
    X(ssft_ttsGetEngineList,           getEngineList,         TtsGetEngineListFn    ) /*  1 */ \
    X(ssft_ttsGetLanguageList,         getLanguageList,       TtsGetLanguageListFn  ) /*  2 */ \
    X(ssft_ttsUnInitialize,            unInitialize,          TtsClassFn            ) /*  3 */ \
    X(ssft_ttsOpen,                    open,                  TtsOpenFn             ) /*  4 */ \
    X(ssft_ttsClose,                   close,                 TtsInstanceFn         ) /*  5 */ \
    X(ssft_ttsSetInDevice,             setInDevice,           TtsUnusedFn           ) /*  6 */ \
    X(ssft_ttsSetOutDevice,            setOutDevice,          TtsSetOutDeviceFn     ) /*  7 */ \
    X(ssft_ttsProcess,                 process,               TtsUnusedFn           ) /*  8 */ \
    X(ssft_ttsStop,                    stop,                  TtsInstanceFn         ) /*  9 */ \
    X(ssft_ttsPause,                   pause,                 TtsInstanceFn         ) /* 10 */ \
    X(ssft_ttsResume,                  resume,                TtsInstanceFn         ) /* 11 */ \
    X(ssft_ttsGetInstStatus,           getInstStatus,         TtsGetInstStatusFn    ) /* 12 */ \
    X(ssft_ttsSetParamList,            setParamList,          TtsSetParamListFn     ) /* 13 */ \
    X(ssft_ttsGetParamList,            getParamList,          TtsUnusedFn           ) /* 14 */ \
    X(ssft_ttsGetLipSyncInfo,          getLipSyncInfo,        TtsUnusedFn           ) /* 15 */ \
    X(ssft_ttsGetPPList,               getPPList,             TtsUnusedFn           ) /* 16 */ \
    X(ssft_ttsBackward,                backward,              TtsUnusedFn           ) /* 17 */ \
    X(ssft_ttsForward,                 forward,               TtsUnusedFn           ) /* 18 */ \
    X(ssft_ttsGetVoiceList,            getVoiceList,          TtsGetVoiceListFn     ) /* 19 */ \
    X(ssft_ttsGetSpeechDBList,         getSpeechDBList,       TtsUnusedFn           ) /* 20 */ \
    X(ssft_ttsLoadDictionary,          loadDictionary,        TtsLoadDictionaryFn   ) /* 21 */ \
    X(ssft_ttsUnloadDictionary,        unloadDictionary,      TtsUnloadDictionaryFn ) /* 22 */ \
    X(ssft_ttsActivateDictionary,      activateDictionary,    TtsUnusedFn           ) /* 23 */ \
    X(ssft_ttsDeactivateDictionary,    deactivateDictionary,  TtsUnusedFn           ) /* 24 */ \
    X(ssft_ttsSetText,                 setText,               TtsSetTextFn          ) /* 25 */ \
    X(ssft_ttsGetWordTranscriptions,   getWordTranscriptions, TtsUnusedFn           ) /* 26 */ \
    X(ssft_ttsFreeTranscriptions,      freeTranscriptions,    TtsUnusedFn           ) /* 27 */ \
    X(ssft_ttsErrorGetString,          errorGetString,        TtsErrorGetStringFn   ) /* 28 */ \
    X(ssft_ttsSpeak,                   speak,                 TtsSpeakFn            ) /* 29 */

struct EngineApi {
#define ENGINE_API_SLOT(name, field, type) type field;
    ENGINE_ENTRY_POINTS(ENGINE_API_SLOT)
#undef ENGINE_API_SLOT
};

constexpr int kEngineApiSlots = 30;
// The exported names, in slot order.
extern const char* const kEngineEntryNames[kEngineApiSlots];

// Fills every slot of api with lookup(name), a void* that is null for a name
// the library lacks. Every name is looked up, in slot order, even after a miss.
// True when all thirty were found.
template <typename Lookup>
bool BindEngineApi(EngineApi& api, Lookup&& lookup) {
    bool complete = true;
#define ENGINE_API_BIND(name, field, type)            \
    api.field = reinterpret_cast<type>(lookup(#name)); \
    if (!api.field) complete = false;
    ENGINE_ENTRY_POINTS(ENGINE_API_BIND)
#undef ENGINE_API_BIND
    return complete;
}

// For a library that implements the engine (the simulated engines, the eSpeak NG
// engine, the threaded test engine): written after its definitions of the
// thirty entry points, checks at compile time that each has the shape of its
// slot, so an engine cannot drift from this list.
#define ENGINE_CHECK_ENTRY_POINT(name, field, type) \
    static_assert(std::is_same<decltype(&name), type>::value, #name " has the shape of its slot");
#define ENGINE_CHECK_ENTRY_POINTS() ENGINE_ENTRY_POINTS(ENGINE_CHECK_ENTRY_POINT)

// The engine is 32-bit; the native build of the core for the sanitizers has
// 8-byte pointers, and only the records holding a pointer grow there.
constexpr bool kPointer32 = sizeof(void*) == 4;
#if defined(_WIN32)
static_assert(kPointer32, "the engine interface is 32-bit");
#endif
static_assert(sizeof(EngineClassHandle) == 8 && sizeof(EngineInstanceHandle) == 8 &&
                  sizeof(EngineDictionaryHandle) == 8,
              "handles are two words");
static_assert(sizeof(EngineEntry) == 388 && sizeof(LanguageEntry) == 260 &&
                  sizeof(VoiceEntry) == 640,
              "list entry sizes");
static_assert(sizeof(ParamRecord) == 132 && offsetof(ParamRecord, paramValue) == 4,
              "ParamRecord layout");
static_assert(offsetof(EngineMessage, data) == 8 && (!kPointer32 || sizeof(EngineMessage) == 12),
              "EngineMessage layout");
static_assert(offsetof(OutBufferInfo, size) == 4 && offsetof(OutBufferInfo, buffer) == 8 &&
                  (!kPointer32 || (sizeof(OutBufferInfo) == 20 && offsetof(OutBufferInfo, zero12) == 12 &&
                                   offsetof(OutBufferInfo, zero16) == 16)),
              "OutBufferInfo layout");
static_assert(!kPointer32 || (sizeof(OutDeviceRecord) == 8 && offsetof(OutDeviceRecord, notify) == 4),
              "OutDeviceRecord layout");
static_assert(offsetof(TextRecord, length) == 4 && offsetof(TextRecord, text) == 8 &&
                  (!kPointer32 || sizeof(TextRecord) == 12),
              "TextRecord layout");
static_assert(sizeof(EngineApi) == kEngineApiSlots * sizeof(void*), "thirty slots");
static_assert(offsetof(EngineApi, initialize) == 0 &&
                  offsetof(EngineApi, setOutDevice) == 7 * sizeof(void*) &&
                  offsetof(EngineApi, setParamList) == 13 * sizeof(void*) &&
                  offsetof(EngineApi, getVoiceList) == 19 * sizeof(void*) &&
                  offsetof(EngineApi, setText) == 25 * sizeof(void*) &&
                  offsetof(EngineApi, errorGetString) == 28 * sizeof(void*) &&
                  offsetof(EngineApi, speak) == 29 * sizeof(void*),
              "slot order");
