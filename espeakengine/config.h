// SPDX-License-Identifier: GPL-3.0-or-later
// The engine's configuration: espeakengine.ini in the folder the driver names
// at start-up, then environment variables, which win. Lines "key=value";
// '#' or ';' start a comment line.
//   data      folder of eSpeak NG's data (holding phontab)   KAL_ESPEAK_DATA
//   output    wav, pulse or none                              KAL_ESPEAK_OUTPUT
//   wav       the WAV file (relative: to the engine's folder) KAL_ESPEAK_WAV
//   wavmode   append (one growing file) or pertext            KAL_ESPEAK_WAVMODE
//   pulse     PulseAudio server ("" = the default one)        KAL_ESPEAK_PULSE
//   pitch     0..100, eSpeak's pitch (default 50)             KAL_ESPEAK_PITCH
//   pace      fast, or realtime: the WAV file grows as fast as a sound card
//             would play it (stop and pause then act as on live audio)
//                                                             KAL_ESPEAK_PACE
//   report    where the engine says why it failed: empty (nowhere), stderr,
//             or a file (relative: to the engine's folder)   KAL_ESPEAK_REPORT
#pragma once
#include <string>

enum class OutputKind { Wav, Pulse, None };
enum class WavMode { Append, PerText };

struct EngineConfig {
    std::string folder;  // the engine's folder, '/'-separated, with a trailing '/'
    std::string data;
    OutputKind output = OutputKind::Wav;
    std::string wav = "espeak.wav";
    WavMode wavMode = WavMode::Append;
    std::string pulse;
    int pitch = 50;
    bool realtime = false;
    std::string report;  // "", "stderr" or a file (relative: to the engine's folder)
};

#define ESPEAK_ENGINE_CONFIG_FILE "espeakengine.ini"

// Reads the file in folder (the driver's text, either separator) and the
// environment. False with error set for a value it cannot take; config.report
// is read all the same, so that the error can be reported.
bool ReadEngineConfig(const char* folder, EngineConfig& config, std::string& error);
