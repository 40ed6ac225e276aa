#include "support/pe.h"

#include <cctype>

namespace {
const IMAGE_DATA_DIRECTORY& Directory(HMODULE module, int index) {
    auto* base = reinterpret_cast<const unsigned char*>(module);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    // The directories sit after a 32-bit or a 64-bit optional header.
    auto* nt32 = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    if (nt32->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC)
        return reinterpret_cast<const IMAGE_NT_HEADERS64*>(nt32)->OptionalHeader.DataDirectory[index];
    return nt32->OptionalHeader.DataDirectory[index];
}
}  // namespace

std::set<std::string> ExportedNames(HMODULE module) {
    auto* base = reinterpret_cast<const unsigned char*>(module);
    const IMAGE_DATA_DIRECTORY& dir = Directory(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
    std::set<std::string> names;
    if (dir.VirtualAddress == 0) return names;
    auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
    auto* table = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) names.insert(reinterpret_cast<const char*>(base + table[i]));
    return names;
}

std::set<std::string> ImportedDlls(HMODULE module) {
    auto* base = reinterpret_cast<const unsigned char*>(module);
    const IMAGE_DATA_DIRECTORY& dir = Directory(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
    std::set<std::string> dlls;
    if (dir.VirtualAddress == 0) return dlls;
    for (auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); entry->Name;
         ++entry) {
        std::string name = reinterpret_cast<const char*>(base + entry->Name);
        for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        dlls.insert(name);
    }
    return dlls;
}
