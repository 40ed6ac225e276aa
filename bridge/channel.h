// The shared-memory section between the isolation client (the bridge:
// kal_drv64.dll, 64-bit; kal_drv.dll in isolated mode; natively libkal_drv.so)
// and its helper (kal_host32.exe, 32-bit; natively kal_helper). Both compile
// this header with pointers of either size, so every field has a fixed width
// and the layout is checked below; there are no pointers.
//
// Who writes what:
// - header fields before `helperState`: the bridge, before the helper starts;
//   constant afterwards (the helper still checks them).
// - a slot: the bridge while the slot is Claimed, the helper while it is
//   Serving; `state` moves Free -> Claimed -> Request (bridge) -> Serving ->
//   Response (helper) -> Free (bridge).
// - the event ring: entries and `eventsWritten` by the helper, `eventsRead` by
//   the bridge.
// Neither side trusts what it reads here: messages are copied out first, then
// decoded and checked (bridge/message.h).
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace bridge {

constexpr uint32_t kChannelMagic = 0x4B414C42;  // "KALB"
constexpr uint32_t kChannelVersion = 2;
// The slots come in lanes, so that one kind of call never waits behind
// another: four for the calls that hand texts over, select voices or start and
// stop the engine; one that every kal_Synchronize shares (its waiters take turns
// behind one request); two for kal_Pause and kal_Stop, which must get through
// while others wait; two for the calls the driver answers at once
// (kal_IsPlaying, kal_GetParameter, the callbacks' registration, kal_Info).
// A caller waits only for a slot of its own lane.
enum Lane : uint32_t { kLaneGeneral = 0, kLaneSynchronize, kLaneControl, kLaneQuick, kLaneCount };
constexpr uint32_t kLaneFirst[kLaneCount + 1] = {0, 4, 5, 7, 9};
constexpr uint32_t kSlotCount = kLaneFirst[kLaneCount];
constexpr uint32_t kMessageCapacity = 64 * 1024;
// Events the driver may send before the bridge has delivered them; a power of two.
constexpr uint32_t kEventRingSize = 256;

// The helper hands the generation to the driver it loads in this variable of
// its environment: the driver then runs in-process whatever its profile says
// (it never isolates itself again), watches its engine, and a restarted
// helper's driver continues the protocol its predecessor began.
constexpr const char* kHelperEnvironment = "KAL_HELPER_GENERATION";

enum SlotState : uint32_t { kSlotFree = 0, kSlotClaimed, kSlotRequest, kSlotServing, kSlotResponse };
enum HelperState : uint32_t { kHelperStarting = 0, kHelperReady, kHelperNoDriver };

static_assert(std::atomic<uint32_t>::is_always_lock_free && sizeof(std::atomic<uint32_t>) == 4,
              "the two processes share plain 32-bit atomics");

// Handle values as the helper sees them: nothing is inherited; the bridge
// duplicates each handle into the helper before the helper runs.
struct ChannelHandles {
    uint32_t bridgeProcess;  // the helper ends when this process ends
    uint32_t ready;          // helper -> bridge: helperState is set
    uint32_t eventsPosted;   // helper -> bridge: the ring has new entries
    uint32_t ringSpace;      // bridge -> helper: the ring has room again
    uint32_t request[kSlotCount];   // bridge -> helper, per slot
    uint32_t response[kSlotCount];  // helper -> bridge, per slot
};

struct alignas(64) ChannelSlot {
    std::atomic<uint32_t> state;
    std::atomic<uint32_t> serverSleeping;  // the helper's thread blocks on its request event
    std::atomic<uint32_t> clientSleeping;  // the caller blocks on the response event
    uint32_t unused[13];
    uint8_t message[kMessageCapacity];  // the request, then the response in its place
};

struct EventEntry {
    int32_t message, mark, reserved1, reserved2;  // the driver's KalSynthEvent
    int64_t postedAt;  // the helper's performance counter when the driver called back (for the bench)
};

struct alignas(64) Channel {
    uint32_t magic;
    uint32_t version;
    uint32_t size;  // sizeof(Channel)
    ChannelHandles handles;
    std::atomic<uint32_t> helperState;
    std::atomic<uint32_t> eventsWritten;   // helper only
    std::atomic<uint32_t> eventsRead;      // bridge only
    std::atomic<uint32_t> readerSleeping;  // the bridge's event thread blocks on eventsPosted
    std::atomic<uint32_t> writerWaiting;   // the helper waits for ringSpace
    uint32_t generation;  // the client's count of the helpers it started, this one's (written before it starts)
    EventEntry ring[kEventRingSize];
    ChannelSlot slots[kSlotCount];
};

static_assert(sizeof(EventEntry) == 24 && offsetof(Channel, handles) == 12 && sizeof(ChannelHandles) == 88 &&
                  offsetof(Channel, helperState) == 100 && offsetof(Channel, ring) == 128 &&
                  offsetof(Channel, slots) == 6272 && sizeof(ChannelSlot) == 64 + kMessageCapacity &&
                  sizeof(Channel) == 6272 + kSlotCount * sizeof(ChannelSlot),
              "the channel's layout is the same in the 32-bit and the 64-bit process");

}  // namespace bridge
