#include <cstdio>
#include <cstring>
#include <ctime>
#include <regex>
#include <thread>

#include "config/config.h"
#include "config/config_testing.h"
#include "driver/driver.h"
#include "support/driver_fixture.h"
#include "support/files.h"

using LogTest = DriverTest;

TEST_F(LogTest, EachTagPassesFromItsOwnLevelOn) {
    const char* tags[] = {LOG_ERR, LOG_DLL, LOG_HOST, LOG_ENGINE, LOG_QUEUE};
    const char* expected[] = {"ERR:: t", "DLL : t", "KAL_: t", "KAL : t", "Buf : t"};
    struct Row {
        int level;
        int lines;  // how many of the five tags pass
    } rows[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 5}, {9, 5}, {-1, 0}};
    for (const Row& row : rows) {
        std::remove((folder + "kal.pro").c_str());
        LogSetLevel(row.level);
        for (const char* tag : tags) LogWrite(tag, "t");
        std::vector<std::string> lines = Protocol();
        ASSERT_EQ(static_cast<size_t>(row.lines), lines.size()) << "level " << row.level;
        for (int i = 0; i < row.lines; ++i) EXPECT_EQ(expected[i], lines[i]) << "level " << row.level;
    }
}

TEST_F(LogTest, LineShapes) {
    LogWrite(LOG_ENGINE, "CbOutNotify", " TTS_MSG_BEGINPROCESS");
    LogWrite(LOG_HOST, "SetSynthCallback");
    LogWrite(LOG_HOST, "SetSynthCallback", "");
    LogWrite(LOG_HOST, nullptr);
    LogWrite(LOG_HOST, "100%s %d", "%n");
    const std::string raw = ReadFileText(folder + "kal.pro");
    EXPECT_EQ(
        "KAL : CbOutNotify  TTS_MSG_BEGINPROCESS\r\n"
        "KAL_: SetSynthCallback\r\n"
        "KAL_: SetSynthCallback \r\n"
        "KAL_: (null)\r\n"
        "KAL_: 100%s %d %n\r\n",
        raw);
}

TEST_F(LogTest, HeaderAndFooter) {
    LogSetLevel(1);
    LogOpen((folder + "kal.pro").c_str(), IdentificationString);
    LogWrite(LOG_ERR, "x");
    LogClose();
    const std::string raw = ReadFileText(folder + "kal.pro");
    const std::string separator(48, '=');
    std::regex shape("Protokolldatei " + std::regex_replace(std::string(IdentificationString),
                                                            std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
                     "\r\n angelegt am  \\d\\d/\\d\\d/\\d\\d\r\n angelegt um  \\d\\d:\\d\\d:\\d\\d\r\n" + separator +
                     "\r\n\r\nERR:: x\r\n\r\n" + separator +
                     "\r\n abgeschlossen am  \\d\\d/\\d\\d/\\d\\d\r\n abgeschlossen um  \\d\\d:\\d\\d:\\d\\d\r\n");
    EXPECT_TRUE(std::regex_match(raw, shape)) << raw;
    // A new open starts the file anew.
    LogOpen((folder + "kal.pro").c_str(), IdentificationString);
    EXPECT_EQ(5u, Protocol().size());
}

TEST_F(LogTest, DateAndTimeTextsAreLocalAndTwoDigitsEach) {
    char date[9], time[9];
    LogDateText(date);
    LogTimeText(time);
    // The C library's local clock, independent of the platform layer under test.
    const std::time_t seconds = std::time(nullptr);
    const std::tm now = *std::localtime(&seconds);
    char expected[16];
    snprintf(expected, sizeof expected, "%02d/%02d/%02d", now.tm_mon + 1, now.tm_mday, now.tm_year % 100);
    EXPECT_STREQ(expected, date);
    EXPECT_TRUE(std::regex_match(time, std::regex(R"(([01]\d|2[0-3]):[0-5]\d:[0-5]\d)"))) << time;
}

TEST_F(LogTest, ProtocolOffTouchesNoFile) {
    WriteFileText(folder + "kal.pro", "old");
    LogSetLevel(0);
    LogTestingSetPath("");
    LogOpen((folder + "kal.pro").c_str(), IdentificationString);
    LogWrite(LOG_ERR, "x");
    LogClose();
    EXPECT_EQ("old", ReadFileText(folder + "kal.pro"));
    EXPECT_STREQ("", LogTestingPath());
}

TEST_F(LogTest, ConcurrentLinesStayWhole) {
    const int perThread = 300;
    const std::string payload(200, 'p');
    auto writer = [&](const char* text) {
        for (int i = 0; i < perThread; ++i) LogWrite(LOG_ENGINE, text, payload.c_str());
    };
    std::thread a(writer, "A"), b(writer, "B");
    a.join();
    b.join();
    std::vector<std::string> lines = Protocol();
    ASSERT_EQ(2u * perThread, lines.size());
    for (const std::string& line : lines)
        ASSERT_TRUE(line == "KAL : A " + payload || line == "KAL : B " + payload) << line;
}

TEST_F(LogTest, OverlongPathIsCutNotOverrun) {
    std::string longPath(400, 'x');
    LogSetLevel(4);
    LogOpen(longPath.c_str(), IdentificationString);
    EXPECT_EQ(255u, strlen(LogTestingPath()));
}
