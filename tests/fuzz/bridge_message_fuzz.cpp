// libFuzzer target for the bridge's message decoders: any bytes a peer could
// leave in a slot. Decoding never reads outside the input, and whatever decodes
// re-encodes to the very same bytes (the decoders accept one form only), and
// every text handed out lies inside the input and is terminated there.
//
// The first input byte picks the direction and the operation an answer is
// expected for; the rest is the message.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bridge/channel.h"
#include "bridge/message.h"

using namespace bridge;

namespace {
void CheckInside(const TextField& text, const uint8_t* data, size_t size, uint32_t terminator) {
    if (!text.present) return;
    const uint8_t* at = static_cast<const uint8_t*>(text.data);
    if (at < data || at + text.size + terminator > data + size) abort();
    for (uint32_t i = 0; i < terminator; ++i)
        if (at[text.size + i] != 0) abort();
}

void CheckSame(const uint8_t* data, size_t size, uint32_t encoded, const std::vector<uint8_t>& out) {
    if (encoded != size || memcmp(out.data(), data, size) != 0) abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t length) {
    if (length < 1 || length - 1 > kMessageCapacity) return 0;
    const uint8_t selector = input[0];
    // A private copy, as both processes make before decoding.
    std::vector<uint8_t> message(input + 1, input + length);
    const uint32_t size = static_cast<uint32_t>(message.size());
    std::vector<uint8_t> out(kMessageCapacity);
    if (selector & 0x80) {
        Request request;
        if (!DecodeRequest(message.data(), size, request, nullptr)) return 0;
        for (int i = 0; i < kTextCount; ++i)
            CheckInside(request.texts[i], message.data(), size, TextKindOf(request.op, i));
        CheckSame(message.data(), size, EncodeRequest(request, out.data(), kMessageCapacity), out);
    } else {
        const Op expected = static_cast<Op>(1 + selector % kOpCount);
        static Response response;
        if (!DecodeResponse(message.data(), size, expected, response, nullptr)) return 0;
        if (response.voiceCount > kVoiceCapacity) abort();
        CheckInside(response.text, message.data(), size, 1);
        for (uint32_t i = 0; i < response.voiceCount; ++i) {
            CheckInside(response.voices[i].name, message.data(), size, 1);
            CheckInside(response.voices[i].language, message.data(), size, 1);
            CheckInside(response.voices[i].identifier, message.data(), size, 1);
        }
        CheckSame(message.data(), size, EncodeResponse(response, out.data(), kMessageCapacity), out);
    }
    return 0;
}
