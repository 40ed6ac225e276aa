// SPDX-License-Identifier: GPL-3.0-or-later
#include "espeakengine/text.h"

#include <cstdint>

namespace {
// 0x80..0x9F of Windows-1252; 0 where the code page defines no character.
const uint16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};
constexpr uint16_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
// Letters, digits and every byte above 0x7F (umlauts and the like) make words.
bool InWord(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 0x80 || (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || c == '\'';
}

std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t')) ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r')) --end;
    return text.substr(begin, end - begin);
}

std::string Lower(std::string text) {
    for (char& c : text) c = LowerAscii(c);
    return text;
}
}  // namespace

std::string Utf8FromWindows1252(const char* text, size_t length) {
    std::string out;
    out.reserve(length + length / 4);
    for (size_t i = 0; i < length; ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        uint32_t code = byte;
        if (byte >= 0x80 && byte < 0xA0) code = kHighControls[byte - 0x80] ? kHighControls[byte - 0x80] : kReplacement;
        AppendUtf8(out, code);
    }
    return out;
}

namespace {
// A letter as the guard counts them: A-Z, a-z, or one whole UTF-8 character
// above ASCII (umlauts). Its length in bytes, or 0.
size_t LetterAt(const std::string& text, size_t at) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return 1;
    if (c < 0xC0) return 0;
    size_t end = at + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
    return end - at;
}
}  // namespace

std::string SpeakableText(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size() + utf8.size() / 32);
    int dotted = 0;  // letters of the dotted run that ends at out's end (blanks included)
    size_t at = 0;
    while (at < utf8.size()) {
        const unsigned char c = static_cast<unsigned char>(utf8[at]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            out += ' ';
            ++at;
            dotted = 0;
            continue;
        }
        const size_t letter = LetterAt(utf8, at);
        if (letter && at + letter < utf8.size() && utf8[at + letter] == '.') {
            // A line break ends the run for eSpeak NG; a blank does not.
            if (dotted == kDottedLettersPerRun) {
                out += '\n';
                dotted = 0;
            }
            ++dotted;
            out.append(utf8, at, letter);
            at += letter;
            while (at < utf8.size() && utf8[at] == '.') out += utf8[at++];
            continue;
        }
        if (c != ' ' && c != '\t') dotted = 0;
        out.append(utf8, at, letter ? letter : 1);
        at += letter ? letter : 1;
    }
    return out;
}

bool WordReplacements::Load(const char* bytes, size_t size) {
    entries_.clear();
    size_t at = 0;
    while (at < size) {
        size_t end = at;
        while (end < size && bytes[end] != '\n') ++end;
        const std::string line = Trim(std::string(bytes + at, end - at));
        at = end + 1;
        if (line.empty() || line[0] == '#' || line[0] == ';') continue;
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string word = Lower(Trim(line.substr(0, equals)));
        if (word.empty()) continue;
        entries_.emplace_back(word, Trim(line.substr(equals + 1)));
    }
    return !entries_.empty();
}

std::string WordReplacements::Apply(const std::string& text) const {
    if (entries_.empty()) return text;
    std::string out;
    out.reserve(text.size());
    size_t at = 0;
    while (at < text.size()) {
        if (!InWord(text[at])) {
            out += text[at++];
            continue;
        }
        size_t end = at;
        while (end < text.size() && InWord(text[end])) ++end;
        const std::string word = text.substr(at, end - at);
        const std::string lower = Lower(word);
        const std::string* replacement = nullptr;
        for (const auto& entry : entries_)
            if (entry.first == lower) {
                replacement = &entry.second;
                break;
            }
        out += replacement ? *replacement : word;
        at = end;
    }
    return out;
}
