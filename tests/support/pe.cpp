#include "support/pe.h"

#include <cctype>

namespace {
// RVAs are offsets from the base of a loaded or mapped image.
template <typename T>
const T* At(HMODULE module, DWORD rva) {
    return reinterpret_cast<const T*>(reinterpret_cast<const char*>(module) + rva);
}

// Null when the module has no such directory. The directories sit after a 32-bit
// or a 64-bit optional header.
template <typename T>
const T* Directory(HMODULE module, int index) {
    auto* dos = At<IMAGE_DOS_HEADER>(module, 0);
    auto* nt32 = At<IMAGE_NT_HEADERS32>(module, dos->e_lfanew);
    const DWORD rva = nt32->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC
                          ? reinterpret_cast<const IMAGE_NT_HEADERS64*>(nt32)->OptionalHeader.DataDirectory[index].VirtualAddress
                          : nt32->OptionalHeader.DataDirectory[index].VirtualAddress;
    return rva ? At<T>(module, rva) : nullptr;
}
}  // namespace

MappedImage::MappedImage(const std::string& path)
    : module_(LoadLibraryExA(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES)) {}

MappedImage::~MappedImage() {
    if (module_) FreeLibrary(module_);
}

std::vector<std::string> ExportNames(HMODULE module) {
    std::vector<std::string> names;
    auto* exports = Directory<IMAGE_EXPORT_DIRECTORY>(module, IMAGE_DIRECTORY_ENTRY_EXPORT);
    for (DWORD i = 0; exports && i < exports->NumberOfNames; ++i)
        names.push_back(At<char>(module, At<DWORD>(module, exports->AddressOfNames)[i]));
    return names;
}

std::vector<std::string> ImportNames(HMODULE module) {
    std::vector<std::string> names;
    auto* entry = Directory<IMAGE_IMPORT_DESCRIPTOR>(module, IMAGE_DIRECTORY_ENTRY_IMPORT);
    for (; entry && entry->Name; ++entry) names.push_back(At<char>(module, entry->Name));
    return names;
}

std::set<std::string> ExportedNames(HMODULE module) {
    const std::vector<std::string> names = ExportNames(module);
    return std::set<std::string>(names.begin(), names.end());
}

std::set<std::string> ImportedDlls(HMODULE module) {
    std::set<std::string> dlls;
    for (std::string name : ImportNames(module)) {
        for (char& c : name) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
        dlls.insert(name);
    }
    return dlls;
}
