#include "support/host.h"

#include <chrono>
#include <condition_variable>
#include <stdexcept>

#include "kal_exports.h"
#include "support/files.h"

#define KAL_EXPORT_NAME(name, function, result, parameters) #function,
const char* const kExportNames[20] = {KAL_EXPORTS(KAL_EXPORT_NAME)};
#undef KAL_EXPORT_NAME

namespace {
// The callback is a plain function: its events go to one process-wide list.
std::mutex eventsLock;
std::condition_variable eventsChanged;
std::vector<HostEvent> events;

int KAL_CDECL RecordEvent(const KalSynthEvent* event) {
    {
        std::lock_guard<std::mutex> guard(eventsLock);
        events.push_back(HostEvent{event->message, event->mark});
    }
    eventsChanged.notify_all();
    return 0;
}

}  // namespace

Host::Host(const std::string& name, const std::string& kalIni, const std::string& engineIni,
           const char* engineFile) {
    folder = FreshFolder(name);
    CopyFileTo(BuildPath("driver/kal_drv.dll"), folder + "kal_drv.dll");
#ifdef KAL_TEST_BRIDGE  // a 64-bit host: the bridge and its helper beside the driver
    CopyFileTo(BuildPath("bridge/kal_drv64.dll"), folder + "kal_drv64.dll");
    CopyFileTo(BuildPath("host32/kal_host32.exe"), folder + "kal_host32.exe");
#endif
    if (engineFile) CopyFileTo(BuildPath(engineFile), folder + "nalvoapi.dll");
    if (!kalIni.empty()) WriteFileText(folder + "kal.ini", kalIni);
    if (!engineIni.empty()) WriteEngineIni(engineIni);
#ifndef KAL_TEST_BRIDGE
    if (IsolatedRun()) Isolate();
#endif
    ClearEvents();
}

bool IsolatedRun() {
#ifdef KAL_TEST_BRIDGE
    return false;
#else
    char value[8] = {};
    return GetEnvironmentVariableA("KAL_TEST_ISOLATION", value, sizeof value) > 0 && value[0] == '1';
#endif
}

void Host::Isolate() const {
    CopyFileTo(BuildPath("host32/kal_host32.exe"), folder + "kal_host32.exe");
    SetProfile("Default", "Isolation", "1");
}

Host::~Host() { Unload(); }

void Host::Load() {
    std::string error;
    if (!KalApi::Load(folder + kHostDriverFile, error)) throw std::runtime_error(error);
}

std::vector<std::string> Host::Protocol() const { return ReadLines(folder + "kal.pro"); }
std::vector<std::string> Host::Journal() const { return ReadLines(folder + "simengine.journal"); }

std::vector<SpokenText> Host::Spoken() const {
    std::vector<SpokenText> spoken;
    for (const std::string& line : LinesStartingWith(Journal(), "SetText length=")) {
        const size_t from = line.find(" text=") + 6, to = line.rfind(" result=");
        spoken.push_back(SpokenText{std::stoul(line.substr(15)), JournalUnescape(line.substr(from, to - from))});
    }
    return spoken;
}

std::string Host::Profile(const char* section, const char* key) const {
    return ReadProfileValue(folder, section, key);
}

void Host::SetProfile(const char* section, const char* key, const char* value) const {
    WriteProfileValue(folder, section, key, value);
}

void Host::WriteEngineIni(const std::string& text) const { WriteFileText(folder + "simengine.ini", text); }

void Host::UseCallback() { SetSynthCallback(RecordEvent); }

std::vector<HostEvent> Host::Events() const {
    std::lock_guard<std::mutex> guard(eventsLock);
    return events;
}

void Host::ClearEvents() {
    std::lock_guard<std::mutex> guard(eventsLock);
    events.clear();
}

bool Host::WaitForEvents(size_t count, DWORD timeoutMs) const {
    std::unique_lock<std::mutex> guard(eventsLock);
    return eventsChanged.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                  [&] { return events.size() >= count; });
}
