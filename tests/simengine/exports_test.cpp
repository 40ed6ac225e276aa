#include <gtest/gtest.h>

#include <set>

#include "simengine/sim_harness.h"
#include "support/files.h"
#include "support/pe.h"

namespace {

struct ExportRow {
    const char* label;
    const char* dll;
    const char* absent;  // the one engine name it must lack, if any
};
void PrintTo(const ExportRow& row, std::ostream* os) { *os << row.label; }

class Exports : public ::testing::TestWithParam<ExportRow> {};

TEST_P(Exports, ExactlyTheEngineNamesAndTheTestExtras) {
    const ExportRow& row = GetParam();
    SimEngine sim(row.label, "", row.dll);
    ASSERT_NE(sim.module, nullptr);
    std::set<std::string> expected = {"sim_Reload", "sim_WorkerCount", "sim_Clock"};
    for (const char* name : kEngineEntryNames) expected.insert(name);
    if (row.absent) expected.erase(row.absent);
    EXPECT_EQ(ExportedNames(sim.module), expected);
}

INSTANTIATE_TEST_SUITE_P(Sim, Exports,
                         ::testing::Values(ExportRow{"full", "nalvoapi.dll", nullptr},
                                           ExportRow{"missing", "nalvoapi_missing.dll",
                                                     "ssft_ttsGetSpeechDBList"}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(SimFiles, NotALibraryExistsButDoesNotLoad) {
    std::string folder = FreshFolder("notalib");
    CopyFileTo(BuildPath("simengine/notalib.dll"), folder + "notalib.dll");
    ASSERT_TRUE(FileExists(folder + "notalib.dll"));
    EXPECT_EQ(LoadLibraryA((folder + "notalib.dll").c_str()), nullptr);
}

}  // namespace
