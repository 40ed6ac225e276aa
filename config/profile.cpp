#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/config.h"
#include "config/config_testing.h"
#include "config/limits.h"
#include "platform/profile_text.h"
#include "platform/platform.h"

namespace {
// Written once at process attach, before any other thread can enter.
char moduleFolder[256];
char profilePath[256];
}  // namespace
const char (&ModuleFolder)[256] = moduleFolder;

void ConfigSetModuleFolder(const char* moduleFileName) {
    CopyCut(moduleFolder, sizeof moduleFolder, moduleFileName);
    if (char* slash = PlatformLastSeparator(moduleFolder)) slash[1] = '\0';
}

void ProfileSetPath(const char* path) { CopyCut(profilePath, sizeof profilePath, path); }
const char* ProfileTestingPath() { return profilePath; }

namespace {
// The longest value the driver takes from the profile, with its terminator.
constexpr uint32_t kReadBufferSize = 2048;
// The buffer the presence test reads into: only whether anything came back counts.
constexpr uint32_t kPresenceBufferSize = 80;
// A profile larger than this is left to the system's routines.
constexpr uint32_t kBatchFileLimit = 64u << 20;

// --- Batch: a start-up's reads and writes answered from one parse of the file ---
struct Write {
    std::string section, key, value;
};
// The thread that owns the batch (0: none). Only that thread touches the rest;
// every other thread keeps using the system's routines meanwhile.
std::atomic<uint32_t> batchThread{0};
struct Batch {
    ProfileText text;
    std::string loaded;         // the file's bytes when the batch began
    bool existed = false;       // whether the file was there then
    std::vector<Write> writes;  // in call order, to replay them one by one if needed
};
// Exists only while a batch runs: the module keeps no record for the runtime to
// destroy at an unload that pins it (and that a new load would find destroyed).
Batch* batch;

bool InBatch() { return batchThread.load(std::memory_order_relaxed) == PlatformCurrentThreadId(); }

// A profile that exists but cannot be opened now (an editor saving it, a backup,
// a virus scanner holding it without sharing) is asked again kProfileBusyRetries
// times, kProfileBusyRetryMs apart, before it counts as unreadable: never as a
// file without the key.
// After a read that found the file busy through all its retries, the reads of
// the next kProfileBusyRememberedMs try once each: a file held for good does not
// cost every key of a start-up the whole wait.
std::atomic<bool> busyNoted{false};
std::atomic<uint32_t> busyNotedAt{0};

enum class FileRead { Read, Missing, Busy };

// The whole file: Read; Missing when there is none; Busy when it exists but could
// not be read within the retries, or is too large to read whole.
FileRead ReadWholeFile(std::string& bytes) {
    const bool busyLately = busyNoted.load() && PlatformTickCount() - busyNotedAt.load() < kProfileBusyRememberedMs;
    for (uint32_t attempt = 0;; ++attempt) {
        bytes.clear();
        bool missing = false;
        PlatformFile file = PlatformFileOpenReadOrSayWhy(profilePath, &missing);
        if (!file) {
            if (missing) return FileRead::Missing;
            if (busyLately || attempt >= kProfileBusyRetries) {
                busyNotedAt = PlatformTickCount();
                busyNoted = true;
                return FileRead::Busy;
            }
            PlatformSleep(kProfileBusyRetryMs);
            continue;
        }
        const uint64_t size = PlatformFileSize(file);
        bool ok = size <= kBatchFileLimit;
        if (ok && size > 0) {
            bytes.resize(static_cast<size_t>(size));
            uint32_t read = 0;
            ok = PlatformFileRead(file, &bytes[0], static_cast<uint32_t>(size), &read) && read == size;
        }
        PlatformFileClose(file);
        return ok ? FileRead::Read : FileRead::Busy;
    }
}

void ReplayWrites() {
    for (const Write& w : batch->writes)
        PlatformProfileWriteString(w.section.c_str(), w.key.c_str(), w.value.c_str(), profilePath);
}

void ReleaseBatch() {
    delete batch;
    batch = nullptr;
    batchThread = 0;
}

// Memory ran out inside the batch: the writes so far go to the system one by
// one, and the calls from here on too. No exception leaves the driver.
void AbandonBatch() {
    ReplayWrites();
    ReleaseBatch();
}

// Writes what the batch changed: in one rewrite when the file is still as the
// batch found it, else key by key through the system, in the original order. A
// file that cannot be read now is not written at all, and a rewrite that fails
// (no room) leaves the file as it was: the defaults are written at a later start.
void FlushBatch() {
    if (!batch->text.changed()) return;
    std::string now;
    const FileRead read = ReadWholeFile(now);
    if (read == FileRead::Busy) {
        LogWrite(LOG_ERR, "kal.ini nicht lesbar: Vorgaben nicht geschrieben");
        return;
    }
    const bool same = read == FileRead::Read ? now == batch->loaded && batch->existed : !batch->existed;
    if (same) {
        const std::string bytes = batch->text.Bytes();
        if (!PlatformFileReplace(profilePath, bytes.data(), bytes.size()))
            LogWrite(LOG_ERR, "kal.ini nicht geschrieben: Vorgaben nicht gespeichert");
        return;
    }
    ReplayWrites();
}

// Ends the batch early when a call passes a text the model does not handle.
bool BatchTakes(const char* key, const char* section, const char* fallback) {
    if (ProfileText::SupportsName(key) && ProfileText::SupportsName(section) &&
        ProfileText::SupportsValue(fallback))
        return true;
    ProfileBatchEnd();
    return false;
}

uint32_t ReadString(const char* section, const char* key, const char* fallback, char* out, uint32_t size) {
    if (InBatch()) {
        try {
            return batch->text.GetString(section, key, fallback, out, size);
        } catch (...) {
            AbandonBatch();
        }
    }
    return PlatformProfileGetString(section, key, fallback, out, size, profilePath);
}

void WriteString(const char* section, const char* key, const char* value) {
    if (InBatch()) {
        try {
            batch->writes.push_back(Write{section, key, value});
            batch->text.WriteString(section, key, value);
            return;
        } catch (...) {
            AbandonBatch();  // writing the same value once more changes nothing
        }
    }
    PlatformProfileWriteString(section, key, value, profilePath);
}

// A number as the system's number read gives it, from the entry's text read
// through a full buffer. That text's first 29 characters are what the system
// parses, except for a quoted 30-character entry, which it cuts one shorter:
// texts that long, and texts with bytes beyond ASCII, are read by the system.
int32_t NumberFromText(const char* section, const char* key, const char* text, int32_t fallback) {
    bool plain = strlen(text) < 28;
    for (const char* p = text; plain && *p; ++p) plain = static_cast<unsigned char>(*p) < 0x80;
    if (plain) return ProfileParseInt(text);
    if (InBatch()) {
        try {
            return batch->text.GetInt(section, key, fallback);
        } catch (...) {
            AbandonBatch();
        }
    }
    return PlatformProfileGetInt(section, key, fallback, profilePath);
}

// The system's read found nothing, which it also says of a file it could not
// open: outside a batch the key is looked up again in one whole read before its
// default is written. Present fills out with the entry's text.
enum class KeyLookup { Present, Missing, Unreadable };
KeyLookup LookUpAgain(const char* section, const char* key, char* out, uint32_t size) {
    if (InBatch()) return KeyLookup::Missing;  // the batch read the whole file already
    try {
        std::string bytes;
        const FileRead read = ReadWholeFile(bytes);
        if (read != FileRead::Read) return read == FileRead::Missing ? KeyLookup::Missing : KeyLookup::Unreadable;
        ProfileText text;
        // Bytes the model does not take: the system's answer stands.
        if (!text.Load(bytes, true)) return KeyLookup::Missing;
        return text.GetString(section, key, "", out, size) != 0 ? KeyLookup::Present : KeyLookup::Missing;
    } catch (...) {
        return KeyLookup::Missing;
    }
}
}  // namespace

