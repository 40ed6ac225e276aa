// Random texts and markers of every length around the limits, through the
// exports: every text that reaches the engine is terminated, within 4095 bytes,
// and the start of what the host passed.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/files.h"
#include "support/host.h"
#include "support/sim_ini.h"

namespace {
// The engine rejects every start, so each text reaches ssft_ttsSetText (and the
// journal) at once and nothing waits for speech.
const std::string kEngineIni = SimEngineIni({{"L", {"V"}}}, "Fail.Speak=9\r\n", {"E"});

}  // namespace

TEST(FuzzHost, EveryQueuedTextIsTerminatedAndWithinBounds) {
    Host host("fuzz", "[Default]\r\nDEBUG=0\r\n[Nalvo L V]\r\nCodePage=1252\r\n", kEngineIni);
    host.Load();
    host.SetVoiceByName("Nalvo L V");
    std::mt19937 random(20261207);
    const size_t lengths[] = {0, 1, 2, 4094, 4095, 4096, 4097, 4100, 6000};
    std::vector<std::string> expected;
    for (int round = 0; round < 1500; ++round) {
        const size_t length = random() % 4 ? lengths[random() % 9] : random() % 5000;
        switch (round % 3) {
        case 0: {  // UTF-16, ill-formed surrogates included
            std::wstring text;
            for (size_t i = 0; i < length; ++i) text += static_cast<wchar_t>(1 + random() % 0xFFFE);
            host.Synth(text.c_str(), round);
            expected.push_back("");  // checked by length and shape only
            break;
        }
        case 1: {  // 8-bit key text
            std::string text;
            for (size_t i = 0; i < length; ++i) text += static_cast<char>(1 + random() % 255);
            host.Key(text.c_str());
            expected.push_back(text.substr(0, 4095));
            break;
        }
        default: {  // marker somewhere, or nowhere
            std::string text;
            for (size_t i = 0; i < length; ++i) text += static_cast<char>('a' + random() % 3);
            const std::string marker = std::string(1 + random() % 3, 'a' + random() % 4);
            host.SynthMark(text.c_str(), marker.c_str(), round);
            const size_t at = text.find(marker);
            const size_t start = at == std::string::npos ? 0 : at + marker.size();
            expected.push_back(start > 4096 ? "" : text.substr(start, std::min<size_t>(4095, 4097 - start)));
            break;
        }
        }
    }
    std::vector<SpokenText> spoken = host.Spoken();
    ASSERT_EQ(expected.size(), spoken.size());
    for (size_t i = 0; i < spoken.size(); ++i) {
        ASSERT_LE(spoken[i].text.size(), 4095u) << "round " << i;
        ASSERT_EQ(spoken[i].length, spoken[i].text.size()) << "round " << i;
        if (i % 3 == 0)
            ASSERT_EQ(std::string::npos, spoken[i].text.find('\0')) << "round " << i;
        else
            ASSERT_EQ(expected[i], spoken[i].text) << "round " << i;
    }
}
