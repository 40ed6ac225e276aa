// Configuration and logging: the profile kal.ini beside the library, and the
// protocol kal.pro (German messages beside the calls' own names).
#pragma once
#include <cstddef>
#include <cstdint>

// --- Paths ------------------------------------------------------------------------
// The library's folder with its trailing backslash. Owned by config/: written
// only by ConfigSetModuleFolder, at process attach before the first access;
// read by driver/ (profile and protocol paths), engine/ (library and engine
// folder) and voices/ (dictionary path).
extern const char (&ModuleFolder)[256];
// ModuleFolder := moduleFileName cut directly after its last backslash (all of
// it when it has none), at most 255 characters.
void ConfigSetModuleFolder(const char* moduleFileName);

// --- Texts ------------------------------------------------------------------------
// Copies text, read no further than textLimit bytes, into out, cut to outSize - 1
// bytes and always terminated (nothing is written when outSize is 0). Returns
// the bytes copied. The one bounded copy every fixed-size text buffer uses.
size_t CopyCut(char* out, size_t outSize, const char* text, size_t textLimit = SIZE_MAX);

// --- Profile ---------------------------------------------------------------------
// The profile the calls below read and write, cut to 255 characters. Set at
// process attach (ModuleFolder + "kal.ini") before the first access.
void ProfileSetPath(const char* path);

// 1 when the section holds the key with a non-empty value.
int32_t ProfileHasKey(const char* key, const char* section);
// Writes the value as signed decimal; a failed write is ignored. Always 1.
int32_t ProfileWriteInt(const char* key, int32_t value, const char* section);
// 0: value from the profile; 1: the default was used and written. Callers that
// want only the value ignore it: out holds the value either way.
int32_t ProfileGetInt(const char* key, int32_t* out, int32_t fallback, const char* section);
// As ProfileGetInt, for texts: out receives at most outSize - 1 characters
// (of at most 2047 read) and is always terminated.
int32_t ProfileGetString(const char* key, char* out, uint32_t outSize, const char* fallback,
                         const char* section);

// Texts from outside (the host's, the engine's) become profile names only when
// they cannot change the file's structure: no line break, bracket or equals
// sign, no leading ';', shorter than 256 characters.
bool ProfileIsPlainKey(const char* text);
// Makes text such a name in place: each of those characters becomes '_' (a
// leading ';' too); a text of 256 characters or more is cut to 255.
void ProfileMakePlainKey(char* text);

// A start-up reads hundreds of entries and writes their defaults; the system
// parses (and rewrites) the whole file for each. Between Begin and End, the
// calls above made on the calling thread are answered from one parse of the
// file, and End writes every change in one rewrite, with the same values read
// and the same bytes in kal.ini as the calls one by one would give. Begin
// returns false (and the calls go to the system) when the file holds anything
// the in-memory copy does not reproduce exactly; a call with such a text ends
// the batch early. Other threads meanwhile use the system's routines; when the
// file changed under the batch, End replays its writes one by one instead.
bool ProfileBatchBegin();
void ProfileBatchEnd();

// Ends only a batch it began itself, so scopes may nest (an outer one keeps its batch).
class ProfileBatchScope {
public:
    ProfileBatchScope() : began_(ProfileBatchBegin()) {}
    ~ProfileBatchScope() {
        if (began_) ProfileBatchEnd();
    }
    ProfileBatchScope(const ProfileBatchScope&) = delete;
    ProfileBatchScope& operator=(const ProfileBatchScope&) = delete;

private:
    bool began_;
};

// --- Protocol ----------------------------------------------------------------------
// 0: protocol off. Owned by config/: written only by LogSetLevel, once at
// process attach; read through LogEnabled everywhere.
extern const int32_t& DebugLevel;
void LogSetLevel(int32_t level);

// Level tags: the first character is the level digit, the rest is printed.
#define LOG_ERR "0ERR:"
#define LOG_DLL "1DLL "
#define LOG_HOST "2KAL_"
#define LOG_ENGINE "3KAL "
#define LOG_QUEUE "3Buf "

// True when LogWrite writes lines of this tag: callers format a detail only then.
inline bool LogEnabled(const char* tag) {
    return DebugLevel != 0 && static_cast<signed char>(tag[0]) - '0' < DebugLevel;
}

// One protocol line: "<label>: <text>[ <detail>]". A null text is written as
// "(null)", a null detail is left out. Callable from any thread; lines stay whole.
void LogWriteLine(const char* tag, const char* text, const char* detail);
inline void LogWrite(const char* tag, const char* text, const char* detail = nullptr) {
    if (LogEnabled(tag)) LogWriteLine(tag, text, detail);
}
// As LogWrite, with the detail formatted like printf, and only when the tag's
// level is on (a detail longer than kLogDetailSize - 1 bytes is cut).
constexpr size_t kLogDetailSize = 256;
void LogWriteDetail(const char* tag, const char* text, const char* format, ...) __attribute__((format(printf, 3, 4)));
// As LogWrite, with the text formatted like printf.
void LogWriteFormat(const char* tag, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Creates the protocol anew with its header, which names the driver by its
// identification text, when DebugLevel is non-zero.
void LogOpen(const char* path, const char* identification);
// Appends the footer.
void LogClose();
// The protocol continues a file another process began: the path is set and,
// with an identification, a header appended, but the file is never emptied.
// For the isolated mode: the client's driver writes only its refusals of calls
// from inside the host's callback (the bridge appends its lines about the
// helper itself), and a restarted helper's driver continues after the one
// that died.
void LogContinue(const char* path, const char* identification);
// At process exit other threads are gone, maybe in the middle of a line: from
// then on a line is written only when the protocol's lock is free at once.
void LogNeverWait();

// "MM/DD/YY" and "HH:MM:SS" of the local clock, each into a 9-byte buffer.
void LogDateText(char* out);
void LogTimeText(char* out);
