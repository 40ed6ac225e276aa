// kal_host32.exe: the helper a client (kal_drv64.dll, or kal_drv.dll in
// isolated mode) starts. It loads kal_drv.dll from its own folder (so kal.ini,
// kal.pro and the engine stay where they are), serves the client's requests
// from the shared channel (bridge/link.h gives it the channel and its
// wake-ups), and forwards the driver's synth events into the channel's ring.
// Nothing else can reach the channel, and every request is checked before it
// is followed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bridge/boundary.h"
#include "bridge/channel.h"
#include "bridge/link.h"
#include "bridge/message.h"
#include "bridge/refusals.h"
#include "bridge/spin.h"
#include "config/limits.h"
#include "kalsay/kal_api.h"

using namespace bridge;

namespace {

// The driver beside the helper: kal_drv.dll, natively libkal_drv.so (kal_helper).
#ifdef KAL_HELPER_DRIVER_FILE
const char kDriverFile[] = KAL_HELPER_DRIVER_FILE;
#else
const char kDriverFile[] = "kal_drv.dll";
#endif

// An event waits kRingFullWaitMs for room in a full ring, then is dropped (the
// client delivers it on its own thread; a host callback this slow has stalled).

HelperLink* link = nullptr;
Channel* channel = nullptr;
KalApi driver;
std::atomic<bool> unloadDriver{false};  // a Quit request, not the host's end
std::mutex ringLock;  // the driver may call back from more than one thread

uint32_t MsSince(std::chrono::steady_clock::time_point started) {
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count());
}

// The driver's synth callback: the event goes into the ring, in order.
int ForwardEventUnguarded(const KalSynthEvent* event) {
    const int64_t now = SharedClockNow();
    std::lock_guard<std::mutex> guard(ringLock);
    const uint32_t written = channel->eventsWritten.load();
    auto hasRoom = [&] { return written - channel->eventsRead.load() < kEventRingSize; };
    if (!SpinFor(hasRoom)) {
        const auto started = std::chrono::steady_clock::now();
        while (!hasRoom()) {
            channel->writerWaiting.store(1);
            if (hasRoom()) break;
            const uint32_t spent = MsSince(started);
            if (spent >= kRingFullWaitMs) break;
            if (link->Wait(kWakeRingSpace, kRingFullWaitMs - spent) != Woke::Signalled) break;
        }
        channel->writerWaiting.store(0);
        if (!hasRoom()) return 0;  // dropped: the host's callback has stalled
    }
    channel->ring[written % kEventRingSize] = EventEntry{event->message, event->mark, event->reserved1, event->reserved2,
                                                                  now};
    channel->eventsWritten.store(written + 1);
    if (channel->readerSleeping.load()) link->Signal(kWakeEventsPosted);
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
const kal_char16* WideTextOf(const TextField& text) {
    return text.present ? static_cast<const kal_char16*>(text.data) : nullptr;
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
        link->Signal(kWakeQuit);
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
    auto requested = [&] { return slot.state.load() == kSlotRequest; };
    for (;;) {
        if (!SpinFor(requested)) {
            slot.serverSleeping.store(1);
            while (!requested()) {
                if (link->Wait(kWakeRequest + index, kUntilPeerGone) != Woke::Signalled) {
                    link->Signal(kWakeQuit);  // the host has gone: nobody to serve
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
        if (slot.clientSleeping.load()) link->Signal(kWakeResponse + index);
    }
}

// A slot that cannot serve (its buffers could not be allocated) ends the
// helper: the bridge sees it end rather than wait for an answer.
void ServeSlotGuarded(uint32_t index) {
    if (!Guarded(false, [&] {
            ServeSlot(index);
            return true;
        }))
        link->Signal(kWakeQuit);
}

int Run() {
    HelperProcessSetup();
    int exitCode = kExitQuit;
    std::unique_ptr<HelperLink> attached = HelperLink::Attach(exitCode);
    if (!attached) return exitCode;
    link = attached.get();
    channel = link->channel();
    // The driver runs in-process here whatever its profile says, and knows
    // whether it continues the protocol of a helper that died.
    const uint32_t generation = channel->generation;
    HelperLink::SetEnvironment(kHelperEnvironment, std::to_string(generation ? generation : 1).c_str());
    std::string error;
    if (!driver.Load(link->OwnFolder() + kDriverFile, error)) {
        channel->helperState.store(kHelperNoDriver);
        link->Signal(kWakeReady);
        return kExitNoDriver;
    }
    channel->helperState.store(kHelperReady);
    link->Signal(kWakeReady);
    for (uint32_t i = 0; i < kSlotCount; ++i) std::thread(ServeSlotGuarded, i).detach();
    if (link->Wait(kWakeQuit, kUntilPeerGone) == Woke::Signalled && unloadDriver.load()) {
        // The client is being unloaded: the driver is unloaded as a host would.
        driver.Unload();
    }
    attached.release();  // the serving threads still use it; the process ends now
    return kExitQuit;
}

}  // namespace

int main() {
    // Ending the process (not returning through the C runtime's exit) keeps the
    // serving threads from running on while the process is taken down.
    HelperProcessExit(Guarded(kExitThrew, [] { return Run(); }));
}
