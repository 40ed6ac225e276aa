// Unit tests call the driver's internals directly: this fixture gives each test
// a fresh folder for kal.ini and kal.pro and the process-wide records at their
// start values, with the protocol at its most detailed level.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class DriverTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::vector<std::string> Protocol() const;  // the lines of kal.pro
    std::string Profile(const char* section, const char* key) const;  // "" when missing
    void SetProfile(const char* section, const char* key, const char* value) const;
    std::string folder;
};

void ResetDriverState(const std::string& folder, int debugLevel);

// Checks done() every millisecond until it is true or limitMs has passed; true
// when it was. Fine-grained: the tests measure how soon the driver acts.
bool Eventually(const std::function<bool()>& done, uint32_t limitMs);
