// Reading a module's tables, for the tests of what a DLL exports and imports.
#pragma once
#include <windows.h>

#include <set>
#include <string>
#include <vector>

// A DLL or program mapped as an image without running its entry point or
// loading its imports, so its tables can be read but none of its code runs.
class MappedImage {
public:
    explicit MappedImage(const std::string& path);
    ~MappedImage();
    MappedImage(const MappedImage&) = delete;
    MappedImage& operator=(const MappedImage&) = delete;
    bool valid() const { return module_ != nullptr; }
    HMODULE module() const { return module_; }

private:
    HMODULE module_;
};

// The names in the module's export directory, in table order.
std::vector<std::string> ExportNames(HMODULE module);
// The DLL names in the module's import directory, as written there.
std::vector<std::string> ImportNames(HMODULE module);

// The same as sets; the imported DLL names upper-cased.
std::set<std::string> ExportedNames(HMODULE module);
std::set<std::string> ImportedDlls(HMODULE module);
