// The bridge's message codec: what an honest peer writes comes back field for
// field, and every malformed request or answer is refused with a reason.
// Malformed inputs start from a well-formed message and change one thing.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bridge/channel.h"
#include "bridge/message.h"

using namespace bridge;

namespace {

// The field points into `text`, which must outlive it.
TextField Text(const std::string& text) {
    TextField field;
    field.present = true;
    field.data = text.data();
    field.size = static_cast<uint32_t>(text.size());
    return field;
}

TextField Wide(const std::u16string& text) {
    TextField field;
    field.present = true;
    field.data = text.data();
    field.size = static_cast<uint32_t>(text.size() * 2);
    return field;
}

std::string Str(const TextField& field) {
    return field.present ? std::string(static_cast<const char*>(field.data), field.size) : "<null>";
}

void Put32(std::vector<uint8_t>& message, size_t at, uint32_t value) { memcpy(&message[at], &value, 4); }

std::vector<uint8_t> Encoded(const Request& request) {
    std::vector<uint8_t> out(kMessageCapacity, 0xCD);
    const uint32_t size = EncodeRequest(request, out.data(), static_cast<uint32_t>(out.size()));
    out.resize(size);
    return out;
}

const std::string kLanguage = "Deutsch", kName = "Anna", kMarker = "##";
const std::u16string kWideText = u"Z\u00fcrich";

Request FilterRequest() {
    Request request;
    request.op = Op::ListVoices;
    request.args[0] = 1;
    request.args[1] = 2 | (32 << 8);
    request.texts[0] = Text(kLanguage);
    request.texts[1] = Text(kName);
    return request;
}

}  // namespace

TEST(BridgeMessage, RequestsComeBackFieldForField) {
    const std::string text = "Der erste Text.";
    struct Row {
        const char* label;
        Request request;
    } rows[5];
    rows[0].label = "synth, UTF-16 text and mark";
    rows[0].request.op = Op::Synth;
    rows[0].request.args[0] = -7;
    rows[0].request.texts[0] = Wide(kWideText);
    rows[1].label = "synth mark with marker";
    rows[1].request.op = Op::SynthMark;
    rows[1].request.args[0] = 3;
    rows[1].request.texts[0] = Text(text);
    rows[1].request.texts[1] = Text(kMarker);
    rows[2].label = "filter with an absent identifier";
    rows[2].request = FilterRequest();
    rows[3].label = "set parameter, three arguments";
    rows[3].request.op = Op::SetParameter;
    rows[3].request.args[0] = 1;
    rows[3].request.args[1] = 100;
    rows[3].request.args[2] = -1;
    const std::string empty;
    rows[4].label = "key with an empty text";
    rows[4].request.op = Op::Key;
    rows[4].request.texts[0] = Text(empty);
    for (const Row& row : rows) {
        std::vector<uint8_t> message = Encoded(row.request);
        ASSERT_FALSE(message.empty()) << row.label;
        Request decoded;
        const char* why = "";
        ASSERT_TRUE(DecodeRequest(message.data(), static_cast<uint32_t>(message.size()), decoded, &why))
            << row.label << ": " << why;
        EXPECT_EQ(row.request.op, decoded.op) << row.label;
        for (int i = 0; i < kArgCount; ++i) EXPECT_EQ(row.request.args[i], decoded.args[i]) << row.label << " arg " << i;
        for (int i = 0; i < kTextCount; ++i) {
            EXPECT_EQ(row.request.texts[i].present, decoded.texts[i].present) << row.label << " text " << i;
            EXPECT_EQ(Str(row.request.texts[i]), Str(decoded.texts[i])) << row.label << " text " << i;
        }
    }
}

