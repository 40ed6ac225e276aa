/* kal_drv.h - the host interface of kal_drv.dll, a 32-bit speech-synthesizer driver.
 *
 * Usable from C and C++ with any Windows compiler. Every export uses the cdecl
 * calling convention and takes and returns 32-bit values. Texts are 8-bit and
 * NUL-terminated in the code page of the current voice, except for the two
 * UTF-16 arguments (kal_Synth, kal_SetPunctuationList), whose units are
 * kal_char16: wchar_t on Windows, a 16-bit type in a native build of the core.
 */
#ifndef KAL_DRV_H
#define KAL_DRV_H

#include <stddef.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_MSC_VER) || defined(__MINGW32__) || defined(__CYGWIN__)
#define KAL_CDECL __cdecl
#else
#define KAL_CDECL
#endif

#if defined(KAL_BUILDING_DRIVER) || !defined(_WIN32)
#define KAL_API
#else
#define KAL_API __declspec(dllimport)
#endif

/* One UTF-16 code unit. */
#if defined(_WIN32)
typedef wchar_t kal_char16;
#elif defined(__cplusplus)
typedef char16_t kal_char16;
#else
#include <stdint.h>
typedef uint_least16_t kal_char16;
#endif

/* Messages a synth callback receives in KalSynthEvent.message. */
#define KAL_MSG_BEGIN 1 /* a text has begun */
#define KAL_MSG_END 2   /* a text has ended */

/* Parameter numbers of kal_SetParameter and kal_GetParameter (values up to 100). */
#define KAL_PARAM_RATE 1   /* default 50 */
#define KAL_PARAM_VOLUME 2 /* default 100 */

/* The record a synth callback receives. There is one: it is rewritten by every
 * notification, so copy what you need before returning. */
typedef struct KalSynthEvent {
    int message; /* KAL_MSG_BEGIN or KAL_MSG_END */
    int mark;    /* mark index of the text most recently handed to the engine */
    int reserved1;
    int reserved2;
} KalSynthEvent;

/* Called on the engine's notification thread; its result is ignored. */
typedef int(KAL_CDECL* KalSynthCallback)(const KalSynthEvent* event);

/* One voice as the driver describes it; also the filter of kal_ListVoices and
 * kal_SetVoiceByProperties (null pointers leave a field out of the filter). */
typedef struct KalVoiceDescriptor {
    const char* name;       /* display name, at most 39 characters */
    const char* language;   /* four-digit language code, e.g. "0049" */
    const char* identifier; /* language code, "-", name, e.g. "0049-Anna" */
    unsigned char gender;   /* from the profile section "Gender" */
    unsigned char age;      /* always 32 */
    unsigned short genderHigh; /* bits 16-31 of the profile's gender value */
} KalVoiceDescriptor;

#if defined(__cplusplus) && __cplusplus >= 201103L
static_assert(sizeof(KalSynthEvent) == 16, "KalSynthEvent is four 32-bit words");
static_assert(sizeof(kal_char16) == 2, "UTF-16 units are 16 bits");
static_assert(offsetof(KalVoiceDescriptor, gender) == 3 * sizeof(void*) &&
                  offsetof(KalVoiceDescriptor, age) == 3 * sizeof(void*) + 1,
              "three text pointers, then gender and age");
/* The driver's own layout; a native 64-bit build of the core has 8-byte pointers. */
static_assert(sizeof(void*) != 4 || sizeof(KalVoiceDescriptor) == 16,
              "KalVoiceDescriptor layout of the 32-bit driver");
#else
typedef char kal_synth_event_size[sizeof(KalSynthEvent) == 16 ? 1 : -1];
#endif

/* Lifecycle: the engine starts when the DLL is loaded. Returns the sample rate
 * in Hz, or -1 when the engine could not be started (see kal.pro). */
KAL_API int KAL_CDECL kal_Initialize(void);
KAL_API int KAL_CDECL kal_Terminate(void);
/* The identification string, with the build stamp. */
KAL_API const char* KAL_CDECL kal_Info(void);
/* Register before the first text; returns the pointer given. */
KAL_API int KAL_CDECL kal_SetSynthCallback(KalSynthCallback callback);
KAL_API void* KAL_CDECL kal_SetUriCallback(void* callback);

/* Speaking. Each queues one text (16 slots; the 17th overwrites the oldest). */
KAL_API int KAL_CDECL kal_Synth(const kal_char16* text, int mark);
KAL_API int KAL_CDECL kal_Synth_Mark(const char* text, const char* marker, int mark);
KAL_API int KAL_CDECL kal_Key(const char* text);
KAL_API int KAL_CDECL kal_Char(int code);

/* Settings. */
KAL_API int KAL_CDECL kal_SetParameter(int parameter, int value, int relative);
KAL_API int KAL_CDECL kal_GetParameter(int parameter, int current);
KAL_API int KAL_CDECL kal_SetPunctuationList(const kal_char16* list);

/* Voices. The list ends with a null pointer. */
KAL_API KalVoiceDescriptor** KAL_CDECL kal_ListVoices(KalVoiceDescriptor* filter);
KAL_API int KAL_CDECL kal_SetVoiceByName(const char* nameOrIdentifier);
KAL_API int KAL_CDECL kal_SetVoiceByProperties(KalVoiceDescriptor* filter);
KAL_API KalVoiceDescriptor* KAL_CDECL kal_GetCurrentVoice(void);

/* Playback control. */
KAL_API int KAL_CDECL kal_Pause(int value);
KAL_API int KAL_CDECL kal_Stop(void);
KAL_API int KAL_CDECL kal_IsPlaying(void);
KAL_API int KAL_CDECL kal_Synchronize(void);

#ifdef __cplusplus
}
#endif

#endif /* KAL_DRV_H */
