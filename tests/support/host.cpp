#include "support/host.h"

#include <chrono>
#include <condition_variable>
#include <stdexcept>

#include "support/files.h"

const char* const kExportNames[20] = {
    "kal_Initialize", "kal_Terminate", "kal_Info", "kal_SetSynthCallback", "kal_SetUriCallback",
    "kal_Synth", "kal_Synth_Mark", "kal_Key", "kal_Char", "kal_SetParameter", "kal_GetParameter",
    "kal_SetPunctuationList", "kal_ListVoices", "kal_SetVoiceByName", "kal_SetVoiceByProperties",
    "kal_GetCurrentVoice", "kal_Pause", "kal_Stop", "kal_IsPlaying", "kal_Synchronize",
};

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

template <typename Fn>
void Bind(HMODULE dll, const char* name, Fn& fn) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
    if (!fn) throw std::runtime_error(std::string("missing export ") + name);
}
}  // namespace

Host::Host(const std::string& name, const std::string& kalIni, const std::string& engineIni,
           const char* engineFile) {
    folder = FreshFolder(name);
    CopyFileTo(BuildPath("driver/kal_drv.dll"), folder + "kal_drv.dll");
    if (engineFile) CopyFileTo(BuildPath(engineFile), folder + "nalvoapi.dll");
    if (!kalIni.empty()) WriteFileText(folder + "kal.ini", kalIni);
    if (!engineIni.empty()) WriteEngineIni(engineIni);
    ClearEvents();
}

Host::~Host() { Unload(); }

void Host::Load() {
    dll_ = LoadLibraryA((folder + "kal_drv.dll").c_str());
    if (!dll_) throw std::runtime_error("kal_drv.dll did not load from " + folder);
    Bind(dll_, "kal_Initialize", Initialize);
    Bind(dll_, "kal_Terminate", Terminate);
    Bind(dll_, "kal_Info", Info);
    Bind(dll_, "kal_SetSynthCallback", SetSynthCallback);
    Bind(dll_, "kal_SetUriCallback", SetUriCallback);
    Bind(dll_, "kal_Synth", Synth);
    Bind(dll_, "kal_Synth_Mark", SynthMark);
    Bind(dll_, "kal_Key", Key);
    Bind(dll_, "kal_Char", Char);
    Bind(dll_, "kal_SetParameter", SetParameter);
    Bind(dll_, "kal_GetParameter", GetParameter);
    Bind(dll_, "kal_SetPunctuationList", SetPunctuationList);
    Bind(dll_, "kal_ListVoices", ListVoices);
    Bind(dll_, "kal_SetVoiceByName", SetVoiceByName);
    Bind(dll_, "kal_SetVoiceByProperties", SetVoiceByProperties);
    Bind(dll_, "kal_GetCurrentVoice", GetCurrentVoice);
    Bind(dll_, "kal_Pause", Pause);
    Bind(dll_, "kal_Stop", Stop);
    Bind(dll_, "kal_IsPlaying", IsPlaying);
    Bind(dll_, "kal_Synchronize", Synchronize);
}

void Host::Unload() {
    if (dll_) FreeLibrary(dll_);
    dll_ = nullptr;
}

std::vector<std::string> Host::Protocol() const { return SplitLines(ReadFileText(folder + "kal.pro")); }
std::vector<std::string> Host::Journal() const { return SplitLines(ReadFileText(folder + "simengine.journal")); }

std::string Host::Profile(const char* section, const char* key) const {
    char value[4096];
    GetPrivateProfileStringA(section, key, "", value, sizeof value, (folder + "kal.ini").c_str());
    return value;
}

void Host::SetProfile(const char* section, const char* key, const char* value) const {
    WritePrivateProfileStringA(section, key, value, (folder + "kal.ini").c_str());
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
