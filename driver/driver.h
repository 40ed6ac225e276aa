// Driver frame: paths, identification, the host's callbacks, and the engine
// lifecycle at the interface.
#pragma once
#include <cstdint>

// The library's folder with its trailing backslash. Written at process attach only.
extern char ModuleFolder[256];
// Static text naming the driver, ending with the build stamp.
extern const char* const IdentificationString;
// The URI callback: stored, never called.
extern void* UriCallback;

void ProcessAttach();
void ProcessDetach();
int32_t LifecycleInitialize();
int32_t LifecycleTerminate();

// "Mmm dd yyyy" from the compiler's "Mmm  d yyyy": a one-digit day gets a 0, not a blank.
constexpr void BuildStampDate(const char* compilerDate, char* out) {
    for (int i = 0; i < 11; ++i) out[i] = compilerDate[i];
    if (out[4] == ' ') out[4] = '0';
    out[11] = '\0';
}
