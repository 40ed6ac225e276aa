/* kal_exports.h - the twenty exports of kal_drv.h as one list, for the code
   that implements, forwards or binds them (the driver, the 64-bit bridge and
   its opcodes, the 32-bit helper, kalsay's binding). A host needs only
   kal_drv.h.

   One row per export, in the order of the .def files: short name (the bridge's
   opcode, the binding's field), exported function, result type, parameters.
   From C++, including this header checks at compile time that every prototype
   of kal_drv.h has its row's type; each .def file and the native version
   script are compared with the rows when the build is configured
   (cmake/exports.cmake). */
#ifndef KAL_EXPORTS_H
#define KAL_EXPORTS_H

#include "kal_drv.h"

#define KAL_EXPORTS(X)                                                                                \
    X(Initialize,           kal_Initialize,           int,                  (void))                       \
    X(Terminate,            kal_Terminate,            int,                  (void))                       \
    X(Info,                 kal_Info,                 const char*,          (void))                       \
    X(SetSynthCallback,     kal_SetSynthCallback,     int,                  (KalSynthCallback callback))  \
    X(SetUriCallback,       kal_SetUriCallback,       void*,                (void* callback))             \
    X(Synth,                kal_Synth,                int,                  (const kal_char16* text, int mark)) \
    X(SynthMark,            kal_Synth_Mark,           int,                  (const char* text, const char* marker, int mark)) \
    X(Key,                  kal_Key,                  int,                  (const char* text))           \
    X(Char,                 kal_Char,                 int,                  (int code))                   \
    X(SetParameter,         kal_SetParameter,         int,                  (int parameter, int value, int relative)) \
    X(GetParameter,         kal_GetParameter,         int,                  (int parameter, int current)) \
    X(SetPunctuationList,   kal_SetPunctuationList,   int,                  (const kal_char16* list))     \
    X(ListVoices,           kal_ListVoices,           KalVoiceDescriptor**, (KalVoiceFilter* filter))     \
    X(SetVoiceByName,       kal_SetVoiceByName,       int,                  (const char* nameOrIdentifier)) \
    X(SetVoiceByProperties, kal_SetVoiceByProperties, int,                  (KalVoiceFilter* filter))     \
    X(GetCurrentVoice,      kal_GetCurrentVoice,      KalVoiceDescriptor*,  (void))                       \
    X(Pause,                kal_Pause,                int,                  (int value))                  \
    X(Stop,                 kal_Stop,                 int,                  (void))                       \
    X(IsPlaying,            kal_IsPlaying,            int,                  (void))                       \
    X(Synchronize,          kal_Synchronize,          int,                  (void))

#define KAL_EXPORT_COUNT_ONE(name, function, result, parameters) +1
enum { KAL_EXPORT_COUNT = 0 KAL_EXPORTS(KAL_EXPORT_COUNT_ONE) };
#undef KAL_EXPORT_COUNT_ONE

/* The pointer type of an export, as its row gives it. */
#define KAL_EXPORT_POINTER(result, parameters) result(KAL_CDECL*) parameters

#if defined(__cplusplus) && __cplusplus >= 201103L
#include <type_traits>
/* A prototype of kal_drv.h that drifts from its row fails here; a definition
   that drifts from the prototype is a conflicting declaration of a C function. */
#define KAL_CHECK_EXPORT(name, function, result, parameters)                                    \
    static_assert(std::is_same<decltype(&function), KAL_EXPORT_POINTER(result, parameters)>::value, \
                  #function " has the type of its row in KAL_EXPORTS");
KAL_EXPORTS(KAL_CHECK_EXPORT)
#undef KAL_CHECK_EXPORT
static_assert(KAL_EXPORT_COUNT == 20, "the driver has twenty exports");
#endif

#endif /* KAL_EXPORTS_H */
