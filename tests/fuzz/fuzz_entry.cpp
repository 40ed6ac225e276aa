// One libFuzzer program per target: KAL_FUZZ_INDEX picks it from kFuzzTargets.
#include <string>

#include "fuzz/fuzz_targets.h"
#include "support/files.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzPrepare(FreshFolder(std::string("fuzz-") + kFuzzTargets[KAL_FUZZ_INDEX].name));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kFuzzTargets[KAL_FUZZ_INDEX].run(data, size);
    return 0;
}
