// The messages of the bridge channel: one request per export call, one
// response. Plain C++ without the operating system, so the decoders can be
// fuzzed natively. Both decoders read a private copy of the message (never the
// shared section, which the peer may change meanwhile) and accept only the
// exact shape an honest peer writes: a known operation, the arguments and texts
// that operation takes, sizes within the message, every text terminated and
// free of inner NULs, nothing left over.
#pragma once
#include <cstddef>
#include <cstdint>

#include "kal_exports.h"

namespace bridge {

// One operation per export, numbered from 1 in the order of KAL_EXPORTS (the
// shapes of their requests are in message.cpp), then Quit: the bridge unloads,
// so the helper unloads the driver and ends.
enum class Op : uint32_t {
    None = 0,  // never sent; a message with it is refused
#define BRIDGE_OP(name, function, result, parameters) name,
    KAL_EXPORTS(BRIDGE_OP)
#undef BRIDGE_OP
    Quit,
};
constexpr uint32_t kOpCount = static_cast<uint32_t>(Op::Quit);

// A filter travels as arg 0 = 1 (0: a null filter), arg 1 = gender | age << 8,
// arg 2 = genderHigh, texts 0-2 = language, name, identifier (absent: null).
constexpr int kArgCount = 3;
constexpr int kTextCount = 3;

// What the bridge sends of a host's text: enough for the driver to come to the
// same result as with the whole text (it reads no further).
constexpr uint32_t kNarrowTextLimit = 16 * 1024;  // bytes of an 8-bit text
constexpr uint32_t kWideTextLimit = 8193;         // UTF-16 units of kal_Synth's text
constexpr uint32_t kKeyTextLimit = 4096;          // the driver reads 4096 bytes of a key text
// A voice as the driver describes it: texts of at most this many bytes.
constexpr uint32_t kVoiceTextLimit = 255;
constexpr uint32_t kInfoTextLimit = 255;
constexpr uint32_t kVoiceCapacity = 200;  // the driver's catalogue holds at most 200 voices

// A text inside a decoded message (or one to encode). `size` counts bytes,
// without the terminator (one byte, two for UTF-16 texts).
struct TextField {
    bool present = false;
    const void* data = nullptr;
    uint32_t size = 0;
};

// A field for an 8-bit text: absent for null, else its bytes up to the
// terminator, at most limit of them.
TextField NarrowField(const char* text, uint32_t limit);

struct Request {
    Op op = Op::Initialize;
    int32_t args[kArgCount] = {};
    TextField texts[kTextCount];
};

enum ResponseStatus : uint32_t { kAnswered = 0, kRefused = 1 };

struct VoiceRecord {
    uint32_t address = 0;  // the descriptor's address in the helper: the same voice, the same address
    TextField name, language, identifier;
    uint8_t gender = 0, age = 0;
    uint16_t genderHigh = 0;
};

struct Response {
    Op op = Op::Initialize;
    uint32_t status = kAnswered;
    int32_t result = 0;
    uint32_t eventsWritten = 0;  // the ring's write count when the call returned
    TextField text;              // Info's text; a filter's language as the driver left it
    uint32_t voiceCount = 0;     // ListVoices: the list; GetCurrentVoice: 1
    VoiceRecord voices[kVoiceCapacity];
};

// The texts an operation takes: 0 none, 1 8-bit, 2 UTF-16.
uint32_t TextKindOf(Op op, int index);
// Encoders return the message's size, or 0 when it does not fit the capacity.
uint32_t EncodeRequest(const Request& request, uint8_t* out, uint32_t capacity);
uint32_t EncodeResponse(const Response& response, uint8_t* out, uint32_t capacity);
// Decoders fill `out` with fields that point into `data`; on refusal they
// return false and set `why` to a short reason.
bool DecodeRequest(const uint8_t* data, uint32_t size, Request& out, const char** why);
bool DecodeResponse(const uint8_t* data, uint32_t size, Op expected, Response& out, const char** why);
// The size a message claims in its first word, limited to the capacity, so
// that a reader copies no more than that out of the shared section.
uint32_t ClaimedSize(const uint8_t* data, uint32_t capacity);

// kal_Synth_Mark's text and marker, cut so that the driver still finds the
// same marker and takes the same window: the driver searches the whole text
// for the marker's first occurrence and reads at most 4097 bytes after it.
// Returns the text's and the marker's lengths to send (the text from its start);
// `dropMarker` is set when the marker must be sent as absent.
struct SynthMarkCut {
    uint32_t textSize;
    uint32_t markerSize;
    bool dropMarker;
};
SynthMarkCut CutSynthMark(const char* text, size_t textSize, const char* marker, size_t markerSize);

}  // namespace bridge
