#include <gtest/gtest.h>

#include <cstring>

#include "simengine/sim_harness.h"

namespace {

const char kThreeLanguages[] =
    "[Languages]\nCount=3\nName0=Deutsch\nName1=English\nName2=Polski\n"
    "[Voices.Polski]\nCount=12\nName0=V0\nName1=V1\nName2=V2\nName3=V3\nName4=V4\nName5=V5\n"
    "Name6=V6\nName7=V7\nName8=V8\nName9=V9\nName10=V10\nName11=V11\n";

enum class List { Engines, Languages, Voices };

struct ListRow {
    const char* label;
    const char* ini;  // "" = no file: the built-in set
    List list;
    const char* language;  // for voices
    int32_t capacity;
    std::vector<std::string> expected;
};
void PrintTo(const ListRow& row, std::ostream* os) { *os << row.label; }

class Lists : public ::testing::TestWithParam<ListRow> {};

// Fills a list as the driver would, with entries pre-set to 'X' to see which
// were written: exactly `expected`, zeroed past the text, the rest untouched.
template <typename Entry, typename Call>
void checkList(const ListRow& row, Call call) {
    std::vector<Entry> entries(row.capacity + 1);
    std::memset(entries.data(), 'X', entries.size() * sizeof(Entry));
    int32_t count = row.capacity;
    ASSERT_EQ(call(entries.data(), &count), 0);
    ASSERT_EQ(count, int32_t(row.expected.size()));
    for (int32_t i = 0; i < count; ++i) {
        EXPECT_EQ(std::string(entries[i].text), row.expected[i]) << i;
        EXPECT_EQ(entries[i].text[sizeof(Entry) - 1], 0) << "entry " << i << " not zeroed";
    }
    EXPECT_EQ(entries[count].text[0], 'X') << "wrote past the filled entries";
}

TEST_P(Lists, FillsAtMostTheCapacity) {
    const ListRow& row = GetParam();
    SimEngine sim(row.label, row.ini);
    ASSERT_NO_FATAL_FAILURE(sim.open());
    EngineEntry engine{};
    std::strcpy(engine.text, "SimEngine");
    uint32_t c0 = sim.cls.first, c1 = sim.cls.second;
    if (row.list == List::Engines)
        checkList<EngineEntry>(row, [&](EngineEntry* l, int32_t* n) {
            return sim.api.getEngineList(c0, c1, 1, l, n);
        });
    if (row.list == List::Languages)
        checkList<LanguageEntry>(row, [&](LanguageEntry* l, int32_t* n) {
            return sim.api.getLanguageList(c0, c1, &engine, l, n);
        });
    if (row.list == List::Voices) {
        LanguageEntry language{};
        std::strcpy(language.text, row.language);
        checkList<VoiceEntry>(row, [&](VoiceEntry* l, int32_t* n) {
            return sim.api.getVoiceList(c0, c1, &engine, &language, l, n);
        });
    }
}

INSTANTIATE_TEST_SUITE_P(Sim, Lists, ::testing::Values(
    ListRow{"builtin_engines", "", List::Engines, "", 20, {"SimEngine"}},
    ListRow{"builtin_languages", "", List::Languages, "", 100, {"Deutsch", "English"}},
    ListRow{"builtin_voices", "", List::Voices, "Deutsch", 80, {"Anna", "Petra"}},
    ListRow{"no_engines", "[Engines]\nCount=0\n", List::Engines, "", 20, {}},
    ListRow{"languages_clipped", kThreeLanguages, List::Languages, "", 2, {"Deutsch", "English"}},
    ListRow{"voices_clipped", kThreeLanguages, List::Voices, "Polski", 10,
            {"V0", "V1", "V2", "V3", "V4", "V5", "V6", "V7", "V8", "V9"}},
    ListRow{"builtin_voices_of_listed_language", kThreeLanguages, List::Voices, "English", 80,
            {"Daniel", "Samantha", "Tom"}},
    ListRow{"unknown_language", kThreeLanguages, List::Voices, "Klingon", 80, {}},
    ListRow{"capacity_zero", "", List::Languages, "", 0, {}}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
