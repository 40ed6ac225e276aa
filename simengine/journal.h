// The call journal: simengine.journal beside the DLL, one whole line per call.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

void journalOpen(const std::string& folder);
void journalClose();
// Appends the line and "\n" at once; safe from any thread.
void journalLine(const std::string& line);
// Bytes below 0x20 and the backslash as \xhh, all others raw.
std::string escaped(const char* bytes, size_t size);
// A NUL-terminated text read at most `max` bytes far; null gives "".
std::string escapedText(const char* text, size_t max);
// " result=<r>" for lines whose format shows a result only when it is not 0.
std::string failureSuffix(int32_t result);

}  // namespace sim
