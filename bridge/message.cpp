#include "bridge/message.h"

#include <cstring>
#include <string_view>

namespace bridge {
namespace {

constexpr uint32_t kAbsent = 0xFFFFFFFFu;
// Request: size, op, three arguments, three text sizes; the texts follow, each
// terminated and padded to four bytes.
constexpr uint32_t kRequestHeader = 4 * (2 + kArgCount + kTextCount);
// Response: size, op, status, result, eventsWritten, text size, voice count; then
// the voice records, then the text and each voice's texts, terminated, unpadded.
constexpr uint32_t kResponseHeader = 4 * 7;
constexpr uint32_t kVoiceRecordSize = 4 * 4 + 4;

struct OpShape {
    Op op;
    uint8_t args;      // arguments used, from arg 0
    uint8_t texts[kTextCount];  // 0 none, 1 8-bit, 2 UTF-16
    bool filter;       // args and texts form a filter
};

// Row i is the shape of operation i + 1; the check below keeps the rows in the
// enum's order and one per operation, so an export added to KAL_EXPORTS fails
// to build until its shape is written here.
constexpr OpShape kShapes[] = {
    {Op::Initialize, 0, {0, 0, 0}, false},
    {Op::Terminate, 0, {0, 0, 0}, false},
    {Op::Info, 0, {0, 0, 0}, false},
    {Op::SetSynthCallback, 1, {0, 0, 0}, false},    // arg 0: 1 when the host has a callback
    {Op::SetUriCallback, 1, {0, 0, 0}, false},      // arg 0: 1 when the pointer is not null
    {Op::Synth, 1, {2, 0, 0}, false},               // text 0 (UTF-16), arg 0: mark
    {Op::SynthMark, 1, {1, 1, 0}, false},           // text 0, text 1 (marker), arg 0: mark
    {Op::Key, 0, {1, 0, 0}, false},                 // text 0
    {Op::Char, 1, {0, 0, 0}, false},                // arg 0
    {Op::SetParameter, 3, {0, 0, 0}, false},        // args 0-2
    {Op::GetParameter, 2, {0, 0, 0}, false},        // args 0-1
    {Op::SetPunctuationList, 0, {2, 0, 0}, false},  // text 0 (UTF-16)
    {Op::ListVoices, 3, {1, 1, 1}, true},           // a filter (message.h)
    {Op::SetVoiceByName, 0, {1, 0, 0}, false},      // text 0
    {Op::SetVoiceByProperties, 3, {1, 1, 1}, true}, // a filter
    {Op::GetCurrentVoice, 0, {0, 0, 0}, false},
    {Op::Pause, 1, {0, 0, 0}, false},               // arg 0
    {Op::Stop, 0, {0, 0, 0}, false},
    {Op::IsPlaying, 0, {0, 0, 0}, false},
    {Op::Synchronize, 0, {0, 0, 0}, false},
    {Op::Quit, 0, {0, 0, 0}, false},
};

constexpr bool ShapesInOpOrder() {
    for (uint32_t i = 0; i < sizeof kShapes / sizeof kShapes[0]; ++i)
        if (static_cast<uint32_t>(kShapes[i].op) != i + 1) return false;
    return true;
}
static_assert(sizeof kShapes / sizeof kShapes[0] == kOpCount, "one shape per operation");
static_assert(ShapesInOpOrder(), "the shapes are in the order of Op");
static_assert(kOpCount == KAL_EXPORT_COUNT + 1, "one operation per export, and Quit");

const OpShape& ShapeOf(Op op) {
    static const OpShape none{Op::None, 0, {0, 0, 0}, false};
    const uint32_t index = static_cast<uint32_t>(op);
    return index >= 1 && index <= kOpCount ? kShapes[index - 1] : none;
}

bool KnownOp(uint32_t value) { return value >= 1 && value <= kOpCount; }

uint32_t Pad4(uint32_t n) { return (n + 3u) & ~3u; }

void Put32(uint8_t* at, uint32_t value) { memcpy(at, &value, 4); }
uint32_t Get32(const uint8_t* at) {
    uint32_t value;
    memcpy(&value, at, 4);
    return value;
}

// Appends bytes to a message, remembering whether they all fitted.
struct Writer {
    uint8_t* out;
    uint32_t capacity;
    uint32_t size;
    bool fits = true;

