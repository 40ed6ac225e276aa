// SPDX-License-Identifier: GPL-3.0-or-later
// The texts the driver hands over: 8-bit, in the voice's code page (Windows-1252
// for the engine's voices, see kal.ini), and the engine's own word replacements.
#pragma once
#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// Windows-1252 to UTF-8, as eSpeak NG reads it. Bytes the code page leaves
// undefined become U+FFFD.
std::string Utf8FromWindows1252(const char* text, size_t length);

// The pronunciation dictionary: a text file of lines "word=replacement"
// (spaces around both are dropped; lines starting with '#' or ';' and lines
// without '=' are ignored). Words are matched whole and without regard to the
// case of A-Z; the replacement is spoken instead. Bytes are Windows-1252.
class WordReplacements {
public:
    // Parses the file's bytes; false when no line held a replacement.
    bool Load(const char* bytes, size_t size);
    size_t size() const { return entries_.size(); }
    // text with every listed word replaced.
    std::string Apply(const std::string& text) const;

private:
    std::vector<std::pair<std::string, std::string>> entries_;  // lower-case word, replacement
};
