// One libFuzzer program per target: KAL_FUZZ_INDEX picks it from kFuzzTargets.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "fuzz/fuzz_targets.h"
#include "support/files.h"

namespace {
// Memory-backed when the machine has it: the profile targets rewrite kal.ini
// on every input, and a disk flushes each rewrite.
std::string FuzzFolder(const char* name) {
    struct stat info;
    if (stat("/dev/shm", &info) == 0 && S_ISDIR(info.st_mode)) {
        const std::string folder = "/dev/shm/kal-fuzz-" + std::string(name) + "-" + std::to_string(getpid()) + "/";
        if (mkdir(folder.c_str(), 0700) == 0) return folder;
    }
    return FreshFolder(std::string("fuzz-") + name);
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzPrepare(FuzzFolder(kFuzzTargets[KAL_FUZZ_INDEX].name));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kFuzzTargets[KAL_FUZZ_INDEX].run(data, size);
    return 0;
}
