#include <algorithm>
#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "bench/bench.h"

namespace {
// The engine's list holds 80 voices of one language.
constexpr int kVoicesPerLanguage = 80;

LONGLONG Frequency() {
    static LONGLONG frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return frequency;
}

int Languages(int voices) { return (voices + kVoicesPerLanguage - 1) / kVoicesPerLanguage; }
int VoicesOf(int voices, int language) {
    return std::min(kVoicesPerLanguage, voices - language * kVoicesPerLanguage);
}
std::string LanguageName(int language) { return "Lang" + std::to_string(language); }
std::string VoiceName(int language, int voice) {
    return "L" + std::to_string(language) + "Voice" + std::to_string(voice);
}
}  // namespace

double TicksToMicroseconds(LONGLONG ticks) { return ticks * 1e6 / Frequency(); }

double ClockMicroseconds() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return TicksToMicroseconds(now.QuadPart);
}

double Samples::min() const { return *std::min_element(values.begin(), values.end()); }

double Samples::median() const {
    std::vector<double> sorted = values;
    std::sort(sorted.begin(), sorted.end());
    const size_t n = sorted.size();
    return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
}

HostFolder::HostFolder(const std::string& root, const std::string& name, const std::string& driver,
                       const std::string& engine) {
    path = root + name + "\\";
    CreateDirectoryA(root.c_str(), nullptr);
    CreateDirectoryA(path.c_str(), nullptr);
    for (const char* file : {"kal.ini", "kal.pro", "simengine.ini", "simengine.journal"}) remove(file);
    if (!CopyFileA(driver.c_str(), (path + "kal_drv.dll").c_str(), FALSE) ||
        !CopyFileA(engine.c_str(), (path + "nalvoapi.dll").c_str(), FALSE))
        throw std::runtime_error("cannot copy the driver and the engine into " + path);
}

void HostFolder::write(const char* file, const std::string& text) const {
    std::ofstream out(path + file, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out) throw std::runtime_error("cannot write " + path + file);
}

void HostFolder::remove(const char* file) const { DeleteFileA((path + file).c_str()); }

void HostFolder::age(const char* file) const {
    HANDLE h = CreateFileA((path + file).c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return;
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
    t.QuadPart -= 36000000000ULL;  // an hour in 100 ns units
    FILETIME earlier{t.LowPart, t.HighPart};
    SetFileTime(h, nullptr, nullptr, &earlier);
    CloseHandle(h);
}

std::string EngineIni(int voices, int msPerChar) {
    std::string ini = "[Engines]\r\nCount=1\r\nName0=SimEngine\r\n[Languages]\r\nCount=" +
                      std::to_string(Languages(voices)) + "\r\n";
    for (int l = 0; l < Languages(voices); ++l)
        ini += "Name" + std::to_string(l) + "=" + LanguageName(l) + "\r\n";
    for (int l = 0; l < Languages(voices); ++l) {
        ini += "[Voices." + LanguageName(l) + "]\r\nCount=" + std::to_string(VoicesOf(voices, l)) + "\r\n";
        for (int v = 0; v < VoicesOf(voices, l); ++v)
            ini += "Name" + std::to_string(v) + "=" + VoiceName(l, v) + "\r\n";
    }
    ini += "[Script]\r\nMsPerChar=" + std::to_string(msPerChar) + "\r\n";
    return ini;
}

std::vector<std::pair<std::string, std::string>> StartupKeys(int voices) {
    // Only the first 200 voices enter the catalogue, and only they read "Gender".
    constexpr int kCatalogueCapacity = 200;
    std::vector<std::pair<std::string, std::string>> keys = {{"Default", "DEBUG"}, {"Default", "Api"}};
    int registered = 0;
    for (int l = 0; l < Languages(voices); ++l) {
        for (int v = 0; v < VoicesOf(voices, l); ++v) {
            const std::string section = "Nalvo " + LanguageName(l) + " " + VoiceName(l, v);
            for (const char* key : {"Name", "Lang", "CodePage"}) keys.push_back({section, key});
            // The profile's Name is the section name, which is what "Gender" is keyed by.
            if (registered++ < kCatalogueCapacity) keys.push_back({"Gender", section});
        }
    }
    return keys;
}
