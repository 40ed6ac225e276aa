#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "driver/driver.h"

TEST(Identification, StampHasTwoDigitDayAndTime) {
    struct Row {
        const char* compiler;
        const char* stamp;
    } rows[] = {{"Dec  7 2026", "Dec 07 2026"}, {"Jan 31 2027", "Jan 31 2027"}, {"Mar  1 2026", "Mar 01 2026"}};
    for (const Row& row : rows) {
        char out[12];
        BuildStampDate(row.compiler, out);
        EXPECT_STREQ(row.stamp, out) << row.compiler;
    }
    EXPECT_TRUE(std::regex_search(IdentificationString,
                                  std::regex(R"(Date: [A-Z][a-z]{2} \d{2} \d{4} Time: \d{2}:\d{2}:\d{2}$)")))
        << IdentificationString;
}
