// First audio and real-time factor of the eSpeak NG engine, through the driver
// (kal_Synth on the driver's core, the engine library loaded as the driver
// loads it) against eSpeak NG called directly, in the same run and with the
// same settings: synchronous synthesis, 20 ms blocks, voice "de", 175 words a
// minute. First audio: from the call (kal_Synth, espeak_Synth) to the first
// block of samples handed to the output. Real-time factor: the time from the
// call to the last sample, divided by the audio's length. Prints one line per
// figure; scripts/bench-native.sh runs it on the product build.
//   usage: kal_espeak_bench [ROUNDS]   (default 40 texts each way)
#define KAL_BUILDING_DRIVER
#include <espeak-ng/speak_lib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "engine/engine.h"
#include "kal_drv.h"
#include "platform/platform.h"
#include "support/driver_fixture.h"
#include "support/files.h"
#include "support/text16.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr int kDefaultRounds = 40;
constexpr int kNormalRate = 175;  // the engine's rate for the driver's 50
constexpr double kSampleRate = 22050;
constexpr auto kEndLimit = std::chrono::seconds(30);
const char* const kSentence = "Guten Tag, dies ist ein Satz f\xc3\xbcr die Messung der Zeit bis zum ersten Ton.";

struct Figures {
    std::vector<double> firstMs;
    std::vector<double> factor;
};

// One measurement's record, written by the sample callback or probe.
std::atomic<int64_t> callAt{0}, firstAt{0}, lastAt{0};
std::atomic<uint64_t> samples{0};
std::atomic<int> ends{0};

int64_t Now() { return Clock::now().time_since_epoch().count(); }

void Reset() {
    firstAt = 0;
    lastAt = 0;
    samples = 0;
    callAt = Now();
}

void Delivered(int count) {
    if (count <= 0) return;
    const int64_t now = Now();
    int64_t expected = 0;
    firstAt.compare_exchange_strong(expected, now);
    lastAt = now;
    samples += static_cast<uint64_t>(count);
}

void Record(Figures& figures) {
    figures.firstMs.push_back((firstAt - callAt) / 1e6);
    const double audioSeconds = samples / kSampleRate;
    figures.factor.push_back(((lastAt - callAt) / 1e9) / audioSeconds);
}

int DirectCallback(short* wav, int count, espeak_EVENT*) {
    if (wav) Delivered(count);
    return 0;
}

// eSpeak NG as the engine left it started (the engine starts it once in a
// process and never ends it): the same library state, called on this thread.
bool MeasureDirect(int rounds, Figures& figures) {
    espeak_SetSynthCallback(DirectCallback);
    espeak_SetVoiceByName("de");
    espeak_SetParameter(espeakRATE, kNormalRate, 0);
    espeak_SetParameter(espeakVOLUME, 100, 0);
    const std::string text = kSentence;
    for (int i = 0; i < rounds; ++i) {
        Reset();
        espeak_Synth(text.c_str(), text.size() + 1, 0, POS_CHARACTER, 0, espeakCHARS_UTF8, nullptr, nullptr);
        Record(figures);
    }
    return true;
}

int KAL_CDECL OnEvent(const KalSynthEvent* event) {
    if (event->message == KAL_MSG_END) ++ends;
    return 0;
}
void OnSamples(const int16_t*, int count) { Delivered(count); }
typedef void (*SetProbesFn)(void (*)(const int16_t*, int), void (*)(const char*));

bool MeasureDriver(int rounds, Figures& figures) {
    const std::string folder = FreshFolder("bench");
    ResetDriverState(folder, 0);
    CopyFileTo(BuildPath("product/kal.ini"), folder + "kal.ini");
    // The build's engine file itself (<build>/tests/scratch/bench-*/ up to <build>).
    PlatformProfileWriteString("Default", "Api", "..\\..\\..\\product\\nalvoapi.so", (folder + "kal.ini").c_str());
    WriteFileText(folder + "espeakengine.ini", "output=none\n");
    kal_SetSynthCallback(OnEvent);
    if (kal_Initialize() == -1 || !Engine.engineLibrary) return false;
    auto setProbes = reinterpret_cast<SetProbesFn>(PlatformLibraryEntry(Engine.engineLibrary, "espeakengine_set_probes"));
    if (!setProbes) return false;
    setProbes(OnSamples, nullptr);
    kal_SetVoiceByName("Deutsch");
    kal_SetParameter(KAL_PARAM_RATE, 50, 0);
    const std::string narrow = kSentence;
    // The sentence as UTF-16 units (it has one non-ASCII letter, two UTF-8 bytes).
    Text16 text;
    for (size_t i = 0; i < narrow.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(narrow[i]);
        if (c >= 0xC0) {
            text += static_cast<kal_char16>((c & 0x1F) << 6 | (static_cast<unsigned char>(narrow[++i]) & 0x3F));
        } else {
            text += static_cast<kal_char16>(c);
        }
    }
    for (int i = 0; i < rounds; ++i) {
        const int endsBefore = ends.load();
        Reset();
        kal_Synth(text.c_str(), i + 1);
        const auto until = Clock::now() + kEndLimit;
        while (ends.load() == endsBefore && Clock::now() < until) std::this_thread::sleep_for(std::chrono::microseconds(100));
        if (ends.load() == endsBefore) return false;
        Record(figures);
    }
    kal_Terminate();
    ReleaseEngineLibrary();
    return true;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
double Percentile90(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() * 9 / 10];
}

void Print(const char* label, const Figures& f) {
    printf("bench: %-22s first audio median %.3f ms, p90 %.3f ms; real-time factor median %.4f, p90 %.4f (%zu texts)\n",
           label, Median(f.firstMs), Percentile90(f.firstMs), Median(f.factor), Percentile90(f.factor), f.firstMs.size());
}
}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 && atoi(argv[1]) > 0 ? atoi(argv[1]) : kDefaultRounds;
    Figures direct, driver;
    // Through the driver, directly, through the driver again: eSpeak NG is one
    // global state, so the two ways take turns and never overlap.
    if (!MeasureDriver(rounds / 2, driver) || !MeasureDirect(rounds, direct) ||
        !MeasureDriver(rounds - rounds / 2, driver)) {
        fprintf(stderr, "bench: eSpeak NG or the driver did not start\n");
        return 1;
    }
    Print("eSpeak NG directly:", direct);
    Print("through the driver:", driver);
    printf("bench: the driver adds %.3f ms to the first audio; its real-time factor is %.1f %% of the library's\n",
           Median(driver.firstMs) - Median(direct.firstMs), 100.0 * Median(driver.factor) / Median(direct.factor));
    return 0;
}
