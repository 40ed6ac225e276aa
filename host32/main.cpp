// kal_host32.exe: the 32-bit helper the bridge starts. It loads kal_drv.dll
// from its own folder (so kal.ini, kal.pro and the engine stay where they
// are), serves the bridge's requests from the shared section whose handle it
// inherits, and forwards the driver's synth events into the section's ring.
//
// Command line: kal_host32.exe PROCESS SECTION FOLDER: the bridge's process id,
// the section's handle value in the bridge (both decimal), and the rest of the
// line the host's current folder, of any length. The helper takes the section
// from the bridge at once and keeps no access to the bridge's process; the
// bridge duplicates the section's events into the helper before it runs.
// Nothing else can reach them: they are unnamed and never inheritable, and
// every request is checked before it is followed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/boundary.h"
#include "bridge/channel.h"
#include "bridge/message.h"
#include "bridge/refusals.h"
#include "bridge/spin.h"
#include "kalsay/kal_api.h"

using namespace bridge;

namespace {

// Exit codes, for the bridge's and the tests' sake.
constexpr int kExitQuit = 0;
constexpr int kExitBadCommandLine = 2;
constexpr int kExitBadSection = 3;
constexpr int kExitNoDriver = 4;
constexpr int kExitThrew = 5;
// How long an event waits for room in a full ring before it is dropped (the
// bridge delivers it on its own thread; a host callback this slow has stalled).
constexpr DWORD kRingFullWaitMs = 2000;

Channel* channel = nullptr;
ChannelHandles handles;  // a private copy: the section's copy could change under us
KalApi driver;
HANDLE quitNow = nullptr;
std::atomic<bool> unloadDriver{false};  // a Quit request, not the host's end
std::mutex ringLock;  // the driver may call back from more than one thread

HANDLE Handle(uint32_t value) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)); }

// The driver's synth callback: the event goes into the ring, in order.
int ForwardEventUnguarded(const KalSynthEvent* event) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    std::lock_guard<std::mutex> guard(ringLock);
    const uint32_t written = channel->eventsWritten.load();
    auto hasRoom = [&] { return written - channel->eventsRead.load() < kEventRingSize; };
    if (!SpinFor(hasRoom)) {
        const DWORD started = GetTickCount();
        while (!hasRoom()) {
            channel->writerWaiting.store(1);
            if (hasRoom()) break;
            const DWORD spent = GetTickCount() - started;
            if (spent >= kRingFullWaitMs) break;
            HANDLE waits[2] = {Handle(handles.ringSpace), Handle(handles.bridgeProcess)};
            if (WaitForMultipleObjects(2, waits, FALSE, kRingFullWaitMs - spent) != WAIT_OBJECT_0) break;
        }
        channel->writerWaiting.store(0);
        if (!hasRoom()) return 0;  // dropped: the host's callback has stalled
    }
    channel->ring[written % kEventRingSize] = EventEntry{event->message, event->mark, event->reserved1, event->reserved2,
                                                                  now.QuadPart};
    channel->eventsWritten.store(written + 1);
    if (channel->readerSleeping.load()) SetEvent(Handle(handles.eventsPosted));
    return 0;
}

int KAL_CDECL ForwardEvent(const KalSynthEvent* event) {
    return Guarded(0, [&] { return ForwardEventUnguarded(event); });
}

// A copy of a text out of the private request, writable (the driver may write
// a filter's language back into it).
char* NarrowTextOf(const TextField& text) {
    return text.present ? const_cast<char*>(static_cast<const char*>(text.data)) : nullptr;
}
const wchar_t* WideTextOf(const TextField& text) {
    return text.present ? static_cast<const wchar_t*>(text.data) : nullptr;
}

void DescribeVoice(const KalVoiceDescriptor* voice, VoiceRecord& record) {
    record.address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(voice));
    record.name = NarrowField(voice->name, kVoiceTextLimit);
    record.language = NarrowField(voice->language, kVoiceTextLimit);
    record.identifier = NarrowField(voice->identifier, kVoiceTextLimit);
    record.gender = voice->gender;
    record.age = voice->age;
    record.genderHigh = voice->genderHigh;
}

