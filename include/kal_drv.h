/* kal_drv.h - the host interface of kal_drv.dll, a 32-bit speech-synthesizer driver.
 *
 * Usable from C and C++ with any Windows compiler. Every export uses the cdecl
 * calling convention and takes and returns 32-bit values. Texts are 8-bit and
 * NUL-terminated in the code page of the current voice, except for the two
 * UTF-16 arguments (kal_Synth, kal_SetPunctuationList), whose units are
 * kal_char16: wchar_t on Windows, a 16-bit type in a native build of the core.
 *
 * 64-bit hosts load kal_drv64.dll instead: the same exports and records (with
 * 64-bit pointers), served by the 32-bit driver in a helper process. Through it
 * each call also waits for its round trip to the helper (about a microsecond
 * when both sides are awake, a wake-up of a few hundred microseconds when not),
 * and the first call, or a kal_Initialize that replaces a helper that died,
 * waits for the helper's start (at most 30 s (kHelperStartMs)). Calls travel in lanes that do
 * not wait for each other: kal_IsPlaying and kal_GetParameter wait only for
 * each other's round trips, never for a text's hand-over, a stop or a wait;
 * kal_Info is answered in the bridge. The lanes have four slots for the calls that
 * hand texts over, select voices or start and stop the engine; one that the
 * kal_Synchronize calls share; two for kal_Pause and kal_Stop; two for
 * kal_IsPlaying, kal_GetParameter and the callbacks' registration. A call that
 * finds every slot of its lane busy waits at most 30 s (kSlotClaimMs) for one, then answers as
 * without an engine.
 * A helper that cannot start leaves every export answering as without an
 * engine; why is written to kal.pro beside the DLL (DEBUG 1 or more), never
 * into kal_Info.
 *
 * Isolated mode ([Default] Isolation=1 in kal.ini, read when the DLL loads):
 * kal_drv.dll serves a 32-bit host the same way, with the driver and its
 * engine in kal_host32.exe beside it, at the same costs; natively
 * libkal_drv.so does so with kal_helper (its costs: docs/integration.md). In both, a helper that
 * dies (the engine crashed, aborted, or hung in a call for 5 s (kWatchCallLimitMs),
 * or took more than 1 GB (kWatchMemoryLimitMB); or the helper did not answer a
 * call in 20 s (kAnswerMs)) is replaced without
 * any call of the host: the text being spoken gets its end event (a text that
 * failed as the one before it ended is tried once more), the texts queued
 * behind it are spoken by the new helper with the host's callback, voice,
 * rate, volume and punctuation list, calls made while it starts wait for it,
 * and kal.pro says what happened. A helper that dies again within
 * 2 s (kQuickDeathMs) is restarted after a pause of 250 ms (kBackoffFirstMs) to
 * 8 s (kBackoffMaxMs). See docs/integration.md.
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

/* The record a synth callback receives: each call gets a record of its own,
 * valid until the callback returns, so copy what you need before returning. */
typedef struct KalSynthEvent {
    int message; /* KAL_MSG_BEGIN or KAL_MSG_END */
    int mark;    /* mark index of the text most recently handed to the engine */
    int reserved1;
    int reserved2;
} KalSynthEvent;

