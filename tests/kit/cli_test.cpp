// kalsay's parsing of its command line and of interactive lines.
#include <gtest/gtest.h>

#include "kalsay/cli.h"

TEST(KalsayOptions, ValuesFlagsAndTexts) {
    Options o;
    std::string error;
    ASSERT_TRUE(ParseOptions({L"--voice", L"0049-Anna", L"--rate", L"70", L"--volume", L"0", L"--debug", L"4",
                              L"--list", L"Hallo", L"--", L"--not-an-option"},
                             o, error))
        << error;
    EXPECT_EQ(o.voice, L"0049-Anna");
    EXPECT_EQ(o.rate, 70);
    EXPECT_EQ(o.volume, 0);
    EXPECT_EQ(o.debug, 4);
    EXPECT_TRUE(o.list);
    EXPECT_EQ(o.texts, (std::vector<std::wstring>{L"Hallo", L"--not-an-option"}));
    EXPECT_FALSE(o.ReadsInput());

    // Nothing to say and no list: standard input; --interactive forces it.
    ASSERT_TRUE(ParseOptions({}, o, error));
    EXPECT_TRUE(o.ReadsInput());
    EXPECT_EQ(o.rate, -1);
    ASSERT_TRUE(ParseOptions({L"--interactive", L"text"}, o, error));
    EXPECT_TRUE(o.ReadsInput());
}

TEST(KalsayOptions, RejectsMissingAndOutOfRangeValues) {
    Options o;
    std::string error;
    for (auto args : std::vector<std::vector<std::wstring>>{
             {L"--voice"}, {L"--rate", L"101"}, {L"--rate", L"-1"}, {L"--volume", L"5x"},
             {L"--debug", L""}, {L"--rate", L"99999999999"}, {L"--loud"}}) {
        error.clear();
        EXPECT_FALSE(ParseOptions(args, o, error)) << args[0];
        EXPECT_FALSE(error.empty());
    }
}

TEST(KalsayCommands, TextsAndCommandsWithArguments) {
    Command c = ParseCommand("Guten Tag /stop");
    EXPECT_EQ(c.kind, CommandKind::Speak);
    EXPECT_EQ(c.argument, "Guten Tag /stop");
    EXPECT_EQ(ParseCommand("").kind, CommandKind::Empty);

    c = ParseCommand("/voice   Nalvo Deutsch Anna  ");
    EXPECT_EQ(c.kind, CommandKind::Voice);
    EXPECT_EQ(c.argument, "Nalvo Deutsch Anna");
    EXPECT_TRUE(c.valid);
    EXPECT_FALSE(ParseCommand("/voice").valid);

    c = ParseCommand("/rate 35");
    EXPECT_EQ(c.kind, CommandKind::Rate);
    EXPECT_EQ(c.number, 35);
    EXPECT_FALSE(ParseCommand("/rate fast").valid);
    EXPECT_FALSE(ParseCommand("/volume 101").valid);

    EXPECT_EQ(ParseCommand("/stop").kind, CommandKind::Stop);
    EXPECT_EQ(ParseCommand("/pause").kind, CommandKind::Pause);
    EXPECT_EQ(ParseCommand("/wait").kind, CommandKind::Wait);
    EXPECT_EQ(ParseCommand("/quit").kind, CommandKind::Quit);
    c = ParseCommand("/stopp now");
    EXPECT_EQ(c.kind, CommandKind::Unknown);
    EXPECT_EQ(c.argument, "stopp");
}
