// The native product against what a desktop throws at it: hostile texts,
// damaged data, files that are not files, forks and second copies. Each row
// is a fault seen before; the host's process must go on and speak.
#define KAL_BUILDING_DRIVER
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "engine/engine.h"
#include "espeakengine/espeak_support.h"
#include "kal_drv.h"
#include "support/files.h"
#include "support/text16.h"

namespace {
constexpr uint32_t kSpeakLimitMs = 30000;
constexpr double kSpeechRms = 500;

class HostileTest : public EspeakTest {
protected:
    size_t CountEnds() {
        size_t n = 0;
        for (const SynthEventSeen& e : Events()) n += e.message == KAL_MSG_END;
        return n;
    }
    // Speaks one text and gives the audio of that text alone (false: no end came).
    bool SpeakOne(const Text16& text, Audio& audio) {
        const size_t before = ReadWav(wavPath).samples.size();
        const size_t ends = CountEnds();
        kal_Synth(text.c_str(), 1);
        if (!WaitFor([&] { return CountEnds() > ends; }, kSpeakLimitMs)) return false;
        audio = ReadWav(wavPath);
        audio.samples.erase(audio.samples.begin(), audio.samples.begin() + static_cast<long>(before));
        return true;
    }
};

// Latin-1 UTF-8 (the test files' encoding) as the host's UTF-16.
Text16 Utf16FromLatin1Utf8(const std::string& text) {
    Text16 out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if ((c & 0xE0) == 0xC0 && i + 1 < text.size()) {
            out += static_cast<kal_char16>((c & 0x1F) << 6 | (static_cast<unsigned char>(text[++i]) & 0x3F));
        } else {
            out += static_cast<kal_char16>(c);
        }
    }
    return out;
}

TEST_F(HostileTest, EmbeddedCommandsInHostTextChangeNoSetting) {
    ASSERT_TRUE(Start());
    kal_SetVoiceByName("Deutsch");
    const Text16 sentence = T16("Guten Tag, dies ist ein ganz gew\u00f6hnlicher Satz.");
    Audio plain;
    ASSERT_TRUE(SpeakOne(sentence, plain));
    ASSERT_GT(plain.Rms(), kSpeechRms);
    // Control-A starts eSpeak NG's commands: 0A silences, 400S speeds up, for
    // this text and every later one.
    const struct {
        const char* label;
        Text16 text;
    } rows[] = {
        {"volume 0", T16("\x01") T16("0A Hallo.")},
        {"rate 400", T16("\x01") T16("400S Hallo.")},
        {"pitch and voice", T16("Hallo \x01") T16("99P \x01") T16("5Y.")},
    };
    for (const auto& row : rows) {
        Audio injected, after;
        ASSERT_TRUE(SpeakOne(row.text, injected)) << row.label;
        ASSERT_TRUE(SpeakOne(sentence, after)) << row.label;
        EXPECT_GT(after.Rms(), plain.Rms() * 0.8) << row.label;
        EXPECT_NEAR(plain.Seconds(), after.Seconds(), plain.Seconds() * 0.1) << row.label;
    }
    for (const std::string& given : TextsGiven()) EXPECT_EQ(std::string::npos, given.find('\x01')) << given;
}

TEST_F(HostileTest, TextsThatAbortESpeakNgAreSpokenAndEnd) {
    std::ifstream file(std::string(KAL_SOURCE_DIR) + "/tests/espeakengine/aborting_texts.txt");
    ASSERT_TRUE(file.good());
    ASSERT_TRUE(Start());
    kal_SetVoiceByName("Deutsch");
    std::string line;
    int texts = 0;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t star = line.find('*');
        ASSERT_NE(std::string::npos, star) << line;
        std::string text;
        for (int i = std::stoi(line.substr(0, star)); i > 0; --i) text += line.substr(star + 1);
        Audio audio;
        ASSERT_TRUE(SpeakOne(Utf16FromLatin1Utf8(text), audio)) << line;
        EXPECT_GT(audio.Seconds(), 1.0) << line;
        ++texts;
    }
    EXPECT_GE(texts, 5);
}
}  // namespace
