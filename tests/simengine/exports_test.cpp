#include <gtest/gtest.h>

#include <set>

#include "simengine/sim_harness.h"
#include "support/files.h"

namespace {

// The names in the module's export directory.
std::set<std::string> exportedNames(HMODULE module) {
    auto* base = reinterpret_cast<const unsigned char*>(module);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    std::set<std::string> result;
    for (DWORD i = 0; i < exports->NumberOfNames; ++i)
        result.insert(reinterpret_cast<const char*>(base + names[i]));
    return result;
}

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
    std::set<std::string> expected = {"sim_Reload", "sim_WorkerCount"};
    for (const char* name : kEngineEntryNames) expected.insert(name);
    if (row.absent) expected.erase(row.absent);
    EXPECT_EQ(exportedNames(sim.module), expected);
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
