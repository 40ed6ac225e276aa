// Text conversions between the host's world (UTF-16, UTF-8 terminals) and the
// driver's 8-bit texts (voice names from kal.ini are in the ANSI code page).
// Implemented beside the system seam (host_win32.cpp, host_posix.cpp); a
// wstring holds UTF-16 code units on both.
#pragma once
#include <string>

// The system's ANSI code page (Windows-1252 natively), and UTF-8.
constexpr unsigned kAnsiCodePage = 0;
constexpr unsigned kUtf8CodePage = 65001;

std::string ToCodePage(const std::wstring& text, unsigned codePage);
std::wstring FromCodePage(const std::string& text, unsigned codePage);
// A line typed or piped in: UTF-8 when it is valid UTF-8, else the ANSI code page.
std::wstring FromInputLine(const std::string& line);
// For printing: UTF-8.
std::string Utf8(const std::wstring& text);
std::string Utf8FromAnsi(const char* text);