// Calls the driver for one checked request. The switch names every operation
// without a default, so an export added to KAL_EXPORTS fails to build here
// until it is served.
#pragma GCC diagnostic push
#pragma GCC diagnostic error "-Wswitch"
void Serve(const Request& request, Response& response) {
    int dummyUri = 0;
    KalVoiceFilter filter{};
    const bool withFilter = request.args[0] == 1;
    if (request.op == Op::ListVoices || request.op == Op::SetVoiceByProperties) {
        filter.language = NarrowTextOf(request.texts[0]);
        filter.name = NarrowTextOf(request.texts[1]);
        filter.identifier = NarrowTextOf(request.texts[2]);
        filter.gender = static_cast<unsigned char>(request.args[1] & 0xFF);
        filter.age = static_cast<unsigned char>(request.args[1] >> 8);
        filter.genderHigh = static_cast<unsigned short>(request.args[2]);
    }
    const int32_t* a = request.args;
    switch (request.op) {
    case Op::Initialize: response.result = driver.Initialize(); break;
    case Op::Terminate: response.result = driver.Terminate(); break;
    case Op::Info: response.text = NarrowField(driver.Info(), kInfoTextLimit); break;
    case Op::SetSynthCallback: driver.SetSynthCallback(a[0] ? ForwardEvent : nullptr); break;
    case Op::SetUriCallback: driver.SetUriCallback(a[0] ? &dummyUri : nullptr); break;
    case Op::Synth: response.result = driver.Synth(WideTextOf(request.texts[0]), a[0]); break;
    case Op::SynthMark:
        response.result = driver.SynthMark(NarrowTextOf(request.texts[0]), NarrowTextOf(request.texts[1]), a[0]);
        break;
    case Op::Key: response.result = driver.Key(NarrowTextOf(request.texts[0])); break;
    case Op::Char: response.result = driver.Char(a[0]); break;
    case Op::SetParameter: response.result = driver.SetParameter(a[0], a[1], a[2]); break;
    case Op::GetParameter: response.result = driver.GetParameter(a[0], a[1]); break;
    case Op::SetPunctuationList: response.result = driver.SetPunctuationList(WideTextOf(request.texts[0])); break;
    case Op::ListVoices: {
        KalVoiceDescriptor** list = driver.ListVoices(withFilter ? &filter : nullptr);
        uint32_t n = 0;
        for (; list && list[n] && n < kVoiceCapacity; ++n) DescribeVoice(list[n], response.voices[n]);
        response.voiceCount = n;
        break;
    }
    case Op::SetVoiceByName: response.result = driver.SetVoiceByName(NarrowTextOf(request.texts[0])); break;
    case Op::SetVoiceByProperties: response.result = driver.SetVoiceByProperties(withFilter ? &filter : nullptr); break;
    case Op::GetCurrentVoice:
        if (KalVoiceDescriptor* voice = driver.GetCurrentVoice()) {
            DescribeVoice(voice, response.voices[0]);
            response.voiceCount = 1;
        }
        break;
    case Op::Pause: response.result = driver.Pause(a[0]); break;
    case Op::Stop: response.result = driver.Stop(); break;
    case Op::IsPlaying: response.result = driver.IsPlaying(); break;
    case Op::Synchronize: response.result = driver.Synchronize(); break;
    case Op::Quit:
        unloadDriver.store(true);
        SetEvent(quitNow);
        break;
    case Op::None: break;  // refused by DecodeRequest: never reaches here
    }
    if (withFilter && filter.language && (request.op == Op::ListVoices || request.op == Op::SetVoiceByProperties))
        response.text = NarrowField(filter.language, kNarrowTextLimit);
    response.eventsWritten = channel->eventsWritten.load();
}
#pragma GCC diagnostic pop

// One thread per slot: waits for a request, copies it out, checks it, serves it.
void ServeSlot(uint32_t index) {
    ChannelSlot& slot = channel->slots[index];
    std::vector<uint8_t> message(kMessageCapacity + 2);
    std::vector<uint8_t> answer(kMessageCapacity);
    Response* response = new Response();
    HANDLE waits[2] = {Handle(handles.request[index]), Handle(handles.bridgeProcess)};
    auto requested = [&] { return slot.state.load() == kSlotRequest; };
    for (;;) {
        if (!SpinFor(requested)) {
            slot.serverSleeping.store(1);
            while (!requested()) {
                if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                    SetEvent(quitNow);  // the host has gone: nobody to serve
                    return;
                }
            }
            slot.serverSleeping.store(0);
        }
        uint32_t expected = kSlotRequest;
        if (!slot.state.compare_exchange_strong(expected, kSlotServing)) continue;
        const uint32_t size = ClaimedSize(slot.message, kMessageCapacity);
        memcpy(message.data(), slot.message, size);
        Request request;
        const char* why = nullptr;
        *response = Response();
        if (DecodeRequest(message.data(), size, request, &why)) {
            response->op = request.op;
            // What the serving throws ends here: the bridge gets a refusal and
            // answers as without an engine; the slot serves on.
            if (!Guarded(false, [&] {
                    Serve(request, *response);
                    return true;
                })) {
                *response = Response();
                response->op = request.op;
                response->status = kRefused;
                NoteRefusal("helper", "request", "serving it threw");
            }
        } else {
            uint32_t op = 0;
            if (size >= 8) memcpy(&op, message.data() + 4, 4);
            response->op = static_cast<Op>(op);
            response->status = kRefused;
            char what[32];
            snprintf(what, sizeof what, "request %u", static_cast<unsigned>(op));
            NoteRefusal("helper", what, why);
        }
        const uint32_t written = EncodeResponse(*response, answer.data(), kMessageCapacity);
        if (written == 0) {  // cannot happen with the driver's limits; answer without the payload
            response->text = TextField();
            response->voiceCount = 0;
            EncodeResponse(*response, answer.data(), kMessageCapacity);
        }
        memcpy(slot.message, answer.data(), ClaimedSize(answer.data(), kMessageCapacity));
        slot.state.store(kSlotResponse);
        if (slot.clientSleeping.load()) SetEvent(Handle(handles.response[index]));
    }
}