/* Called on the engine's notification thread (or, with an engine that notifies
 * synchronously, on the thread of the call that started the text; through
 * kal_drv64.dll and in isolated mode, on the bridge's event thread); its result is
 * ignored. It should return soon: the next text waits for it. From inside it the
 * host may call kal_Synth, kal_Synth_Mark, kal_Key, kal_Char, kal_IsPlaying,
 * kal_GetParameter, kal_Info, kal_SetSynthCallback and kal_SetUriCallback, and
 * kal_Stop and kal_Pause, which there never wait for another thread's call (they
 * may run beside it). kal_SetParameter, kal_SetPunctuationList, kal_ListVoices,
 * kal_SetVoiceByName, kal_SetVoiceByProperties and kal_GetCurrentVoice run there
 * only when no other thread's call of the kind that waits for one another (see
 * "Threads" below) is running or waiting; else they are refused at once, with
 * their refusal result, and a protocol line. It must not call kal_Synchronize
 * (which would wait for the callback itself), kal_Terminate or kal_Initialize
 * (which close the engine whose thread it runs on): called from inside the
 * callback, these three return -1 at once and do nothing else. Unloading the
 * driver (FreeLibrary) from inside the callback leaves it and the engine loaded
 * until the process ends (through a helper: the DLL stays, the helper ends), and
 * the callback is not called again; a new load speaks as a fresh one. */
typedef int(KAL_CDECL* KalSynthCallback)(const KalSynthEvent* event);

/* One voice as the driver describes it. The driver owns these records and their
 * texts: they stay at their addresses for the life of the process; read them only. */
typedef struct KalVoiceDescriptor {
    const char* name;       /* display name, at most 39 characters */
    const char* language;   /* four-digit language code, e.g. "0049" */
    const char* identifier; /* language code, "-", name, e.g. "0049-Anna" */
    unsigned char gender;   /* from the profile section "Gender" */
    unsigned char age;      /* always 32 */
    unsigned short genderHigh; /* bits 16-31 of the profile's gender value */
} KalVoiceDescriptor;

/* The filter of kal_ListVoices and kal_SetVoiceByProperties, laid out as a
 * KalVoiceDescriptor; a null pointer leaves its field out of the filter.
 * The driver WRITES into `language`: a language name (e.g. "de") is translated
 * through the profile section "L-Trans" and the translation (e.g. "0049") replaces
 * the host's text when it is no longer. So `language` must point to a writable,
 * NUL-terminated buffer of the host's, never to a string literal. */
typedef struct KalVoiceFilter {
    const char* name;
    char* language;
    const char* identifier;
    unsigned char gender;
    unsigned char age;
    unsigned short genderHigh;
} KalVoiceFilter;

#if defined(__cplusplus) && __cplusplus >= 201103L
static_assert(sizeof(KalSynthEvent) == 16, "KalSynthEvent is four 32-bit words");
static_assert(sizeof(kal_char16) == 2, "UTF-16 units are 16 bits");
static_assert(sizeof(KalVoiceFilter) == sizeof(KalVoiceDescriptor) &&
                  offsetof(KalVoiceFilter, language) == offsetof(KalVoiceDescriptor, language) &&
                  offsetof(KalVoiceFilter, gender) == offsetof(KalVoiceDescriptor, gender) &&
                  offsetof(KalVoiceFilter, genderHigh) == offsetof(KalVoiceDescriptor, genderHigh),
              "a filter is laid out as a descriptor");
static_assert(sizeof(void*) != 4 || (sizeof(KalVoiceDescriptor) == 16 && offsetof(KalVoiceDescriptor, gender) == 12 &&
                                     offsetof(KalVoiceDescriptor, age) == 13),
              "KalVoiceDescriptor layout of the 32-bit driver");
/* kal_drv64.dll, and a native 64-bit build of the core: three 8-byte pointers,
 * then the same four bytes, padded to 32. */
static_assert(sizeof(void*) != 8 || (sizeof(KalVoiceDescriptor) == 32 && offsetof(KalVoiceDescriptor, gender) == 24 &&
                                     offsetof(KalVoiceDescriptor, age) == 25 &&
                                     offsetof(KalVoiceDescriptor, genderHigh) == 26),
              "KalVoiceDescriptor layout with 8-byte pointers");
