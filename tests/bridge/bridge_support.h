// Steps the bridge's host tests share.
#pragma once
#include <gtest/gtest.h>

#include "support/host.h"

// Loads kal_drv64.dll, listens for events, starts the engine and selects Anna,
// as a host does before it speaks.
inline void StartSpeaking(Host& host) {
    host.Load();
    host.UseCallback();
    ASSERT_EQ(11000, host.Initialize());
    host.SetVoiceByName("Anna");
}
