#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "platform/platform.h"

// Written once at process attach, before any other thread can enter.
char ModuleFolder[256];
char ProfilePath[256];

namespace {
// The longest value the driver takes from the profile, with its terminator.
constexpr uint32_t kReadBufferSize = 2048;

void CopyCut(char* out, uint32_t outSize, const char* text) {
    if (outSize == 0) return;
    size_t n = strlen(text);
    if (n > outSize - 1) n = outSize - 1;
    memcpy(out, text, n);
    out[n] = '\0';
}
}  // namespace

int32_t ProfileHasKey(const char* key, const char* section) {
    char value[80];
    // Only the count matters: a longer value still counts as present.
    return PlatformProfileGetString(section, key, "", value, sizeof value, ProfilePath) != 0 ? 1 : 0;
}

int32_t ProfileWriteInt(const char* key, int32_t value, const char* section) {
    char text[80];
    snprintf(text, sizeof text, "%d", static_cast<int>(value));
    PlatformProfileWriteString(section, key, text, ProfilePath);
    return 1;
}

int32_t ProfileGetInt(const char* key, int32_t* out, int32_t fallback, const char* section) {
    if (ProfileHasKey(key, section)) {
        *out = PlatformProfileGetInt(section, key, fallback, ProfilePath);
        return 0;
    }
    *out = fallback;
    ProfileWriteInt(key, fallback, section);
    return 1;
}

int32_t ProfileGetString(const char* key, char* out, uint32_t outSize, const char* fallback,
                         const char* section) {
    static_assert(kReadBufferSize == 2048, "values are read up to 2047 characters");
    char value[kReadBufferSize];
    value[0] = '\0';
    CopyCut(out, outSize, "");
    int32_t result;
    if (ProfileHasKey(key, section)) {
        PlatformProfileGetString(section, key, fallback, value, sizeof value, ProfilePath);
        result = 0;
    } else {
        PlatformProfileWriteString(section, key, fallback, ProfilePath);
        CopyCut(value, sizeof value, fallback);
        result = 1;
    }
    // An overlong value is cut to the caller's buffer, never written past it.
    CopyCut(out, outSize, value);
    return result;
}