#else
typedef char kal_synth_event_size[sizeof(KalSynthEvent) == 16 ? 1 : -1];
typedef char kal_voice_filter_size[sizeof(KalVoiceFilter) == sizeof(KalVoiceDescriptor) ? 1 : -1];
/* 16 bytes with 4-byte pointers, 32 with 8-byte ones (kal_drv64.dll, libkal_drv.so). */
typedef char kal_voice_descriptor_size[sizeof(KalVoiceDescriptor) == (sizeof(void*) == 8 ? 32 : 16) ? 1 : -1];
#endif

/* Threads: every export may be called from any host thread at any time; calls
 * that overlap give the results of the same calls made one after another. A call
 * waits for another only for that call's own bounded work (a text being handed
 * to the engine, at most 2 s (kHandOverWaitMs) for an engine that hangs; a stop's polls; a start-up
 * or shut-down). Nothing the engine throws reaches the host: every engine call
 * catches C++ exceptions, on Windows those of the system's usual C++ compiler too;
 * nor does anything the synth callback throws reach the engine. The calls that
 * change the engine session or read what a start-up rewrites (kal_Initialize,
 * kal_Terminate, kal_SetParameter, kal_SetPunctuationList, kal_ListVoices with a
 * filter, kal_SetVoiceByName, kal_SetVoiceByProperties, kal_GetCurrentVoice,
 * kal_Pause, kal_Stop) run one at a time, in the order they came; a kal_Stop goes
 * ahead of every waiting call that is not a stop, so it waits only for the call
 * running (a voice selection: its engine's calls, at most
 * 0.5 s (kStopPolls × kStopPollMs) of stop polls).
 * A call that has waited 10 s (kHostCallWaitMs) for the calls ahead of it is refused: it does
 * nothing and returns its refusal result: -1 for kal_Initialize, kal_Terminate,
 * kal_SetParameter, kal_SetPunctuationList, kal_SetVoiceByName,
 * kal_SetVoiceByProperties, kal_Pause and kal_Stop (each returns 0 when it ran);
 * kal_ListVoices the list as it stands; kal_GetCurrentVoice the first voice's
 * record. A host thread ended inside such a call (killed) holds nothing: the
 * next call goes on within 0.2 s (kGateOwnerCheckMs) of finding it gone. */

/* Starts the engine again if its start at load failed (the engine starts when the
 * DLL is loaded). Returns the sample rate in Hz, or -1 when the engine could not
 * be started (see kal.pro). Blocks for a start-up: the engine's own time, plus
 * at most 1 s (kNotificationDrainMs) for notifications still running after a
 * kal_Terminate. An engine that fails or throws during its start-up gives -1; the call may be repeated. */
KAL_API int KAL_CDECL kal_Initialize(void);
/* Drops every queued text and shuts the engine down; 0 (-1 only when refused,
 * see "Threads" above and KalSynthCallback). With an engine that never reports
 * idle it blocks at most 6.6 s (kHandOverWaitMs + kStopPolls × kStopPollMs + kShutdownSettleMs + kShutdownIdleLimitMs + kNotificationDrainMs):
 * a hand-over, 0.5 s (kStopPolls × kStopPollMs) of stop polls, a pause,
 * 3 s (kShutdownIdleLimitMs) of idle polls and 1 s (kNotificationDrainMs) for
 * running notifications; when it returns the synth callback is not called again until the next kal_Initialize. */
KAL_API int KAL_CDECL kal_Terminate(void);
/* The identification string, with the build stamp (the time, UTC, of the commit
 * built, when built from a git checkout): static, never changes. */
KAL_API const char* KAL_CDECL kal_Info(void);
/* Register before the first text; returns the pointer given. Never blocks. */
KAL_API int KAL_CDECL kal_SetSynthCallback(KalSynthCallback callback);
/* Stored only; the driver never calls it. Never blocks. */
KAL_API void* KAL_CDECL kal_SetUriCallback(void* callback);

