// A hostile peer in the helper's place: it takes the bridge's section like
// kal_host32.exe, then answers every request with a malformed message, one
// kind after the other, and ends on the bridge's Quit. With "ring" in hostile.txt beside it, it also claims
// far more events than the ring holds after its first answer.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bridge/channel.h"
#include "bridge/message.h"

using namespace bridge;

namespace {
HANDLE Handle(uint32_t value) { return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value)); }

void Put32(uint8_t* at, uint32_t value) { memcpy(at, &value, 4); }

// Writes the n-th kind of malformed answer to the request's operation.
uint32_t Malformed(uint32_t n, uint32_t op, uint8_t* out) {
    Response response;
    response.op = static_cast<Op>(op);
    const std::string text(300, 'x');
    std::vector<uint8_t> good(kMessageCapacity);
    uint32_t size = EncodeResponse(response, good.data(), kMessageCapacity);
    memcpy(out, good.data(), size);
    switch (n % 6) {
    case 0: Put32(out, kMessageCapacity + 100); break;  // size beyond the slot
    case 1: Put32(out + 4, op + 1); break;               // an answer to another operation
    case 2: Put32(out + 24, kVoiceCapacity + 50); break; // more voices than a catalogue
    case 3:                                              // a text without a terminator
        Put32(out + 20, 4);
        memcpy(out + size, "abcd", 4);
        size += 4;
        Put32(out, size);
        break;
    case 4: Put32(out + 8, 7); break;                    // a status nobody knows
    case 5:                                              // a voice with a text beyond a voice's limit
        Put32(out + 24, 1);
        Put32(out + size, 0x1000);
        Put32(out + size + 4, 300);
        Put32(out + size + 8, 0xFFFFFFFF);
        Put32(out + size + 12, 0xFFFFFFFF);
        Put32(out + size + 16, 0);
        memcpy(out + size + 20, text.c_str(), 301);
        size += 20 + 301;
        Put32(out, size);
        break;
    }
    return size;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    // The section is taken from the bridge as kal_host32.exe takes it.
    HANDLE bridgeProcess = OpenProcess(PROCESS_DUP_HANDLE, FALSE, strtoul(argv[1], nullptr, 10));
    HANDLE section = nullptr;
    if (!bridgeProcess || !DuplicateHandle(bridgeProcess, Handle(static_cast<uint32_t>(strtoul(argv[2], nullptr, 10))),
                                           GetCurrentProcess(), &section, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return 3;
    CloseHandle(bridgeProcess);
    void* view = MapViewOfFile(section, FILE_MAP_ALL_ACCESS, 0, 0, 0);
    if (!view) return 3;
    Channel* channel = static_cast<Channel*>(view);
    const ChannelHandles handles = channel->handles;
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string mode = path;
    mode = mode.substr(0, mode.find_last_of('\\') + 1) + "hostile.txt";
    FILE* file = fopen(mode.c_str(), "r");
    char word[16] = "";
    if (file) {
        if (!fgets(word, sizeof word, file)) word[0] = '\0';
        fclose(file);
    }
    const bool ring = strncmp(word, "ring", 4) == 0;

    channel->helperState.store(kHelperReady);
    SetEvent(Handle(handles.ready));
    uint32_t answered = 0;
    HANDLE waits[kSlotCount + 1];
    for (uint32_t i = 0; i < kSlotCount; ++i) waits[i] = Handle(handles.request[i]);
    waits[kSlotCount] = Handle(handles.bridgeProcess);
    for (;;) {
        // Every lane's slots; the tests call from one thread, so one request at a time.
        uint32_t index = kSlotCount;
        for (uint32_t i = 0; i < kSlotCount && index == kSlotCount; ++i) {
            channel->slots[i].serverSleeping.store(1);
            if (channel->slots[i].state.load() == kSlotRequest) index = i;
        }
        if (index == kSlotCount) {
            const DWORD woke = WaitForMultipleObjects(kSlotCount + 1, waits, FALSE, INFINITE);
            if (woke >= WAIT_OBJECT_0 + kSlotCount) return 0;
            continue;
        }
        ChannelSlot& slot = channel->slots[index];
        slot.serverSleeping.store(0);
        uint32_t op;
        memcpy(&op, slot.message + 4, 4);
        Malformed(answered++, op, slot.message);
        slot.state.store(kSlotResponse);
        SetEvent(Handle(handles.response[index]));
        if (op == static_cast<uint32_t>(Op::Quit)) return 0;  // a bridge that unloads waits for this only so long
        if (ring && answered == 1) {
            channel->eventsWritten.store(channel->eventsRead.load() + 5 * kEventRingSize);
            SetEvent(Handle(handles.eventsPosted));
        }
    }
}
