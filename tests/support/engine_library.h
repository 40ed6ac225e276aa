// Tests that start the driver as a host does (kal_Initialize) with the threaded
// engine library copied into their fresh folder as the engine, and with the
// driver's waits shortened.
#pragma once
#include <string>

#include "support/driver_fixture.h"
#include "support/threaded_engine.h"

class EngineLibraryTest : public DriverTest {
protected:
    void SetUp() override;
    void TearDown() override;
    // kal_Initialize, then binds the engine's control; false when the start-up failed.
    bool Start();
    // Binds the loaded engine's control (after anything that reloaded the library).
    void Bind();
    std::string LastText() const;  // the last text the engine was given

    ThreadedEngineControl* control = nullptr;
    ThreadedEngineSeenFn seen = nullptr;
    ThreadedEngineLastTextFn lastText = nullptr;
    ThreadedEngineResetFn reset = nullptr;
    ThreadedEngineNotifyFn notify = nullptr;
};