namespace {
// Loads the batch's copy of the file; false when the system must answer instead.
bool LoadBatch() {
    std::string bytes;
    const FileRead read = ReadWholeFile(bytes);
    const bool exists = read == FileRead::Read;
    if (!exists) {
        // A missing file in an existing folder starts empty; anything else
        // (unreadable, no folder) is left to the system.
        if (read == FileRead::Busy) return false;
        char folder[sizeof profilePath];
        snprintf(folder, sizeof folder, "%s", profilePath);
        char* slash = PlatformLastSeparator(folder);
        if (!slash) return false;
        *slash = '\0';
        if (!PlatformFolderExists(folder)) return false;
    }
    if (!batch->text.Load(bytes, exists)) return false;
    batch->loaded.swap(bytes);
    batch->existed = exists;
    batch->writes.clear();
    return true;
}
}  // namespace

bool ProfileBatchBegin() {
    // Claimed before loading, so two start-ups on two threads never share it;
    // no thread has this number, so nobody reads through the batch meanwhile.
    constexpr uint32_t kLoading = 0xFFFFFFFFu;
    uint32_t none = 0;
    if (!batchThread.compare_exchange_strong(none, kLoading)) return false;
    bool loaded = false;
    try {
        batch = new Batch;
        loaded = LoadBatch();
    } catch (...) {
        loaded = false;
    }
    if (!loaded) {
        ReleaseBatch();
        return false;
    }
    batchThread = PlatformCurrentThreadId();
    return true;
}

