// A module of ours gives the process back, at unload, the TLS indexes its static
// runtime took, and only those: an index it took and gave back itself may be the
// host's by then.
#include <windows.h>

#include <gtest/gtest.h>

#include "support/files.h"
#include "support/process_usage.h"

TEST(RuntimeTls, UnloadGivesBackTheRuntimesIndexesAndNoOther) {
    const int freeBefore = FreeTlsIndexes();
    HMODULE module = LoadLibraryA(BuildPath("tests/tls_module.dll").c_str());
    ASSERT_NE(nullptr, module);
    EXPECT_LT(FreeTlsIndexes(), freeBefore) << "the runtime took no index: nothing here is tried";

    auto takeAndGiveBack = reinterpret_cast<DWORD (*)()>(GetProcAddress(module, "TakeAndGiveBackIndex"));
    ASSERT_NE(nullptr, takeAndGiveBack);
    const DWORD modules = takeAndGiveBack();
    const DWORD hosts = TlsAlloc();
    ASSERT_EQ(modules, hosts) << "the host did not get the index the module gave back";
    ASSERT_TRUE(TlsSetValue(hosts, reinterpret_cast<void*>(0x4B414C)));

    ASSERT_TRUE(FreeLibrary(module));
    EXPECT_EQ(reinterpret_cast<void*>(0x4B414C), TlsGetValue(hosts)) << "the unload freed the host's index";
    TlsFree(hosts);
    EXPECT_EQ(freeBefore, FreeTlsIndexes());
}