TEST(BridgeMessage, MalformedRequestsAreRefused) {
    // Offsets in a request: 0 size, 4 op, 8-16 arguments, 20-28 text sizes, 32 the first text.
    const std::vector<uint8_t> synth = Encoded([] {
        Request r;
        r.op = Op::Synth;
        r.args[0] = 5;
        r.texts[0] = Wide(kWideText);
        return r;
    }());
    const std::vector<uint8_t> filter = Encoded(FilterRequest());
    const std::vector<uint8_t> stop = Encoded([] {
        Request r;
        r.op = Op::Stop;
        return r;
    }());
    struct Row {
        const char* label;
        const std::vector<uint8_t>* base;
        std::function<void(std::vector<uint8_t>&)> change;
    } rows[] = {
        {"shorter than a header", &stop, [](std::vector<uint8_t>& m) { m.resize(20); Put32(m, 0, 20); }},
        {"size word larger than the message", &stop, [](std::vector<uint8_t>& m) { Put32(m, 0, 33); }},
        {"size word smaller than the message", &synth, [](std::vector<uint8_t>& m) { Put32(m, 0, 32); }},
        {"operation 0", &stop, [](std::vector<uint8_t>& m) { Put32(m, 4, 0); }},
        {"operation past the last", &stop, [](std::vector<uint8_t>& m) { Put32(m, 4, kOpCount + 1); }},
        {"argument to an operation without any", &stop, [](std::vector<uint8_t>& m) { Put32(m, 8, 1); }},
        {"second argument to synth", &synth, [](std::vector<uint8_t>& m) { Put32(m, 12, 1); }},
        {"text to an operation without texts", &stop, [](std::vector<uint8_t>& m) {
             Put32(m, 20, 0);
             m.insert(m.end(), 4, 0);
             Put32(m, 0, static_cast<uint32_t>(m.size()));
         }},
        {"text size beyond the message", &synth, [](std::vector<uint8_t>& m) { Put32(m, 20, 0x7FFFFFF0); }},
        {"text size near the top of 32 bits", &synth, [](std::vector<uint8_t>& m) { Put32(m, 20, 0xFFFFFFFE); }},
        {"UTF-16 text of odd size", &synth, [](std::vector<uint8_t>& m) { Put32(m, 20, 11); }},
        {"UTF-16 text without terminator", &synth, [](std::vector<uint8_t>& m) { m[32 + 12] = 'x'; }},
        {"UTF-16 NUL inside", &synth, [](std::vector<uint8_t>& m) { m[32 + 2] = 0; m[32 + 3] = 0; }},
        {"padding not zero", &synth, [](std::vector<uint8_t>& m) { m[32 + 14] = 1; }},
        {"bytes after the last text", &synth, [](std::vector<uint8_t>& m) {
             m.insert(m.end(), 4, 0);
             Put32(m, 0, static_cast<uint32_t>(m.size()));
         }},
        {"8-bit text without terminator", &filter, [](std::vector<uint8_t>& m) { m[32 + 7] = 'x'; }},
        {"8-bit NUL inside", &filter, [](std::vector<uint8_t>& m) { m[32 + 3] = 0; }},
        {"filter flag 2", &filter, [](std::vector<uint8_t>& m) { Put32(m, 8, 2); }},
        {"texts in a null filter", &filter, [](std::vector<uint8_t>& m) { Put32(m, 8, 0); }},
        {"filter age beyond a byte pair", &filter, [](std::vector<uint8_t>& m) { Put32(m, 12, 0x10000); }},
        {"callback flag 2", &stop, [](std::vector<uint8_t>& m) {
             Put32(m, 4, static_cast<uint32_t>(Op::SetSynthCallback));
             Put32(m, 8, 2);
         }},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> message = *row.base;
        ASSERT_FALSE(message.empty()) << row.label;
        row.change(message);
        Request decoded;
        const char* why = nullptr;
        EXPECT_FALSE(DecodeRequest(message.data(), static_cast<uint32_t>(message.size()), decoded, &why)) << row.label;
        EXPECT_NE(nullptr, why) << row.label;
    }
}

