// SPDX-License-Identifier: GPL-3.0-or-later
// Where the samples go: the engine's one seam to files and audio servers.
// 16-bit mono samples at the rate eSpeak NG produces (22050 Hz). All calls come
// from the engine's worker thread.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "espeakengine/config.h"

// What the host wants of the text while an output waits (for room in a
// server's buffer, for the buffer to be played): go on, hold (a pause: the
// output stops playing until it is Go again), or give up (a stop).
enum class TextState { Go, Hold, Cut };
typedef TextState (*TextStateFn)();

class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // False with error set when the output cannot be used.
    virtual bool Open(int sampleRate, std::string& error) = 0;
    // False when the samples could not be taken (the output reported why on
    // standard error): the text ends there. A Cut while waiting returns true.
    virtual bool Write(const int16_t* samples, int count, TextStateFn state) = 0;
    // A text was spoken to its end, or cut (a stop): what is buffered is played
    // out (holding while state says Hold, giving up when it says Cut), or
    // thrown away.
    virtual void EndText(bool cut, TextStateFn state) = 0;
    virtual void Close() = 0;
};

std::unique_ptr<AudioOutput> MakeWavOutput(const std::string& path, WavMode mode, bool realtime);
std::unique_ptr<AudioOutput> MakePulseOutput(const std::string& server);
std::unique_ptr<AudioOutput> MakeNoOutput();
