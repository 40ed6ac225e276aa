// Real files and folders for tests: every test works in a fresh folder of its own.
// Folder paths end with the platform's separator (files_win32.cpp, files_posix.cpp).
#pragma once
#include <string>
#include <vector>

// A new, empty folder below the test's working folder; returns its full path
// with a trailing backslash.
std::string FreshFolder(const std::string& name);
// A test's name cut for a folder name: the driver finds its engine with the
// system's file check, which takes paths of at most 127 characters, so the folder
// must stay short wherever the build tree lies.
std::string ShortName(const std::string& name);
std::string ReadFileText(const std::string& path);  // empty when missing
// The lines of a file (none when it is missing), without their line ends.
std::vector<std::string> ReadLines(const std::string& path);
bool FileExists(const std::string& path);
void WriteFileText(const std::string& path, const std::string& text);
void CopyFileTo(const std::string& from, const std::string& to);
// The value of a key in folder's kal.ini ("" when missing), and writing one.
std::string ReadProfileValue(const std::string& folder, const char* section, const char* key);
void WriteProfileValue(const std::string& folder, const char* section, const char* key, const char* value);
// The section names of a profile file, in file order.
std::vector<std::string> ProfileSectionNames(const std::string& path);
// The process's current folder, without a trailing backslash.
std::string CurrentFolder();
// Ends this process at once with code, running no library's unload code (a
// death test's child whose engine threads still wait, or are held in the driver).
[[noreturn]] void EndProcessAtOnce(int code);
// Lines without their CR LF or LF ends.
std::vector<std::string> SplitLines(const std::string& text);
// The lines of the text that begin with prefix.
std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix);
// A text as the simulated engine's journal writes it: bytes below 0x20 and the
// backslash as \xHH.
std::string JournalEscape(const std::string& text);
std::string JournalUnescape(const std::string& escaped);
// Full path of a file built beside the test executables' build tree.
std::string BuildPath(const std::string& relative);