TEST(BridgeMessage, AnswersComeBackAndMalformedOnesAreRefused) {
    const std::string name = "Anna", language = "0049", identifier = "0049-Anna";
    Response list;
    list.op = Op::ListVoices;
    list.result = 0;
    list.eventsWritten = 77;
    list.text = Text(language);
    list.voiceCount = 2;
    list.voices[0].address = 0x1000;
    list.voices[0].name = Text(name);
    list.voices[0].language = Text(language);
    list.voices[0].identifier = Text(identifier);
    list.voices[0].gender = 2;
    list.voices[0].age = 32;
    list.voices[0].genderHigh = 0xABCD;
    list.voices[1].address = 0x1010;  // a voice with null texts
    std::vector<uint8_t> good(kMessageCapacity);
    good.resize(EncodeResponse(list, good.data(), static_cast<uint32_t>(good.size())));
    ASSERT_FALSE(good.empty());
    {
        Response decoded;
        const char* why = "";
        ASSERT_TRUE(DecodeResponse(good.data(), static_cast<uint32_t>(good.size()), Op::ListVoices, decoded, &why)) << why;
        EXPECT_EQ(77u, decoded.eventsWritten);
        EXPECT_EQ(language, Str(decoded.text));
        ASSERT_EQ(2u, decoded.voiceCount);
        EXPECT_EQ(0x1000u, decoded.voices[0].address);
        EXPECT_EQ(identifier, Str(decoded.voices[0].identifier));
        EXPECT_EQ(0xABCD, decoded.voices[0].genderHigh);
        EXPECT_EQ(32, decoded.voices[0].age);
        EXPECT_FALSE(decoded.voices[1].name.present);
    }
    // Offsets in an answer: 0 size, 4 op, 8 status, 12 result, 16 events, 20 text size,
    // 24 voice count, 28 the first voice record (address, three sizes, four bytes).
    struct Row {
        const char* label;
        Op expected;
        std::function<void(std::vector<uint8_t>&)> change;
    } rows[] = {
        {"an answer to another operation", Op::GetCurrentVoice, [](std::vector<uint8_t>&) {}},
        {"unknown status", Op::ListVoices, [](std::vector<uint8_t>& m) { Put32(m, 8, 2); }},
        {"voice count beyond the catalogue", Op::ListVoices, [](std::vector<uint8_t>& m) { Put32(m, 24, kVoiceCapacity + 1); }},
        {"voice records beyond the message", Op::ListVoices, [](std::vector<uint8_t>& m) { Put32(m, 24, 150); }},
        {"voice without an address", Op::ListVoices, [](std::vector<uint8_t>& m) { Put32(m, 28, 0); }},
        {"voice text longer than a voice's", Op::ListVoices, [](std::vector<uint8_t>& m) { Put32(m, 32, kVoiceTextLimit + 1); }},
        {"voice text beyond the message", Op::ListVoices, [](std::vector<uint8_t>& m) { Put32(m, 32, 200); }},
        {"text not terminated", Op::ListVoices, [](std::vector<uint8_t>& m) { m[28 + 40 + 4] = 'x'; }},
        {"refused, with voices", Op::ListVoices, [](std::vector<uint8_t>& m) { Put32(m, 8, kRefused); }},
        {"trailing bytes", Op::ListVoices, [](std::vector<uint8_t>& m) {
             m.push_back(0);
             Put32(m, 0, static_cast<uint32_t>(m.size()));
         }},
        {"size word past the end", Op::ListVoices, [](std::vector<uint8_t>& m) { Put32(m, 0, static_cast<uint32_t>(m.size() + 1)); }},
    };
    for (const Row& row : rows) {
        std::vector<uint8_t> message = good;
        row.change(message);
        Response decoded;
        const char* why = nullptr;
        EXPECT_FALSE(DecodeResponse(message.data(), static_cast<uint32_t>(message.size()), row.expected, decoded, &why))
            << row.label;
        EXPECT_NE(nullptr, why) << row.label;
        EXPECT_EQ(0u, decoded.voiceCount) << row.label << ": a refused answer hands out no voices";
    }
    // Only Info and the filter calls answer with a text, only the voice calls with voices.
    const std::string x = "x";
    Response withText;
    withText.op = Op::Stop;
    withText.text = Text(x);
    std::vector<uint8_t> stop(256);
    stop.resize(EncodeResponse(withText, stop.data(), 256));
    ASSERT_FALSE(stop.empty());
    Response decoded;
    EXPECT_FALSE(DecodeResponse(stop.data(), static_cast<uint32_t>(stop.size()), Op::Stop, decoded, nullptr));
}

TEST(BridgeMessage, EncodersRefuseWhatDoesNotFit) {
    const std::string big(kMessageCapacity, 'a');
    Request request;
    request.op = Op::Key;
    request.texts[0] = Text(big);
    std::vector<uint8_t> out(kMessageCapacity);
    EXPECT_EQ(0u, EncodeRequest(request, out.data(), static_cast<uint32_t>(out.size())));
    const std::string hundred(100, 'a');
    request.texts[0] = Text(hundred);
    // Header 32, text 100, terminator 1, padded to 136.
    EXPECT_EQ(0u, EncodeRequest(request, out.data(), 135)) << "one byte short";
    EXPECT_EQ(136u, EncodeRequest(request, out.data(), 136));
}

TEST(BridgeMessage, ClaimedSizeNeverExceedsTheCapacity) {
    uint8_t message[16] = {};
    const uint32_t rows[][2] = {{0, 0}, {12, 12}, {16, 16}, {17, 16}, {0xFFFFFFFF, 16}};
    for (const auto& row : rows) {
        memcpy(message, &row[0], 4);
        EXPECT_EQ(row[1], ClaimedSize(message, 16)) << "claimed " << row[0];
    }
}
