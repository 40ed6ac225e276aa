// Shared by the speech tests: a host callback that records what it receives.
#pragma once
#include <string>
#include <vector>

#include "engine/engine.h"
#include "speech/speech.h"
#include "speech/speech_testing.h"
#include "support/driver_fixture.h"
#include "support/fake_engine.h"
#include "support/files.h"

// What the callback heard, with the engine calls made before it (the host
// tests' own record is HostEvent).
struct HeardEvent {
    int message, mark, reserved1, reserved2;
    size_t engineCalls;  // engine calls made before the host heard of it
};

class SpeechTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        current = this;
    }
    void TearDown() override {
        current = nullptr;
        DriverTest::TearDown();
    }
    static int KAL_CDECL RecordEvent(const KalSynthEvent* event) {
        current->events.push_back({event->message, event->mark, event->reserved1, event->reserved2,
                                   current->fake.calls.size()});
        return 0;
    }
    void Listen() { NotificationsSetHostCallback(&RecordEvent); }
    std::vector<std::string> Lines(const std::string& prefix) const { return LinesStartingWith(Protocol(), prefix); }
    // The slot most recently written by QueueAdd.
    static const QueueSlot& LastSlot() { return Queue.slots[(Queue.writeIndex + kQueueSlots - 1) % kQueueSlots]; }

    FakeEngine fake;
    std::vector<HeardEvent> events;
    static inline SpeechTest* current = nullptr;
};