// A decimal number of the command line, and the text after it.
bool NextNumber(const wchar_t*& at, uint32_t& value) {
    while (*at == L' ') ++at;
    wchar_t* end = nullptr;
    const unsigned long long number = wcstoull(at, &end, 10);
    if (end == at || (*end && *end != L' ') || number == 0 || number > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(number);
    at = end;
    return true;
}

// The command line after the program's name.
const wchar_t* Arguments() {
    const wchar_t* at = GetCommandLineW();
    if (*at == L'"') {
        at = wcschr(at + 1, L'"');
        return at ? at + 1 : L"";
    }
    while (*at && *at != L' ') ++at;
    return at;
}

// The section, taken from the bridge's process; no access to that process stays.
HANDLE TakeSection(uint32_t bridgeId, uint32_t sectionValue) {
    HANDLE bridgeProcess = OpenProcess(PROCESS_DUP_HANDLE, FALSE, bridgeId);
    if (!bridgeProcess) return nullptr;
    HANDLE section = nullptr;
    if (!DuplicateHandle(bridgeProcess, Handle(sectionValue), GetCurrentProcess(), &section,
                         FILE_MAP_READ | FILE_MAP_WRITE, FALSE, 0))
        section = nullptr;
    CloseHandle(bridgeProcess);
    return section;
}

// The helper starts in its own folder; it works in the host's, as the driver
// would in-process, when that folder can be a current folder here (its short
// form when the long one is too long).
void EnterHostFolder(const wchar_t* folder) {
    while (*folder == L' ') ++folder;
    if (!*folder || SetCurrentDirectoryW(folder)) return;
    std::wstring longForm = folder;
    if (longForm.compare(0, 4, L"\\\\?\\") != 0) longForm = L"\\\\?\\" + longForm;
    const DWORD size = GetShortPathNameW(longForm.c_str(), nullptr, 0);
    if (size == 0) return;
    std::wstring shortForm(size, L'\0');
    shortForm.resize(GetShortPathNameW(longForm.c_str(), &shortForm[0], size));
    if (shortForm.compare(0, 4, L"\\\\?\\") == 0) shortForm.erase(0, 4);
    SetCurrentDirectoryW(shortForm.c_str());
}

// A slot that cannot serve (its buffers could not be allocated) ends the
// helper: the bridge sees it end rather than wait for an answer.
void ServeSlotGuarded(uint32_t index) {
    if (!Guarded(false, [&] {
            ServeSlot(index);
            return true;
        }))
        SetEvent(quitNow);
}

bool MapChannel(HANDLE section) {
    if (!section) return false;
    void* view = MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
    if (!view) return false;
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(view, &info, sizeof info) == 0 || info.RegionSize < sizeof(Channel)) return false;
    channel = static_cast<Channel*>(view);
    if (channel->magic != kChannelMagic || channel->version != kChannelVersion || channel->size != sizeof(Channel))
        return false;
    handles = channel->handles;
    return true;
}

std::string OwnFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n < MAX_PATH ? n : 0);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

int Run() {
    // No error boxes: a helper that cannot go on ends, and the bridge notices.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    const wchar_t* arguments = Arguments();
    uint32_t bridgeId = 0, sectionValue = 0;
    if (!NextNumber(arguments, bridgeId) || !NextNumber(arguments, sectionValue)) return kExitBadCommandLine;
    if (!MapChannel(TakeSection(bridgeId, sectionValue))) return kExitBadSection;
    EnterHostFolder(arguments);
    quitNow = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::string error;
    if (!quitNow || !driver.Load(OwnFolder() + "kal_drv.dll", error)) {
        channel->helperState.store(kHelperNoDriver);
        SetEvent(Handle(handles.ready));
        return kExitNoDriver;
    }
    channel->helperState.store(kHelperReady);
    SetEvent(Handle(handles.ready));
    for (uint32_t i = 0; i < kSlotCount; ++i) std::thread(ServeSlotGuarded, i).detach();
    HANDLE waits[2] = {quitNow, Handle(handles.bridgeProcess)};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0 && unloadDriver.load()) {
        // The bridge is being unloaded: the driver is unloaded as a host would.
        driver.Unload();
    }
    return kExitQuit;
}

}  // namespace

int main() {
    // Ending the process (not returning through the C runtime's exit) keeps the
    // serving threads from running on while the process is taken down.
    ExitProcess(static_cast<UINT>(Guarded(kExitThrew, [] { return Run(); })));
}