    uint8_t* Reserve(uint32_t n) {
        if (!fits || n > capacity - size) {
            fits = false;
            return nullptr;
        }
        uint8_t* at = out + size;
        size += n;
        return at;
    }
    void Text(const TextField& text, uint32_t terminator, bool pad) {
        const uint32_t whole = text.size + terminator;
        if (whole < text.size) fits = false;
        uint8_t* at = Reserve(pad ? Pad4(whole) : whole);
        if (!at) return;
        if (text.size) memcpy(at, text.data, text.size);
        memset(at + text.size, 0, (pad ? Pad4(whole) : whole) - text.size);
    }
};

// Reads the texts of a message, checking each against the bytes left.
struct Reader {
    const uint8_t* data;
    uint32_t size;
    uint32_t at;

    // A text of `length` bytes plus its terminator, optionally padded.
    bool Text(uint32_t length, uint32_t terminator, bool pad, TextField& out, const char** why) {
        const uint32_t left = size - at;
        if (length > left || terminator > left - length) return Fail(why, "text beyond the message");
        const uint8_t* text = data + at;
        if (terminator == 2) {
            if (length % 2 || at % 2) return Fail(why, "UTF-16 text of odd size or place");
            for (uint32_t i = 0; i < length; i += 2)
                if (text[i] == 0 && text[i + 1] == 0) return Fail(why, "NUL inside a text");
            if (text[length] != 0 || text[length + 1] != 0) return Fail(why, "text not terminated");
        } else {
            if (memchr(text, 0, length)) return Fail(why, "NUL inside a text");
            if (text[length] != 0) return Fail(why, "text not terminated");
        }
        uint32_t used = length + terminator;
        if (pad) {
            used = Pad4(used);
            if (used > left) return Fail(why, "text padding beyond the message");
            for (uint32_t i = length + terminator; i < used; ++i)
                if (text[i] != 0) return Fail(why, "padding not zero");
        }
        out.present = true;
        out.data = text;
        out.size = length;
        at += used;
        return true;
    }
    static bool Fail(const char** why, const char* reason) {
        if (why) *why = reason;
        return false;
    }
};

}  // namespace

uint32_t TextKindOf(Op op, int index) {
    return index >= 0 && index < kTextCount ? ShapeOf(op).texts[index] : 0;
}

uint32_t EncodeRequest(const Request& request, uint8_t* out, uint32_t capacity) {
    if (capacity < kRequestHeader) return 0;
    const OpShape& shape = ShapeOf(request.op);
    Writer writer{out, capacity, kRequestHeader};
    Put32(out + 4, static_cast<uint32_t>(request.op));
    for (int i = 0; i < kArgCount; ++i) Put32(out + 8 + 4 * i, static_cast<uint32_t>(request.args[i]));
    for (int i = 0; i < kTextCount; ++i) {
        const TextField& text = request.texts[i];
        const bool sent = text.present && shape.texts[i] != 0;
        Put32(out + 20 + 4 * i, sent ? text.size : kAbsent);
        if (sent) writer.Text(text, shape.texts[i], true);
    }
    if (!writer.fits) return 0;
    Put32(out, writer.size);
    return writer.size;
}

bool DecodeRequest(const uint8_t* data, uint32_t size, Request& out, const char** why) {
    out = Request();
    if (size < kRequestHeader) return Reader::Fail(why, "request shorter than its header");
    if (Get32(data) != size) return Reader::Fail(why, "request size differs from its length");
    const uint32_t op = Get32(data + 4);
    if (!KnownOp(op)) return Reader::Fail(why, "unknown operation");
    out.op = static_cast<Op>(op);
    const OpShape& shape = ShapeOf(out.op);
    for (int i = 0; i < kArgCount; ++i) {
        out.args[i] = static_cast<int32_t>(Get32(data + 8 + 4 * i));
        if (i >= shape.args && out.args[i] != 0) return Reader::Fail(why, "argument the operation does not take");
    }
    if (shape.filter && (out.args[0] != 0 && out.args[0] != 1))
        return Reader::Fail(why, "filter flag not 0 or 1");
    if (shape.filter && (static_cast<uint32_t>(out.args[1]) > 0xFFFF || static_cast<uint32_t>(out.args[2]) > 0xFFFF))
        return Reader::Fail(why, "filter gender or age out of range");
    if ((out.op == Op::SetSynthCallback || out.op == Op::SetUriCallback) && (out.args[0] != 0 && out.args[0] != 1))
        return Reader::Fail(why, "callback flag not 0 or 1");
    Reader reader{data, size, kRequestHeader};
    for (int i = 0; i < kTextCount; ++i) {
        const uint32_t length = Get32(data + 20 + 4 * i);
        if (length == kAbsent) continue;
        if (shape.texts[i] == 0) return Reader::Fail(why, "text the operation does not take");
        if (shape.filter && out.args[0] == 0) return Reader::Fail(why, "text in a null filter");
        if (!reader.Text(length, shape.texts[i], true, out.texts[i], why)) return false;
    }
    if (reader.at != size) return Reader::Fail(why, "bytes after the last text");
    return true;
}

uint32_t EncodeResponse(const Response& response, uint8_t* out, uint32_t capacity) {
    const uint32_t voices = response.voiceCount;
    if (voices > kVoiceCapacity || capacity < kResponseHeader) return 0;
    Writer writer{out, capacity, kResponseHeader};
    Put32(out + 4, static_cast<uint32_t>(response.op));
    Put32(out + 8, response.status);
    Put32(out + 12, static_cast<uint32_t>(response.result));
    Put32(out + 16, response.eventsWritten);
    Put32(out + 20, response.text.present ? response.text.size : kAbsent);
    Put32(out + 24, voices);
    for (uint32_t i = 0; i < voices; ++i) {
        const VoiceRecord& voice = response.voices[i];
        uint8_t* at = writer.Reserve(kVoiceRecordSize);
        if (!at) return 0;
        Put32(at, voice.address);
        Put32(at + 4, voice.name.present ? voice.name.size : kAbsent);
        Put32(at + 8, voice.language.present ? voice.language.size : kAbsent);
        Put32(at + 12, voice.identifier.present ? voice.identifier.size : kAbsent);
        at[16] = voice.gender;
        at[17] = voice.age;
        memcpy(at + 18, &voice.genderHigh, 2);
    }
    if (response.text.present) writer.Text(response.text, 1, false);
    for (uint32_t i = 0; i < voices; ++i) {
        const VoiceRecord& voice = response.voices[i];
        for (const TextField* text : {&voice.name, &voice.language, &voice.identifier})
            if (text->present) writer.Text(*text, 1, false);
    }
    if (!writer.fits) return 0;
    Put32(out, writer.size);
    return writer.size;
}

bool DecodeResponse(const uint8_t* data, uint32_t size, Op expected, Response& out, const char** why) {
    out.op = expected;
    out.text = TextField();
    out.voiceCount = 0;
    if (size < kResponseHeader) return Reader::Fail(why, "response shorter than its header");
    if (Get32(data) != size) return Reader::Fail(why, "response size differs from its length");
    if (Get32(data + 4) != static_cast<uint32_t>(expected)) return Reader::Fail(why, "response to another operation");
    out.status = Get32(data + 8);
    if (out.status != kAnswered && out.status != kRefused) return Reader::Fail(why, "unknown status");
    out.result = static_cast<int32_t>(Get32(data + 12));
    out.eventsWritten = Get32(data + 16);
    const uint32_t textSize = Get32(data + 20);
    const uint32_t voices = Get32(data + 24);
    const bool takesText = expected == Op::Info || ShapeOf(expected).filter;
    const bool takesVoices = expected == Op::ListVoices || expected == Op::GetCurrentVoice;
    if (textSize != kAbsent && (!takesText || out.status != kAnswered)) return Reader::Fail(why, "text the operation does not answer");
    if (textSize != kAbsent && textSize > (expected == Op::Info ? kInfoTextLimit : kNarrowTextLimit))
        return Reader::Fail(why, "answered text too long");
    if (voices && (!takesVoices || out.status != kAnswered)) return Reader::Fail(why, "voices the operation does not answer");
    if (voices > (expected == Op::GetCurrentVoice ? 1 : kVoiceCapacity)) return Reader::Fail(why, "too many voices");
    if (voices * kVoiceRecordSize > size - kResponseHeader) return Reader::Fail(why, "voice records beyond the message");
    uint32_t sizes[kVoiceCapacity][3];
    for (uint32_t i = 0; i < voices; ++i) {
        const uint8_t* at = data + kResponseHeader + i * kVoiceRecordSize;
        VoiceRecord& voice = out.voices[i];
        voice = VoiceRecord();
        voice.address = Get32(at);
        if (voice.address == 0) return Reader::Fail(why, "voice without an address");
        for (int t = 0; t < 3; ++t) {
            sizes[i][t] = Get32(at + 4 + 4 * t);
            if (sizes[i][t] != kAbsent && sizes[i][t] > kVoiceTextLimit) return Reader::Fail(why, "voice text too long");
        }
        voice.gender = at[16];
        voice.age = at[17];
        memcpy(&voice.genderHigh, at + 18, 2);
    }
    Reader reader{data, size, kResponseHeader + voices * kVoiceRecordSize};
    if (textSize != kAbsent && !reader.Text(textSize, 1, false, out.text, why)) return false;
    for (uint32_t i = 0; i < voices; ++i) {
        TextField* fields[3] = {&out.voices[i].name, &out.voices[i].language, &out.voices[i].identifier};
        for (int t = 0; t < 3; ++t)
            if (sizes[i][t] != kAbsent && !reader.Text(sizes[i][t], 1, false, *fields[t], why)) return false;
    }
    if (reader.at != size) return Reader::Fail(why, "bytes after the last text");
    out.voiceCount = voices;
    return true;
}

uint32_t ClaimedSize(const uint8_t* data, uint32_t capacity) {
    if (capacity < 4) return 0;
    const uint32_t claimed = Get32(data);
    return claimed < capacity ? claimed : capacity;
}

SynthMarkCut CutSynthMark(const char* text, size_t textSize, const char* marker, size_t markerSize) {
    // The driver reads no byte beyond position 4096 after the marker's end.
    constexpr size_t kWindow = 4097;
    auto limited = [](size_t n, size_t limit) { return static_cast<uint32_t>(n < limit ? n : limit); };
    if (textSize <= kNarrowTextLimit && markerSize <= kNarrowTextLimit)
        return {static_cast<uint32_t>(textSize), static_cast<uint32_t>(markerSize), false};
    if (markerSize == 0) return {limited(textSize, kWindow), 0, false};
    const size_t found = std::string_view(text, textSize).find(std::string_view(marker, markerSize));
    if (found == std::string_view::npos) return {limited(textSize, kWindow), 0, true};
    const size_t start = found + markerSize;
    if (start > kWindow - 1) return {0, 0, true};  // past the last position: an empty text
    return {limited(textSize, start + kWindow), static_cast<uint32_t>(markerSize), false};
}

}  // namespace bridge

bridge::TextField bridge::NarrowField(const char* text, uint32_t limit) {
    TextField field;
    if (!text) return field;
    field.present = true;
    field.data = text;
    field.size = static_cast<uint32_t>(strnlen(text, limit));
    return field;
}
