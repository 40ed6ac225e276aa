// The fuzz targets: each takes any bytes and drives one of the driver's inputs
// with them. libFuzzer runs them natively (fuzz_entry.cpp); the unit tests
// replay every kept input (crashers/ and the seed corpus) in both builds.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Gives the driver a fresh folder for kal.ini and kal.pro, and an in-process
// engine. Call once before the targets (the unit tests do it per test).
void FuzzPrepare(const std::string& folder);
// Gives the driver's waits back their shipped lengths after a replay.
void FuzzFinish();

// kal_Synth: byte 0 picks the code page (0, 1250, 1252, 932, 65001) and the
// protocol level; the rest are UTF-16 units, lone surrogates included.
void FuzzSynth(const uint8_t* data, size_t size);
// kal_Synth_Mark: text, a NUL, marker.
void FuzzSynthMark(const uint8_t* data, size_t size);
// kal_Key and kal_Char.
void FuzzKey(const uint8_t* data, size_t size);
// The bytes become kal.ini; then every setting the driver reads is read and used.
void FuzzProfile(const uint8_t* data, size_t size);
// The engine's lists at start-up: counts and entries as the engine reports them.
void FuzzEngineLists(const uint8_t* data, size_t size);
// The filter of kal_ListVoices and kal_SetVoiceByProperties.
void FuzzVoiceFilter(const uint8_t* data, size_t size);

struct FuzzTarget {
    const char* name;  // also the folder of its corpus and crashers below tests/fuzz
    void (*run)(const uint8_t* data, size_t size);
};
extern const FuzzTarget kFuzzTargets[6];
