// Tests of the driver with the eSpeak NG engine (nalvoapi.so of the native
// product build) as its engine: each test gets a fresh folder with the engine,
// the product's kal.ini and an espeakengine.ini of its own, and starts the
// driver as a host does (kal_Initialize). The engine's probes report every
// block of samples it delivers and every text it is given; its WAV output is
// read back and measured.
#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "support/driver_fixture.h"

// The audio of a WAV file, 16-bit mono.
struct Audio {
    uint32_t rate = 0;
    std::vector<int16_t> samples;
    double Seconds() const { return rate ? static_cast<double>(samples.size()) / rate : 0; }
    double Rms() const;
    int Peak() const;
};
Audio ReadWav(const std::string& path);
// Audio read raw (s16le mono at rate), as parec records it.
Audio ReadRaw(const std::string& path, uint32_t rate);

struct SynthEventSeen {
    int message;
    int mark;
};

class EspeakTest : public DriverTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // Lines of espeakengine.ini for this test (before Start).
    void Configure(const std::vector<std::string>& lines);
    // kal_Initialize; true when the engine started. Binds the probes.
    bool Start();
    // The driver's waits as shipped, or shortened for the load rows.
    void ShortenWaits();
    // Polls pred every millisecond until true or limitMs passed.
    static bool WaitFor(const std::function<bool()>& pred, uint32_t limitMs);

    std::vector<SynthEventSeen> Events();
    std::vector<std::string> TextsGiven();
    // Samples delivered so far, and when the last block came.
    static uint64_t SamplesDelivered();
    static std::chrono::steady_clock::time_point LastDelivery();

    std::string wavPath;  // the append-mode WAV file of this test
    bool shortened = false;
};

// The product kal.ini below the native build tree, and the engine seen from a
// test's folder (<build>/tests/scratch/<name>/), as kal.ini's Api names it.
#define ESPEAK_PRODUCT_INI "product/kal.ini"
#define ESPEAK_ENGINE_FROM_TEST_FOLDER "..\\..\\..\\product\\nalvoapi.so"
