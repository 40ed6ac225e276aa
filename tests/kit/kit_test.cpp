// The installed kit: its layout, the DLL's binary interface (exports, imports,
// version resource), the C host built from the installed files, and the sample
// profile against the defaults the driver really writes.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <vector>

#include "kit/kit.h"
#include "kit/process.h"
#include "support/host.h"
#include "support/pe.h"

namespace {

std::vector<std::string> DefExports() {
    std::vector<std::string> names;
    bool inExports = false;
    for (std::string line : SplitLines(ReadFileText(BuildPath("tests/kit/kal_drv.def")))) {
        line.erase(0, line.find_first_not_of(" \t"));
        line.erase(line.find_last_not_of(" \t") + 1);
        if (line.empty()) continue;
        if (line == "EXPORTS") inExports = true;
        else if (inExports) names.push_back(line);
    }
    return names;
}

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string SystemFolder() {
    char buffer[MAX_PATH];
    GetSystemDirectoryA(buffer, sizeof buffer);
    return std::string(buffer) + "\\";
}

// Every import must be a DLL of the system folder, and none of the mingw
// runtime DLLs that a host machine would lack.
void ExpectSystemImportsOnly(const std::string& path) {
    MappedImage image(path);
    ASSERT_TRUE(image.valid()) << path;
    const std::vector<std::string> imports = ImportNames(image.module());
    ASSERT_FALSE(imports.empty()) << path;
    for (const std::string& name : imports) {
        const std::string lower = Lower(name);
        EXPECT_EQ(lower.find("libstdc++"), std::string::npos) << path << " imports " << name;
        EXPECT_EQ(lower.find("libgcc"), std::string::npos) << path << " imports " << name;
        EXPECT_EQ(lower.find("winpthread"), std::string::npos) << path << " imports " << name;
        EXPECT_TRUE(FileExists(SystemFolder() + name)) << path << " imports " << name << ", not a system DLL";
    }
}

std::string VersionString(const std::vector<char>& info, const char* name) {
    void* value = nullptr;
    UINT size = 0;
    const std::string key = std::string("\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueA(info.data(), key.c_str(), &value, &size) || !value) return "(missing)";
    return static_cast<const char*>(value);
}

std::set<std::string> ProfileKeys(const std::string& path, const std::string& section) {
    std::vector<char> buffer(32768);
    DWORD got = GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.data(), static_cast<DWORD>(buffer.size()),
                                         path.c_str());
    std::set<std::string> keys;
    for (const char* at = buffer.data(); at < buffer.data() + got && *at; at += strlen(at) + 1) keys.insert(at);
    return keys;
}

std::string ProfileValue(const std::string& path, const std::string& section, const std::string& key) {
    char buffer[512];
    GetPrivateProfileStringA(section.c_str(), key.c_str(), "(missing)", buffer, sizeof buffer, path.c_str());
    return buffer;
}

}  // namespace

TEST(KitLayout, InstallHoldsEveryPartOfTheKit) {
    for (const char* file : {"bin/x86/kal_drv.dll", "bin/x86/kalsay.exe", "bin/x86/kal_host32.exe", "test-engine/nalvoapi.dll", "test-engine/simengine.ini", "test-engine/README.txt", "README.txt",
                             "include/kal_drv.h", "lib/x86/libkal_drv.dll.a", "lib/x86/kal_drv.lib", "kal.ini.sample",
                             "docs/integration.md"})
        EXPECT_TRUE(FileExists(KitPath(file))) << file;
    // The installed header is the one the driver was built with.
    EXPECT_EQ(ReadFileText(KitPath("include/kal_drv.h")), ReadFileText(BuildPath("tests/kit/kal_drv.h")));
    EXPECT_EQ(ReadFileText(KitPath("bin/x86/kal_drv.dll")), ReadFileText(BuildPath("driver/kal_drv.dll")));
}

