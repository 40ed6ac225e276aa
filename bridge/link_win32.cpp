// The link over Windows: an unnamed section, auto-reset events the client
// duplicates into its suspended helper (their values travel in the section's
// handle table), a job that ends the helper with its client, and the thread
// pool for the client's event thread.
#include "bridge/link.h"

#include <windows.h>

#include <cwchar>

namespace bridge {
namespace {
HANDLE H(void* handle) { return static_cast<HANDLE>(handle); }
HANDLE H(uint32_t value) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)); }
uint32_t Value(void* handle) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handle)); }

void CloseIf(void*& handle) {
    if (handle) CloseHandle(H(handle));
    handle = nullptr;
}

// The same handle in the helper's process (0 on failure).
uint32_t DuplicateInto(HANDLE process, HANDLE handle, DWORD access, DWORD options) {
    HANDLE remote = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), handle, process, &remote, access, FALSE, options)) return 0;
    return Value(remote);
}

// A wait on one wake-up and the peer's process.
Woke WaitEither(HANDLE wake, HANDLE peer, uint32_t timeoutMs) {
    HANDLE waits[2] = {wake, peer};
    switch (WaitForMultipleObjects(2, waits, FALSE, timeoutMs == kUntilPeerGone ? INFINITE : timeoutMs)) {
    case WAIT_OBJECT_0: return Woke::Signalled;
    case WAIT_TIMEOUT: return Woke::Timeout;
    default: return Woke::PeerGone;
    }
}
}  // namespace

// --- The client --------------------------------------------------------------
struct ClientLink::Impl {
    // Constant after Create and StartHelper.
    Channel* channel = nullptr;
    void* section = nullptr;
    void* process = nullptr;
    void* job = nullptr;
    void* wakes[kWakeCount] = {};  // kWakeQuit stays null: it is the helper's own
    void* parked = nullptr;        // the event thread has ended its work and runs no more code here
    // The event thread's start, read by the pool thread once.
    EventThreadBody body = nullptr;
    void* argument = nullptr;
};

std::unique_ptr<ClientLink> ClientLink::Create(std::string& error) {
    std::unique_ptr<ClientLink> link(new ClientLink(new Impl()));
    Impl& l = *link->impl_;
    // Unnamed and handed to the helper alone: no other process can open it;
    // nothing here is inheritable, so a process the host starts gets none of it.
    l.section = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, sizeof(Channel), nullptr);
    if (l.section) l.channel = static_cast<Channel*>(MapViewOfFile(H(l.section), FILE_MAP_ALL_ACCESS, 0, 0, 0));
    if (!l.channel) {
        error = "cannot create the shared section (error " + std::to_string(GetLastError()) + ")";
        return nullptr;
    }
    bool created = true;
    for (uint32_t i = 0; i < kWakeCount; ++i) {
        if (i == kWakeQuit) continue;
        l.wakes[i] = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        created = created && l.wakes[i];
    }
    l.parked = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!created || !l.parked) {
        error = "cannot create the channel's events";
        return nullptr;
    }
    return link;
}

ClientLink::~ClientLink() {
    Impl& l = *impl_;
    if (l.channel) UnmapViewOfFile(l.channel);
    for (void*& wake : l.wakes) CloseIf(wake);
    for (void** h : {&l.section, &l.process, &l.job, &l.parked}) CloseIf(*h);
    delete impl_;
}

Channel* ClientLink::channel() const { return impl_->channel; }
void* ClientLink::process() const { return impl_->process; }