/* Speaking. Each queues one text (16 slots; the 17th overwrites the oldest) and
 * returns 0. When the engine is idle the call hands the next text to the engine
 * itself and then waits 50 ms (kSpeakStartWaitMs), so it blocks about that
 * plus the engine's start,
 * and at most one other thread's hand-over before it. kal_Synth takes UTF-16,
 * converted to the current voice's code page; kal_Synth_Mark speaks what follows
 * the first occurrence of marker (the whole text without one); kal_Key speaks a
 * text with mark 0; kal_Char speaks the name the profile section "CharName"
 * gives the character (its four hex digits without one). Texts are cut to
 * 4095 bytes at a character boundary. */
KAL_API int KAL_CDECL kal_Synth(const kal_char16* text, int mark);
KAL_API int KAL_CDECL kal_Synth_Mark(const char* text, const char* marker, int mark);
KAL_API int KAL_CDECL kal_Key(const char* text);
KAL_API int KAL_CDECL kal_Char(int code);

/* Settings: KAL_PARAM_RATE and KAL_PARAM_VOLUME, 0 to 100 (larger values are
 * ignored, negative ones taken as 0; the profile's "Rate" and "Volume" are
 * clamped to 0..100). kal_GetParameter(p, 0) gives the default, (p, 1) the current
 * value; it never blocks. kal_SetParameter passes the value to the engine. The
 * punctuation list is stored and written to the protocol only. kal_SetParameter
 * and kal_SetPunctuationList return 0, -1 when refused (see "Threads"). */
KAL_API int KAL_CDECL kal_SetParameter(int parameter, int value, int relative);
KAL_API int KAL_CDECL kal_GetParameter(int parameter, int current);
KAL_API int KAL_CDECL kal_SetPunctuationList(const kal_char16* list);

/* Voices. kal_ListVoices returns the driver's own list, null-terminated, rewritten
 * by the next call: every voice without a filter, or those whose language, name
 * or identifier equals the filter's. kal_SetVoiceByName takes a display name or
 * an identifier ("0049-Anna"); kal_SetVoiceByProperties the last voice the filter
 * matches. Selecting a voice stops speech first (at most 0.5 s (kStopPolls × kStopPollMs) of polls) and
 * loads its dictionary; both return 0, -1 when refused (see "Threads").
 * kal_GetCurrentVoice returns the current voice's record. See KalVoiceFilter for
 * the text the driver writes. */
KAL_API KalVoiceDescriptor** KAL_CDECL kal_ListVoices(KalVoiceFilter* filter);
KAL_API int KAL_CDECL kal_SetVoiceByName(const char* nameOrIdentifier);
KAL_API int KAL_CDECL kal_SetVoiceByProperties(KalVoiceFilter* filter);
KAL_API KalVoiceDescriptor* KAL_CDECL kal_GetCurrentVoice(void);

/* Playback control. kal_Pause pauses speech, or resumes it when paused or when
 * the pause it asked for has not been reported by the engine yet (so two presses
 * in a row resume), with one engine call (its argument is only logged); it waits
 * for nothing but the calls that change the engine session (at most 10 s (kHostCallWaitMs), see
 * "Threads"; from inside the synth callback not at all). kal_Stop drops every
 * queued text and stops the engine, waiting at most 0.5 s (kStopPolls × kStopPollMs) for it to report idle.
 * Both return 0, -1 when refused. kal_IsPlaying is 1 while a text is spoken,
 * handed over or waiting (a pause with nothing waiting is 0); it never blocks.
 * kal_Synchronize returns when everything queued has been spoken and the host's
 * callback has heard the last end; it has no time limit (it waits as long as
 * speech lasts, and for ever while paused with texts waiting, until another
 * thread resumes or stops). */
KAL_API int KAL_CDECL kal_Pause(int value);
KAL_API int KAL_CDECL kal_Stop(void);
KAL_API int KAL_CDECL kal_IsPlaying(void);
KAL_API int KAL_CDECL kal_Synchronize(void);

#ifdef __cplusplus
}
#endif

#endif /* KAL_DRV_H */
