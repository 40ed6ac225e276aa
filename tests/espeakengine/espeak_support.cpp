#define KAL_BUILDING_DRIVER  // the exports are linked into the test, not imported
#include "espeakengine/espeak_support.h"

#include <cmath>
#include <cstdio>
#include <fstream>
#include <thread>

#include "engine/engine.h"
#include "kal_drv.h"
#include "platform/platform.h"
#include "speech/speech.h"
#include "speech/speech_testing.h"
#include "support/files.h"

namespace {
std::mutex recordLock;
std::vector<SynthEventSeen> events;     // guarded by recordLock
std::vector<std::string> textsGiven;   // guarded by recordLock
std::atomic<uint64_t> samplesDelivered{0};
std::atomic<int64_t> lastDeliveryNs{0};

int KAL_CDECL OnEvent(const KalSynthEvent* event) {
    std::lock_guard<std::mutex> guard(recordLock);
    events.push_back(SynthEventSeen{event->message, event->mark});
    return 0;
}

void OnSamples(const int16_t*, int count) {
    samplesDelivered += static_cast<uint64_t>(count);
    lastDeliveryNs = std::chrono::steady_clock::now().time_since_epoch().count();
}

void OnText(const char* text) {
    std::lock_guard<std::mutex> guard(recordLock);
    textsGiven.push_back(text);
}

typedef void (*SetProbesFn)(void (*)(const int16_t*, int), void (*)(const char*));

uint32_t Read32(const unsigned char* at) { return at[0] | at[1] << 8 | at[2] << 16 | static_cast<uint32_t>(at[3]) << 24; }
}  // namespace

double Audio::Rms() const {
    if (samples.empty()) return 0;
    double sum = 0;
    for (int16_t s : samples) sum += static_cast<double>(s) * s;
    return std::sqrt(sum / samples.size());
}

int Audio::Peak() const {
    int peak = 0;
    for (int16_t s : samples) peak = std::max(peak, std::abs(static_cast<int>(s)));
    return peak;
}

Audio ReadWav(const std::string& path) {
    Audio audio;
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 44 || std::string(bytes.begin(), bytes.begin() + 4) != "RIFF") return audio;
    audio.rate = Read32(&bytes[24]);
    const uint32_t dataBytes = std::min<uint32_t>(Read32(&bytes[40]), static_cast<uint32_t>(bytes.size() - 44));
    audio.samples.resize(dataBytes / 2);
    for (size_t i = 0; i < audio.samples.size(); ++i)
        audio.samples[i] = static_cast<int16_t>(bytes[44 + 2 * i] | bytes[45 + 2 * i] << 8);
    return audio;
}

Audio ReadRaw(const std::string& path, uint32_t rate) {
    Audio audio;
    audio.rate = rate;
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    audio.samples.resize(bytes.size() / 2);
    for (size_t i = 0; i < audio.samples.size(); ++i)
        audio.samples[i] = static_cast<int16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return audio;
}

void EspeakTest::SetUp() {
    DriverTest::SetUp();
    CopyFileTo(BuildPath(ESPEAK_PRODUCT_INI), folder + "kal.ini");
    // Every test loads the one engine file of the build: a copy per folder
    // would be another library to the system, and eSpeak NG, which all copies
    // share, is started once in a process.
    SetProfile("Default", "Api", ESPEAK_ENGINE_FROM_TEST_FOLDER);
    wavPath = folder + "out.wav";
    Configure({});
    std::lock_guard<std::mutex> guard(recordLock);
    events.clear();
    textsGiven.clear();
    samplesDelivered = 0;
    lastDeliveryNs = 0;
}

void EspeakTest::TearDown() {
    kal_Terminate();
    ReleaseEngineLibrary();
    if (shortened) {
        SpeechTestingSetTimings(kShippedSpeechTimings);
    }
    DriverTest::TearDown();
}

void EspeakTest::Configure(const std::vector<std::string>& lines) {
    std::ofstream out(folder + "espeakengine.ini", std::ios::trunc);
    out << "output=wav\nwav=out.wav\nwavmode=append\n";
    for (const std::string& line : lines) out << line << "\n";
}

void EspeakTest::ShortenWaits() {
    shortened = true;
    SpeechTestingSetTimings({0, 1, 1, 1});
}

bool EspeakTest::Start() {
    kal_SetSynthCallback(OnEvent);
    const bool started = kal_Initialize() != -1;
    if (!started || !Engine.engineLibrary) return false;
    auto setProbes = reinterpret_cast<SetProbesFn>(PlatformLibraryEntry(Engine.engineLibrary, "espeakengine_set_probes"));
    if (!setProbes) return false;
    setProbes(OnSamples, OnText);
    return true;
}

bool EspeakTest::WaitFor(const std::function<bool()>& pred, uint32_t limitMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

std::vector<SynthEventSeen> EspeakTest::Events() {
    std::lock_guard<std::mutex> guard(recordLock);
    return events;
}

std::vector<std::string> EspeakTest::TextsGiven() {
    std::lock_guard<std::mutex> guard(recordLock);
    return textsGiven;
}

uint64_t EspeakTest::SamplesDelivered() { return samplesDelivered.load(); }

std::chrono::steady_clock::time_point EspeakTest::LastDelivery() {
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(lastDeliveryNs.load()));
}