// Starts kal_host32.exe suspended, inheriting nothing, in its own folder (the
// host's current folder may be longer than a process can start in); the
// host's folder follows on the command line, which takes any length. The
// channel's events go into it before it runs.
bool ClientLink::StartHelper(const PathText& folder, std::string& error) {
    Impl& l = *impl_;
    // The helper dies with the host: the job kills it when the host's handle closes.
    l.job = CreateJobObjectW(nullptr, nullptr);
    if (l.job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(H(l.job), JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    std::wstring hostFolder(GetCurrentDirectoryW(0, nullptr), L'\0');
    hostFolder.resize(GetCurrentDirectoryW(static_cast<DWORD>(hostFolder.size()), &hostFolder[0]));
    const std::wstring program = folder + L"kal_host32.exe";
    // The helper takes the section from this process by its id and the
    // section's handle value here, then drops its access to this process.
    std::wstring commandLine = L"\"" + program + L"\" " + std::to_wstring(GetCurrentProcessId()) + L" " +
                               std::to_wstring(Value(l.section)) + L" " + hostFolder;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW,
                        nullptr, folder.c_str(), &startup, &started)) {
        error = "cannot start kal_host32.exe (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    l.process = started.hProcess;
    if (l.job) AssignProcessToJobObject(H(l.job), started.hProcess);  // fails inside some jobs: the helper also watches us

    const HANDLE helper = started.hProcess;
    ChannelHandles& handles = l.channel->handles;
    handles.bridgeProcess = DuplicateInto(helper, GetCurrentProcess(), SYNCHRONIZE, 0);
    handles.ready = DuplicateInto(helper, H(l.wakes[kWakeReady]), 0, DUPLICATE_SAME_ACCESS);
    handles.eventsPosted = DuplicateInto(helper, H(l.wakes[kWakeEventsPosted]), 0, DUPLICATE_SAME_ACCESS);
    handles.ringSpace = DuplicateInto(helper, H(l.wakes[kWakeRingSpace]), 0, DUPLICATE_SAME_ACCESS);
    bool handed = handles.bridgeProcess && handles.ready && handles.eventsPosted && handles.ringSpace;
    for (uint32_t i = 0; i < kSlotCount; ++i) {
        handles.request[i] = DuplicateInto(helper, H(l.wakes[kWakeRequest + i]), 0, DUPLICATE_SAME_ACCESS);
        handles.response[i] = DuplicateInto(helper, H(l.wakes[kWakeResponse + i]), 0, DUPLICATE_SAME_ACCESS);
        handed = handed && handles.request[i] && handles.response[i];
    }
    if (!handed) {
        error = "cannot hand the channel to the helper (error " + std::to_string(GetLastError()) + ")";
        TerminateProcess(helper, 1);
        CloseHandle(started.hThread);
        return false;
    }
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    return true;
}

void ClientLink::Signal(uint32_t wake) {
    if (wake < kWakeCount && impl_->wakes[wake]) SetEvent(H(impl_->wakes[wake]));
}

Woke ClientLink::Wait(uint32_t wake, uint32_t timeoutMs) {
    if (!impl_->process) return Woke::PeerGone;
    return WaitEither(H(impl_->wakes[wake]), H(impl_->process), timeoutMs);
}

void ClientLink::KillHelper() {
    if (impl_->process) TerminateProcess(H(impl_->process), 1);
}

bool ClientLink::WaitHelperEnd(uint32_t timeoutMs) {
    return !impl_->process || WaitForSingleObject(H(impl_->process), timeoutMs) == WAIT_OBJECT_0;
}

bool ClientLink::HelperEnded() { return WaitHelperEnd(0); }

uint32_t ClientLink::HelperExitCode() {
    DWORD code = 0;
    if (!impl_->process || !GetExitCodeProcess(H(impl_->process), &code) || code == STILL_ACTIVE) return 0;
    return code;
}

namespace {
// The event thread is a long callback of the process's thread pool: the pool
// sets `parked` after the callback has returned, so once it is set no code of
// this module runs on that thread any more, and the module may be unmapped
// without the thread having to end (which needs the loader lock).
void CALLBACK EventThreadEntry(PTP_CALLBACK_INSTANCE instance, void* context) {
    ClientLink::Impl* l = static_cast<ClientLink::Impl*>(context);
    CallbackMayRunLong(instance);
    const HANDLE parked = H(l->parked);  // read first: the body may dispose of the link
    if (l->body(l->argument)) SetEventWhenCallbackReturns(instance, parked);
}
}  // namespace

bool ClientLink::StartEventThread(EventThreadBody body, void* argument) {
    impl_->body = body;
    impl_->argument = argument;
    return TrySubmitThreadpoolCallback(&EventThreadEntry, impl_, nullptr) != FALSE;
}

bool ClientLink::WaitParked(uint32_t timeoutMs) {
    return WaitForSingleObject(H(impl_->parked), timeoutMs) == WAIT_OBJECT_0;
}

// --- The helper --------------------------------------------------------------
struct HelperLink::Impl {
    Channel* channel = nullptr;
    ChannelHandles handles;  // a private copy: the section's copy could change under us
    HANDLE quit = nullptr;
};

namespace {
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

// The section, taken from the client's process; no access to that process stays.
HANDLE TakeSection(uint32_t clientId, uint32_t sectionValue) {
    HANDLE clientProcess = OpenProcess(PROCESS_DUP_HANDLE, FALSE, clientId);
    if (!clientProcess) return nullptr;
    HANDLE section = nullptr;
    if (!DuplicateHandle(clientProcess, H(sectionValue), GetCurrentProcess(), &section, FILE_MAP_READ | FILE_MAP_WRITE,
                         FALSE, 0))
        section = nullptr;
    CloseHandle(clientProcess);
    return section;
}

Channel* MapChannel(HANDLE section) {
    if (!section) return nullptr;
    void* view = MapViewOfFile(section, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, 0);
    if (!view) return nullptr;
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(view, &info, sizeof info) == 0 || info.RegionSize < sizeof(Channel)) return nullptr;
    Channel* channel = static_cast<Channel*>(view);
    if (channel->magic != kChannelMagic || channel->version != kChannelVersion || channel->size != sizeof(Channel))
        return nullptr;
    return channel;
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
}  // namespace

// Command line: kal_host32.exe PROCESS SECTION FOLDER: the client's process id,
// the section's handle value in the client (both decimal), and the rest of the
// line the host's current folder, of any length.
std::unique_ptr<HelperLink> HelperLink::Attach(int& exitCode) {
    const wchar_t* arguments = Arguments();
    uint32_t clientId = 0, sectionValue = 0;
    if (!NextNumber(arguments, clientId) || !NextNumber(arguments, sectionValue)) {
        exitCode = kExitBadCommandLine;
        return nullptr;
    }
    Channel* channel = MapChannel(TakeSection(clientId, sectionValue));
    HANDLE quit = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!channel || !quit) {
        exitCode = kExitBadSection;
        return nullptr;
    }
    EnterHostFolder(arguments);
    std::unique_ptr<HelperLink> link(new HelperLink(new Impl()));
    link->impl_->channel = channel;
    link->impl_->handles = channel->handles;
    link->impl_->quit = quit;
    return link;
}

