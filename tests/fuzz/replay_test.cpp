// Every input the fuzz targets keep is replayed here for ever: the seed corpus
// and every input that once broke the driver (crashers/).
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_targets.h"
#include "support/driver_fixture.h"
#include "support/files.h"

namespace {
// The source tree as this build's file routines name it.
std::string SourceFolder() {
#if defined(_WIN32)
    std::string path = std::string("Z:") + KAL_SOURCE_DIR + "/tests/fuzz/";  // Wine's drive for the Unix root
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
#else
    return std::string(KAL_SOURCE_DIR) + "/tests/fuzz/";
#endif
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') files.push_back(entry.path().string());
    return files;
}
}  // namespace

using FuzzReplayTest = DriverTest;

TEST_F(FuzzReplayTest, EveryKeptInputRunsCleanly) {
    for (const FuzzTarget& target : kFuzzTargets) {
        const std::string base = SourceFolder() + target.name;
        const std::vector<std::string> seeds = FilesIn(base + "/corpus");
        const std::vector<std::string> crashers = FilesIn(base + "/crashers");
        EXPECT_FALSE(seeds.empty()) << target.name << ": no seed corpus in " << base;
        FuzzPrepare(folder);
        for (const std::vector<std::string>* inputs : {&seeds, &crashers}) {
            for (const std::string& path : *inputs) {
                SCOPED_TRACE(path);
                const std::string bytes = ReadFileText(path);
                target.run(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            }
        }
        printf("replayed: %s seeds=%zu crashers=%zu\n", target.name, seeds.size(), crashers.size());
    }
    FuzzFinish();
}

// The bridge's message decoder target, replayed the same way.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

TEST(FuzzReplayBridge, EveryKeptMessageDecodesCleanly) {
    const std::string base = SourceFolder() + "bridge_message";
    const std::vector<std::string> seeds = FilesIn(base + "/corpus");
    const std::vector<std::string> crashers = FilesIn(base + "/crashers");
    EXPECT_FALSE(seeds.empty()) << "no seed corpus in " << base;
    for (const std::vector<std::string>* inputs : {&seeds, &crashers}) {
        for (const std::string& path : *inputs) {
            SCOPED_TRACE(path);
            const std::string bytes = ReadFileText(path);
            EXPECT_EQ(0, LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
        }
    }
}
