// kalsay's command line, parsed without starting anything: what each argument
// list sets, and the exact message for each kind of bad usage.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "kalsay/cli.h"

namespace {

// Every field a row can pin; the defaults are what an empty command line gives.
struct Expected {
    bool list = false;
    bool interactive = false;
    bool showProtocol = false;
    bool help = false;
    std::wstring voice;
    std::wstring language;
    int rate = -1;
    int volume = -1;
    int debug = -1;
    std::vector<std::wstring> texts;
    bool readsInput = false;
};

struct OptionsRow {
    const char* label;
    std::vector<std::wstring> args;
    Expected expected;
};

void PrintTo(const OptionsRow& row, std::ostream* os) { *os << row.label; }

// Options left over from an earlier parse, so that a field the parser forgets
// to reset shows.
Options JunkOptions() {
    Options junk;
    junk.list = junk.interactive = junk.showProtocol = junk.help = true;
    junk.voice = junk.language = L"junk";
    junk.rate = junk.volume = junk.debug = 77;
    junk.texts = {L"junk"};
    return junk;
}

// A row's label as a test name.
template <typename Row>
std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    std::string name;
    for (const char* c = info.param.label; *c; ++c) name += isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

Expected With(void (*set)(Expected&)) {
    Expected e;
    set(e);
    return e;
}

const OptionsRow kOptionRows[] = {
    {"nothing reads standard input", {}, With([](Expected& e) { e.readsInput = true; })},
    {"texts in order", {L"eins", L"zwei"}, With([](Expected& e) { e.texts = {L"eins", L"zwei"}; })},
    {"list alone reads nothing", {L"--list"}, With([](Expected& e) { e.list = true; })},
    {"every option",
     {L"--list", L"--interactive", L"--show-protocol", L"--help", L"--voice", L"Anna", L"--language", L"0049",
      L"--rate", L"10", L"--volume", L"90", L"--debug", L"4", L"text"},
     With([](Expected& e) {
         e.list = e.interactive = e.showProtocol = e.help = true;
         e.voice = L"Anna";
         e.language = L"0049";
         e.rate = 10;
         e.volume = 90;
         e.debug = 4;
         e.texts = {L"text"};
         e.readsInput = true;
     })},
    {"options between texts", {L"a", L"--rate", L"5", L"b"}, With([](Expected& e) {
         e.rate = 5;
         e.texts = {L"a", L"b"};
     })},
    {"range ends", {L"--rate", L"0", L"--volume", L"100", L"--debug", L"2147483647"}, With([](Expected& e) {
         e.rate = 0;
         e.volume = 100;
         e.debug = 2147483647;
         e.readsInput = true;
     })},
    {"one dash is a text", {L"-x", L"-", L"-5"}, With([](Expected& e) { e.texts = {L"-x", L"-", L"-5"}; })},
    {"-h asks for help, as with other tools", {L"a", L"-h"}, With([](Expected& e) {
         e.help = true;
         e.texts = {L"a"};
     })},
    {"-h after a double dash is a text", {L"--", L"-h"}, With([](Expected& e) { e.texts = {L"-h"}; })},
    {"empty text", {L""}, With([](Expected& e) { e.texts = {L""}; })},
    {"double dash ends the options", {L"a", L"--", L"--rate", L"5", L"--", L"-x"}, With([](Expected& e) {
         e.texts = {L"a", L"--rate", L"5", L"--", L"-x"};
     })},
    {"a value may look like an option", {L"--voice", L"--list", L"--language", L"-x"}, With([](Expected& e) {
         e.voice = L"--list";
         e.language = L"-x";
         e.readsInput = true;
     })},
    {"the last of a repeated option counts", {L"--voice", L"A", L"--voice", L"B", L"--rate", L"5", L"--rate", L"7"},
     With([](Expected& e) {
         e.voice = L"B";
         e.rate = 7;
         e.readsInput = true;
     })},
    {"a repeated flag", {L"--list", L"--list"}, With([](Expected& e) { e.list = true; })},
    {"UTF-16 passes unchanged, lone surrogates too",
     {L"--voice", L"J\u00FCrgen", L"Gr\u00FC\u00DFe", std::wstring(L"a\xD800z"), L"\u20AC\U0001F600"},
     With([](Expected& e) {
         e.voice = L"J\u00FCrgen";
         e.texts = {L"Gr\u00FC\u00DFe", std::wstring(L"a\xD800z"), L"\u20AC\U0001F600"};
     })},
};

class KalsayOptions : public ::testing::TestWithParam<OptionsRow> {};

TEST_P(KalsayOptions, SetExactlyTheirFields) {
    const OptionsRow& row = GetParam();
    const Expected& e = row.expected;
    Options options = JunkOptions();
    std::string error = "junk";
    ASSERT_TRUE(ParseOptions(row.args, options, error)) << error;
    EXPECT_EQ(options.list, e.list);
    EXPECT_EQ(options.interactive, e.interactive);
    EXPECT_EQ(options.showProtocol, e.showProtocol);
    EXPECT_EQ(options.help, e.help);
    EXPECT_EQ(options.voice, e.voice);
    EXPECT_EQ(options.language, e.language);
    EXPECT_EQ(options.rate, e.rate);
    EXPECT_EQ(options.volume, e.volume);
    EXPECT_EQ(options.debug, e.debug);
    EXPECT_EQ(options.texts, e.texts);
    EXPECT_EQ(options.ReadsInput(), e.readsInput);
}

INSTANTIATE_TEST_SUITE_P(Rows, KalsayOptions, ::testing::ValuesIn(kOptionRows), RowName<OptionsRow>);

struct UsageRow {
    const char* label;
    std::vector<std::wstring> args;
    const char* error;
};

const UsageRow kUsageRows[] = {
    {"rate above range", {L"--rate", L"500", L"text"}, "--rate takes a number from 0 to 100, not '500'"},
    {"negative rate", {L"--rate", L"-1"}, "--rate takes a number from 0 to 100, not '-1'"},
    {"volume not a number", {L"--volume", L"5\u00FC"}, "--volume takes a number from 0 to 100, not '5?'"},
    {"debug beyond a 32-bit number", {L"--debug", L"2147483648"},
     "--debug takes a number from 0 to 2147483647, not '2147483648'"},
    {"empty rate", {L"--rate", L""}, "--rate takes a number from 0 to 100, not ''"},
    {"the first bad value counts, though a later one is good", {L"--rate", L"500", L"--rate", L"5"},
     "--rate takes a number from 0 to 100, not '500'"},
    {"bad values in the order given", {L"--volume", L"101", L"--rate", L"101"},
     "--volume takes a number from 0 to 100, not '101'"},
    {"voice without a value", {L"--voice"}, "--voice needs a value"},
    {"rate without a value", {L"a", L"--rate"}, "--rate needs a value"},
    {"unknown option", {L"a", L"--bogus", L"b"}, "unknown option --bogus"},
    {"unknown option, not ASCII", {L"--st\u00E4rke"}, "unknown option --st?rke"},
};

void PrintTo(const UsageRow& row, std::ostream* os) { *os << row.label; }

class KalsayUsage : public ::testing::TestWithParam<UsageRow> {};

TEST_P(KalsayUsage, IsRefusedWithItsMessage) {
    const UsageRow& row = GetParam();
    Options options = JunkOptions();
    std::string error = "junk";
    EXPECT_FALSE(ParseOptions(row.args, options, error));
    EXPECT_EQ(error, row.error);
}

INSTANTIATE_TEST_SUITE_P(Rows, KalsayUsage, ::testing::ValuesIn(kUsageRows), RowName<UsageRow>);

TEST(KalsayUsageText, NamesTheDriverFileItLoads) {
    const std::string usage = Usage("libkal_drv.so");
    EXPECT_NE(usage.find("Loads libkal_drv.so from"), std::string::npos) << usage;
    EXPECT_EQ(usage.find("kal_drv.dll"), std::string::npos) << usage;
}

}  // namespace
