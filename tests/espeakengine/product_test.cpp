// The native product as a host meets it: libkal_drv.so loaded with dlopen from
// the product folder, where its load finds kal.ini beside itself and starts
// nalvoapi.so; only the twenty exports are visible, and a text is spoken.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "espeakengine/espeak_support.h"
#include "kal_drv.h"
#include "kal_exports.h"
#include "support/files.h"
#include "support/text16.h"

namespace {
#define KAL_EXPORT_NAME(name, function, result, parameters) #function,
const char* const kExports[] = {KAL_EXPORTS(KAL_EXPORT_NAME)};
#undef KAL_EXPORT_NAME
// Names of the core that a host must not see.
const char* const kInternals[] = {"_Z8QueueAddPKci", "_Z9SpeakTextPKc", "ProcessAttach", "_Z13ProcessAttachv",
                                  "_Z12GoInitSpeechv", "DllMain"};

int KAL_CDECL Ignore(const KalSynthEvent*) { return 0; }

TEST(ProductTest, TheSharedLibraryFindsItsFolderAndSpeaksWithTwentyExports) {
    const std::string folder = FreshFolder("ProductTest");
    const std::string wav = folder + "product.wav";
    // The product folder's espeakengine.ini writes beside the library; this test's file goes here.
    setenv("KAL_ESPEAK_WAV", wav.c_str(), 1);
    void* library = dlopen(BuildPath("product/libkal_drv.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, library) << dlerror();
    for (const char* name : kExports) EXPECT_NE(nullptr, dlsym(library, name)) << name;
    for (const char* name : kInternals) EXPECT_EQ(nullptr, dlsym(library, name)) << name;

    auto initialize = reinterpret_cast<decltype(&kal_Initialize)>(dlsym(library, "kal_Initialize"));
    auto terminate = reinterpret_cast<decltype(&kal_Terminate)>(dlsym(library, "kal_Terminate"));
    auto setCallback = reinterpret_cast<decltype(&kal_SetSynthCallback)>(dlsym(library, "kal_SetSynthCallback"));
    auto setVoice = reinterpret_cast<decltype(&kal_SetVoiceByName)>(dlsym(library, "kal_SetVoiceByName"));
    auto synth = reinterpret_cast<decltype(&kal_Synth)>(dlsym(library, "kal_Synth"));
    auto synchronize = reinterpret_cast<decltype(&kal_Synchronize)>(dlsym(library, "kal_Synchronize"));
    auto current = reinterpret_cast<decltype(&kal_GetCurrentVoice)>(dlsym(library, "kal_GetCurrentVoice"));
    ASSERT_TRUE(initialize && terminate && setCallback && setVoice && synth && synchronize && current);
    setCallback(Ignore);
    // The load started the engine from the library's own folder and its kal.ini.
    EXPECT_NE(-1, initialize());
    setVoice("English f2");
    ASSERT_NE(nullptr, current());
    EXPECT_STREQ("0044-English f2", current()->identifier);
    synth(T16("Hello from the shared library."), 1);
    synchronize();
    terminate();
    unsetenv("KAL_ESPEAK_WAV");
    const Audio audio = ReadWav(wav);
    EXPECT_GT(audio.Seconds(), 0.5);
    EXPECT_GT(audio.Rms(), 500);
    dlclose(library);  // stays loaded (-z nodelete): its unload runs at exit
}
}  // namespace
