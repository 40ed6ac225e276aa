// Configuration and logging: the profile kal.ini beside the library, and the
// German protocol kal.pro.
#pragma once
#include <cstdint>

// --- Paths ------------------------------------------------------------------------
// The library's folder with its trailing backslash, and ModuleFolder + "kal.ini".
// Set at process attach before the first access, read-only afterwards.
extern char ModuleFolder[256];
extern char ProfilePath[256];

// --- Profile ---------------------------------------------------------------------

// 1 when the section holds the key with a non-empty value.
int32_t ProfileHasKey(const char* key, const char* section);
// Writes the value as signed decimal; a failed write is ignored. Always 1.
int32_t ProfileWriteInt(const char* key, int32_t value, const char* section);
// 0: value from the profile; 1: the default was used and written.
int32_t ProfileGetInt(const char* key, int32_t* out, int32_t fallback, const char* section);
// As ProfileGetInt, for texts: out receives at most outSize - 1 characters
// (of at most 2047 read) and is always terminated.
int32_t ProfileGetString(const char* key, char* out, uint32_t outSize, const char* fallback,
                         const char* section);

// --- Protocol ----------------------------------------------------------------------
// 0: protocol off. Read once at process attach.
extern int32_t DebugLevel;
// Full path of kal.pro; empty while the protocol is off.
extern char LogPath[256];

// Level tags: the first character is the level digit, the rest is printed.
#define LOG_ERR "0ERR:"
#define LOG_DLL "1DLL "
#define LOG_HOST "2KAL_"
#define LOG_ENGINE "3KAL "
#define LOG_QUEUE "3Buf "

// Whether a line with this tag reaches the protocol: callers format a detail
// only when it does.
inline bool LogEnabled(const char* tag) { return DebugLevel != 0 && tag[0] - '0' < DebugLevel; }

// One protocol line: "<label>: <text>[ <detail>]". A null text is written as
// "(null)", a null detail is left out. Callable from any thread; lines stay whole.
void LogWrite(const char* tag, const char* text, const char* detail = nullptr);
// As LogWrite, with the text formatted like printf.
void LogWriteFormat(const char* tag, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Creates the protocol anew with its header, which names the driver by its
// identification text, when DebugLevel is non-zero.
void LogOpen(const char* path, const char* identification);
// Appends the footer.
void LogClose();
// At process exit other threads are gone, maybe in the middle of a line: from
// then on a line is written only when the protocol's lock is free at once.
void LogNeverWait();

// "MM/DD/YY" and "HH:MM:SS" of the local clock, each into a 9-byte buffer.
void LogDateText(char* out);
void LogTimeText(char* out);
