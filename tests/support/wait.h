// Waiting in tests for something another thread or process does: always
// bounded, so a fault shows as a failed expectation, not a hung test run.
#pragma once
#include <cstdint>
#include <functional>

// Checks done() until it is true or limitMs has passed; true when it was.
bool WaitUntil(const std::function<bool()>& done, uint32_t limitMs);
