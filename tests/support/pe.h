// Reading a loaded module's tables, for the tests of what a DLL exports and imports.
#pragma once
#include <windows.h>

#include <set>
#include <string>

// The names in the module's export directory.
std::set<std::string> ExportedNames(HMODULE module);
// The DLL names in the module's import directory, upper-cased.
std::set<std::string> ImportedDlls(HMODULE module);
