// What kalsay needs from the system it runs on, and nothing else: its own
// folder, its arguments as UTF-16 units, the console and the profile write that
// sets the driver's protocol level (loading the driver: library.h).
// host_win32.cpp and host_posix.cpp implement it; the rest of kalsay is one
// source for both.
#pragma once
#include <string>
#include <vector>

// The folder of kalsay's executable, with its trailing separator.
std::string HostOwnFolder();
// The arguments without the program name; each wchar_t holds one UTF-16 code unit.
std::vector<std::wstring> HostArguments(int argc, char** argv);
// Prints UTF-8 on the console.
void HostPrepareConsole();
// True when standard input is a terminal (typed lines are not echoed).
bool HostInputIsTerminal();
// Reads one key of an initialization file as the driver does (section and key
// without regard to case); false when the file has no such key.
bool HostReadProfileString(const char* section, const char* key, const std::string& file, std::string& value);
// Sets one key of an initialization file, as the driver reads it.
bool HostWriteProfileString(const char* section, const char* key, const char* value, const std::string& file);