TEST(KitBinary, ExportsExactlyTheNamesOfTheDefFile) {
    MappedImage image(KitPath("bin/x86/kal_drv.dll"));
    ASSERT_TRUE(image.valid());
    std::vector<std::string> exported = ExportNames(image.module());
    std::vector<std::string> expected = DefExports();
    ASSERT_EQ(expected.size(), 20u);
    std::sort(exported.begin(), exported.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(exported, expected);
    // The test host's list of the interface agrees with the .def as well.
    std::vector<std::string> hostNames(kExportNames, kExportNames + 20);
    std::sort(hostNames.begin(), hostNames.end());
    EXPECT_EQ(hostNames, expected);
}

TEST(KitBinary, DriverAndKalsayImportOnlySystemDlls) {
    ExpectSystemImportsOnly(KitPath("bin/x86/kal_drv.dll"));
    ExpectSystemImportsOnly(KitPath("bin/x86/kalsay.exe"));
    ExpectSystemImportsOnly(KitPath("bin/x86/kal_host32.exe"));
}

TEST(KitBinary, VersionResourceCarriesProductAndProjectVersion) {
    const std::string path = KitPath("bin/x86/kal_drv.dll");
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    ASSERT_NE(fixed, nullptr);
    EXPECT_EQ(fixed->dwFileVersionMS, DWORD(MAKELONG(KIT_VERSION_MINOR, KIT_VERSION_MAJOR)));
    EXPECT_EQ(fixed->dwFileVersionLS, DWORD(MAKELONG(KIT_VERSION_TWEAK, KIT_VERSION_PATCH)));
    EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
    EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileType, DWORD(VFT_DLL));

    const std::string version = std::to_string(KIT_VERSION_MAJOR) + "." + std::to_string(KIT_VERSION_MINOR) + "." +
                                std::to_string(KIT_VERSION_PATCH) + "." + std::to_string(KIT_VERSION_TWEAK);
    EXPECT_EQ(VersionString(info, "ProductName"), "kal_drv");
    EXPECT_EQ(VersionString(info, "CompanyName"), "kal driver team");
    EXPECT_EQ(VersionString(info, "FileVersion"), version);
    EXPECT_EQ(VersionString(info, "ProductVersion"), version);
    EXPECT_EQ(VersionString(info, "OriginalFilename"), "kal_drv.dll");
    EXPECT_NE(VersionString(info, "FileDescription"), "(missing)");
    EXPECT_NE(VersionString(info, "LegalCopyright"), "(missing)");
}

// Built as C from the installed header, linked with either import library.
TEST(KitCHost, SpeaksOneTextAndSeesBeginAndEnd) {
    for (const char* exe : {"kit_c_host_dll_a.exe", "kit_c_host_lib.exe"}) {
        SCOPED_TRACE(exe);
        const std::string folder = KitFolder("c-host");
        CopyFileTo(BuildPath(std::string("tests/kit/") + exe), folder + exe);
        const std::string program = folder + exe;
        ProcessResult run = RunProcess(std::wstring(program.begin(), program.end()), folder, "", 15000);
        ASSERT_TRUE(run.started);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        EXPECT_NE(run.output.find("begins=1 ends=1 mark=7"), std::string::npos) << run.output;
    }
}

// What the sample documents must be what the driver reads: load it without a
// kal.ini, make it read every key once, and compare.
TEST(KitSample, DocumentsEveryKeyTheDriverWritesWithItsDefault) {
    const std::string sample = KitPath("kal.ini.sample");
    Host host("sample", "");
    host.Load();
    host.SetSynthCallback([](const KalSynthEvent*) { return 0; });
    char language[256] = "sample-language";
    KalVoiceFilter filter = {};
    filter.language = language;
    host.ListVoices(&filter);
    host.SetVoiceByName("no such voice");  // activates the first voice: Volume, Rate, Freq, DCBon
    host.Char(0xE4);
    host.Synchronize();
    host.Unload();
    const std::string written = host.folder + "kal.ini";
    ASSERT_TRUE(FileExists(written));

    const std::vector<std::string> sampleSections = ProfileSectionNames(sample);
    std::set<std::string> sampleVoiceKeys;
    for (const std::string& section : sampleSections)
        if (section.rfind("Nalvo ", 0) == 0) {
            const std::set<std::string> keys = ProfileKeys(sample, section);
            sampleVoiceKeys.insert(keys.begin(), keys.end());
        }

    std::set<std::string> writtenVoiceKeys;
    for (const std::string& section : ProfileSectionNames(written)) {
        SCOPED_TRACE(section);
        const std::set<std::string> keys = ProfileKeys(written, section);
        if (section == "Default") {
            // Same keys, same defaults.
            EXPECT_EQ(ProfileKeys(sample, section), keys);
            for (const std::string& key : keys)
                EXPECT_EQ(ProfileValue(sample, section, key), ProfileValue(written, section, key)) << key;
        } else if (section.rfind("Nalvo ", 0) == 0) {
            writtenVoiceKeys.insert(keys.begin(), keys.end());
        } else {
            // Gender, L-Trans, CharName: keyed by data, so only the section must be there.
            EXPECT_NE(std::find(sampleSections.begin(), sampleSections.end(), section), sampleSections.end());
        }
    }
    // Name, Lang, CodePage and, for the activated voice, DCBon.
    EXPECT_EQ(sampleVoiceKeys, writtenVoiceKeys);
    // The defaults the sample states for the keyed sections.
    EXPECT_EQ(ProfileValue(written, "L-Trans", "sample-language"), "0049");
    EXPECT_EQ(ProfileValue(written, "CharName", "00E4"), "00E4");
}
