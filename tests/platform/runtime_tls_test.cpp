// A module of ours gives the process back, at unload, the TLS indexes its static
// runtime took, and only those: an index it took and gave back itself may be the
// host's by then.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "support/files.h"

namespace {
int FreeTlsIndexes() {
    std::vector<DWORD> taken;
    for (DWORD index; (index = TlsAlloc()) != TLS_OUT_OF_INDEXES;) taken.push_back(index);
    for (DWORD index : taken) TlsFree(index);
    return static_cast<int>(taken.size());
}
}  // namespace

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
