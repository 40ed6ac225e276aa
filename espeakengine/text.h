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

// The UTF-8 text as eSpeak NG may be given it. Host text is only text:
// - control characters other than tab, line feed and carriage return become
//   spaces (0x01 starts eSpeak NG's embedded commands, which change volume,
//   rate and voice for every later text);
// - a run of single letters each followed by dots ("A.B.C.", also "a.b. c.d.",
//   which eSpeak NG joins across blanks) gets a line break after every
//   kDottedLettersPerRun letters: eSpeak NG 1.51 overflows a buffer on such
//   runs of a few dozen letters ("stack smashing detected", the process ends).
//   Shorter runs, abbreviations, stay as they are.
constexpr int kDottedLettersPerRun = 16;
std::string SpeakableText(const std::string& utf8);

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