HelperLink::~HelperLink() { delete impl_; }  // the process ends with its handles

Channel* HelperLink::channel() const { return impl_->channel; }

namespace {
HANDLE HelperWake(const HelperLink::Impl& l, uint32_t wake) {
    switch (wake) {
    case kWakeReady: return H(l.handles.ready);
    case kWakeEventsPosted: return H(l.handles.eventsPosted);
    case kWakeRingSpace: return H(l.handles.ringSpace);
    case kWakeQuit: return l.quit;
    default:
        if (wake >= kWakeRequest && wake < kWakeResponse) return H(l.handles.request[wake - kWakeRequest]);
        if (wake >= kWakeResponse && wake < kWakeCount) return H(l.handles.response[wake - kWakeResponse]);
        return nullptr;
    }
}
}  // namespace

void HelperLink::Signal(uint32_t wake) {
    if (HANDLE h = HelperWake(*impl_, wake)) SetEvent(h);
}

Woke HelperLink::Wait(uint32_t wake, uint32_t timeoutMs) {
    return WaitEither(HelperWake(*impl_, wake), H(impl_->handles.bridgeProcess), timeoutMs);
}

std::string HelperLink::OwnFolder() const {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, n < MAX_PATH ? n : 0);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

void HelperLink::SetEnvironment(const char* name, const char* value) { SetEnvironmentVariableA(name, value); }

// --- The process -------------------------------------------------------------
uint64_t CurrentThreadId() { return GetCurrentThreadId(); }

int64_t SharedClockNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

void PinThisModule() {
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&PinThisModule), &self);
}

PathText ModuleFolder(void* module) {
    // A folder of any length: the buffer grows until the name fits.
    std::wstring file(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(static_cast<HMODULE>(module), &file[0], static_cast<DWORD>(file.size()));
        if (n == 0) file.clear();
        if (n < file.size()) {
            file.resize(n);
            break;
        }
        file.resize(file.size() * 2);
    }
    return file.substr(0, file.find_last_of(L'\\') + 1);
}

namespace {
// An engine's fault ends the helper here, with the exception's code: the
// client sees the end at once and restarts it.
LONG WINAPI EndOnUncaughtException(EXCEPTION_POINTERS* exception) {
    TerminateProcess(GetCurrentProcess(), exception && exception->ExceptionRecord
                                              ? exception->ExceptionRecord->ExceptionCode
                                              : static_cast<DWORD>(kExitThrew));
    return EXCEPTION_EXECUTE_HANDLER;
}
}  // namespace

void HelperProcessSetup() {
    // No error boxes: a helper that cannot go on ends, and the client notices.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    SetUnhandledExceptionFilter(&EndOnUncaughtException);
}

void HelperProcessExit(int code) { ExitProcess(static_cast<UINT>(code)); }

}  // namespace bridge
