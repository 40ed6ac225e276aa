#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "platform/platform.h"
#include "speech/speech.h"

namespace {
// Set by voice selection, read by every intake on any host thread.
std::atomic<int32_t> currentCodePage{0};
}  // namespace

void IntakeSetCodePage(int32_t codePage) { currentCodePage = codePage; }

namespace {
constexpr size_t kMaxText = kTextSize - 1;
constexpr uint32_t kUtf8 = 65001;
// The kal_Synth line's detail: the mark and as much of the text as fits.
constexpr size_t kSynthDetailSize = 2560;

size_t Length16(const kal_char16* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

// The longest prefix of at most limit bytes that ends on a character boundary
// of the current code page, so no character is cut in half.
size_t CharacterBoundary(const char* text, size_t length, size_t limit) {
    if (length <= limit) return length;
    const uint32_t codePage = static_cast<uint32_t>(currentCodePage);
    if (codePage == kUtf8) {
        size_t end = limit;
        while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80) --end;
        return end;
    }
    size_t at = 0;
    while (at < limit) {
        size_t width = PlatformIsLeadByte(codePage, static_cast<uint8_t>(text[at])) ? 2 : 1;
        if (at + width > limit) break;
        at += width;
    }
    return at;
}

// Copies at most limit bytes of the text into out, whole characters only.
void FillTextBuffer(char* out, const char* text, size_t length, size_t limit = kMaxText) {
    size_t n = CharacterBoundary(text, length, limit);
    memmove(out, text, n);
    out[n] = '\0';
}

// A text too long for the buffer is cut to the longest run of whole UTF-16
// characters whose conversion fits; a code page the system does not know gives
// an empty text.
void ConvertCut(const kal_char16* text, char* out) {
    const uint32_t codePage = static_cast<uint32_t>(currentCodePage);
    const size_t length = Length16(text);
    auto bytesFor = [&](int32_t units) {
        return units == 0 ? 0 : PlatformWideToCodePage(codePage, text, units, nullptr, 0);
    };
    auto whole = [&](int32_t units) {  // never end between the halves of a surrogate pair
        if (units > 0 && units < static_cast<int32_t>(length) && text[units - 1] >= 0xD800 &&
            text[units - 1] <= 0xDBFF && text[units] >= 0xDC00 && text[units] <= 0xDFFF)
            --units;
        return units;
    };
    int32_t low = 0, high = static_cast<int32_t>(length < kMaxText ? length : kMaxText);
    while (low < high) {  // the largest unit count whose conversion fits
        int32_t middle = low + (high - low + 1) / 2;
        int32_t bytes = bytesFor(middle);
        if (bytes > 0 && bytes <= static_cast<int32_t>(kMaxText))
            low = middle;
        else
            high = middle - 1;
    }
    low = whole(low);
    int32_t written = low ? PlatformWideToCodePage(codePage, text, low, out, kMaxText) : 0;
    out[written > 0 ? written : 0] = '\0';
}
}  // namespace

int32_t ConvertToCodePage(const kal_char16* text, char* out, int32_t size) {
    return PlatformWideToCodePage(static_cast<uint32_t>(currentCodePage), text, -1, out, size);
}

int32_t IntakeSynth(const kal_char16* text, int32_t mark) {
    if (!text) {  // nothing to speak; the call still shows in the protocol
        LogWrite(LOG_HOST, "kal_Synth ", nullptr);
        return 0;
    }
    char buffer[kTextSize];
    if (ConvertToCodePage(text, buffer, kTextSize) == 0) ConvertCut(text, buffer);
    if (LogEnabled(LOG_HOST)) {
        char detail[kSynthDetailSize];
        snprintf(detail, sizeof detail, "%04X %s", static_cast<unsigned>(mark), buffer);
        LogWrite(LOG_HOST, "kal_Synth ", detail);
    }
    QueueAdd(buffer, mark);
    return 0;
}

int32_t IntakeSynthMark(const char* text, const char* marker, int32_t mark) {
    if (!text) {
        LogWrite(LOG_HOST, "Synth_Mark", nullptr);
        return 0;
    }
    size_t start = 0;
    const size_t markerLength = marker ? strlen(marker) : 0;
    if (markerLength) {
        for (size_t at = 0; text[at]; ++at) {
            size_t j = 0;
            while (j < markerLength && text[at + j] && text[at + j] == marker[j]) ++j;
            if (j == markerLength) {
                start = at + markerLength;
                break;
            }
        }
    }
    // No byte beyond position 4096 of the text, and at most 4095 bytes.
    constexpr size_t kLastPosition = 4096;
    // The window after a late marker is cut at a character boundary too.
    size_t length = 0, limit = 0;
    if (start <= kLastPosition) {
        const size_t window = kLastPosition - start + 1;
        limit = window < kMaxText ? window : kMaxText;
        length = strnlen(text + start, limit + 1);
    }
    char buffer[kTextSize];
    FillTextBuffer(buffer, text + start, length, limit);
    LogWrite(LOG_HOST, "Synth_Mark", buffer);
    QueueAdd(buffer, mark);
    return 0;
}

int32_t IntakeKey(const char* text) {
    if (!text) {
        LogWrite(LOG_HOST, "Key", nullptr);
        return 0;
    }
    char buffer[kTextSize];
    FillTextBuffer(buffer, text, strnlen(text, kMaxText + 1));
    LogWrite(LOG_HOST, "Key", buffer);
    QueueAdd(buffer, 0);
    return 0;
}

int32_t IntakeChar(int32_t code) {
    char key[8];
    snprintf(key, sizeof key, "%04X", static_cast<unsigned>(code) & 0xFFFFu);
    char buffer[kTextSize];
    ProfileGetString(key, buffer, kTextSize, key, "CharName");
    LogWrite(LOG_HOST, "Key", buffer);
    QueueAdd(buffer, 0);
    return 0;
}