void ProfileBatchEnd() {
    if (!InBatch()) return;
    try {
        FlushBatch();
    } catch (...) {
        ReplayWrites();  // the file is as the batch found it: the writes one by one give the same
    }
    ReleaseBatch();
}

namespace {
constexpr size_t kLongestPlainKey = 255;
bool BreaksProfileLine(char c) { return c != '\0' && strchr("\r\n=[]", c) != nullptr; }
}  // namespace

bool ProfileIsPlainKey(const char* text) {
    if (text[0] == ';') return false;
    for (size_t n = 0; text[n]; ++n) {
        if (n >= kLongestPlainKey || BreaksProfileLine(text[n])) return false;
    }
    return true;
}

void ProfileMakePlainKey(char* text) {
    if (text[0] == ';') text[0] = '_';
    for (size_t n = 0; text[n]; ++n) {
        if (n >= kLongestPlainKey) {
            text[n] = '\0';
            break;
        }
        if (BreaksProfileLine(text[n])) text[n] = '_';
    }
}

int32_t ProfileHasKey(const char* key, const char* section) {
    char value[kPresenceBufferSize];
    // Only the count matters: a longer value still counts as present.
    if (InBatch() && !BatchTakes(key, section, "")) return ProfileHasKey(key, section);
    return ReadString(section, key, "", value, sizeof value) != 0 ? 1 : 0;
}

int32_t ProfileWriteInt(const char* key, int32_t value, const char* section) {
    char text[80];
    snprintf(text, sizeof text, "%d", static_cast<int>(value));
    if (InBatch() && !BatchTakes(key, section, text)) return ProfileWriteInt(key, value, section);
    WriteString(section, key, text);
    return 1;
}

// One read: the entry's text tells both whether it is there (not empty) and its number.
int32_t ProfileGetInt(const char* key, int32_t* out, int32_t fallback, const char* section) {
    if (InBatch() && !BatchTakes(key, section, "")) return ProfileGetInt(key, out, fallback, section);
    char value[kReadBufferSize];
    KeyLookup found = ReadString(section, key, "", value, sizeof value) != 0 ? KeyLookup::Present : KeyLookup::Missing;
    if (found == KeyLookup::Missing) found = LookUpAgain(section, key, value, sizeof value);
    if (found == KeyLookup::Present) {
        *out = NumberFromText(section, key, value, fallback);
        return 0;
    }
    *out = fallback;
    // Nothing is written over a file that could not be read.
    if (found == KeyLookup::Missing) ProfileWriteInt(key, fallback, section);
    return 1;
}

// One read with an empty fallback: a present entry's text does not depend on
// the fallback, and an absent or empty one reads as nothing.
int32_t ProfileGetString(const char* key, char* out, uint32_t outSize, const char* fallback,
                         const char* section) {
    static_assert(kReadBufferSize == 2048, "values are read up to 2047 characters");
    if (InBatch() && !BatchTakes(key, section, fallback))
        return ProfileGetString(key, out, outSize, fallback, section);
    char value[kReadBufferSize];
    value[0] = '\0';
    CopyCut(out, outSize, "");
    int32_t result;
    KeyLookup found = ReadString(section, key, "", value, sizeof value) != 0 ? KeyLookup::Present : KeyLookup::Missing;
    if (found == KeyLookup::Missing) found = LookUpAgain(section, key, value, sizeof value);
    if (found == KeyLookup::Present) {
        result = 0;
    } else {
        // Nothing is written over a file that could not be read.
        if (found == KeyLookup::Missing) WriteString(section, key, fallback);
        CopyCut(value, sizeof value, fallback);
        result = 1;
    }
    // An overlong value is cut to the caller's buffer, never written past it.
    CopyCut(out, outSize, value);
    return result;
}
