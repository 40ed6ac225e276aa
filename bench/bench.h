// The driver's benchmark: a host that loads kal_drv.dll from a fresh folder beside
// the simulated engine, as a screen reader does, and times the exports.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// Microseconds on the performance counter.
double ClockMicroseconds();
double TicksToMicroseconds(LONGLONG ticks);

// One figure's samples over the rounds.
struct Samples {
    std::vector<double> values;
    void add(double v) { values.push_back(v); }
    double min() const;
    double median() const;
};

// The files beside the driver in a fresh host folder.
struct HostFolder {
    std::string path;  // ends with '\'
    // Empties (or creates) <root><name>\ and copies the driver and the engine in.
    HostFolder(const std::string& root, const std::string& name, const std::string& driver,
               const std::string& engine);
    void write(const char* file, const std::string& text) const;
    void remove(const char* file) const;
    // Dates the file's last write an hour back: the system's profile routines
    // parse a file written in the last seconds anew at every access.
    void age(const char* file) const;
};

// simengine.ini offering `voices` voices: as many languages of up to 80 voices
// as needed, each voice named uniquely; msPerChar sets the speaking time.
std::string EngineIni(int voices, int msPerChar);
// The sections and keys a start-up reads for the voices EngineIni offers, in the
// order it reads them (each read twice by a driver that asks for presence first).
std::vector<std::pair<std::string, std::string>> StartupKeys(int voices);
