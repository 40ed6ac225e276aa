#include "sdmodule/ssml.h"

#include <cstdlib>

namespace {
constexpr char16_t kReplacement = 0xFFFD;

void AppendCode(std::u16string& out, unsigned long code) {
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = kReplacement;
    if (code >= 0x10000) {
        code -= 0x10000;
        out += static_cast<char16_t>(0xD800 | code >> 10);
        out += static_cast<char16_t>(0xDC00 | (code & 0x3FF));
    } else {
        out += static_cast<char16_t>(code);
    }
}

// One UTF-8 sequence at text[at]; advances at. Invalid: U+FFFD, one byte.
unsigned long DecodeOne(const std::string& text, size_t& at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    unsigned long code;
    size_t length;
    if (lead < 0x80) code = lead, length = 1;
    else if ((lead & 0xE0) == 0xC0) code = lead & 0x1F, length = 2;
    else if ((lead & 0xF0) == 0xE0) code = lead & 0x0F, length = 3;
    else if ((lead & 0xF8) == 0xF0) code = lead & 0x07, length = 4;
    else return ++at, kReplacement;
    if (at + length > text.size()) return ++at, kReplacement;
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[at + k]);
        if ((next & 0xC0) != 0x80) return ++at, kReplacement;
        code = code << 6 | (next & 0x3F);
    }
    at += length;
    return code;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

bool OnlyBlanks(const std::u16string& text) {
    for (char16_t c : text)
        if (!IsBlank(c)) return false;
    return true;
}

// The value of attribute name in a tag's inside ("mark name='x'/"), or false.
bool Attribute(const std::string& tag, const std::string& name, std::string& value) {
    for (size_t at = tag.find(name); at != std::string::npos; at = tag.find(name, at + 1)) {
        if (at > 0 && tag[at - 1] != ' ' && tag[at - 1] != '\t' && tag[at - 1] != '\n') continue;
        size_t k = at + name.size();
        while (k < tag.size() && tag[k] == ' ') ++k;
        if (k >= tag.size() || tag[k] != '=') continue;
        ++k;
        while (k < tag.size() && tag[k] == ' ') ++k;
        if (k >= tag.size() || (tag[k] != '"' && tag[k] != '\'')) continue;
        const size_t end = tag.find(tag[k], k + 1);
        if (end == std::string::npos) return false;
        value = tag.substr(k + 1, end - k - 1);
        return true;
    }
    return false;
}

// "&amp;" and the like at text[at] (on the '&'); advances at past it. An
// unknown or unterminated entity is the '&' itself.
unsigned long DecodeEntity(const std::string& text, size_t& at) {
    const size_t end = text.find(';', at);
    if (end == std::string::npos || end - at > 10) return ++at, '&';
    const std::string name = text.substr(at + 1, end - at - 1);
    unsigned long code = 0;
    if (name == "amp") code = '&';
    else if (name == "lt") code = '<';
    else if (name == "gt") code = '>';
    else if (name == "quot") code = '"';
    else if (name == "apos") code = '\'';
    else if (name.size() > 1 && name[0] == '#') {
        char* stop = nullptr;
        const bool hex = name[1] == 'x' || name[1] == 'X';
        const char* digits = name.c_str() + (hex ? 2 : 1);
        code = strtoul(digits, &stop, hex ? 16 : 10);
        if (*digits == '\0' || *stop != '\0') return ++at, '&';
    } else {
        return ++at, '&';
    }
    at = end + 1;
    return code;
}

// Cuts text into pieces of at most kSegmentUnitsMax units, at the last blank
// before the limit where there is one.
std::vector<std::u16string> CutLong(const std::u16string& text) {
    std::vector<std::u16string> pieces;
    size_t begin = 0;
    while (text.size() - begin > kSegmentUnitsMax) {
        size_t cut = begin + kSegmentUnitsMax;
        for (size_t k = cut; k > begin + kSegmentUnitsMax / 2; --k)
            if (IsBlank(text[k])) {
                cut = k;
                break;
            }
        // Never between the two halves of a surrogate pair.
        if (text[cut] >= 0xDC00 && text[cut] <= 0xDFFF) --cut;
        pieces.push_back(text.substr(begin, cut - begin));
        begin = cut;
    }
    pieces.push_back(text.substr(begin));
    return pieces;
}
}  // namespace

std::u16string Utf16FromUtf8(const std::string& text) {
    std::u16string out;
    for (size_t at = 0; at < text.size();) AppendCode(out, DecodeOne(text, at));
    return out;
}

long FirstCodePoint(const std::string& text) {
    if (text.empty()) return -1;
    size_t at = 0;
    return static_cast<long>(DecodeOne(text, at));
}

SpokenMessage ParseSsml(const std::string& ssml) {
    SpokenMessage message;
    std::u16string text;
    std::vector<std::string> marks;  // waiting for the next text
    auto closeText = [&] {
        if (OnlyBlanks(text)) return;
        for (std::u16string& piece : CutLong(text)) {
            if (OnlyBlanks(piece)) continue;
            message.segments.push_back(Segment{std::move(piece), std::move(marks)});
            marks.clear();
        }
        text.clear();
    };
    // <break/>, </p> and the like part words: a blank before the next text.
    bool blankWanted = false;
    auto append = [&](unsigned long code) {
        if (blankWanted && !IsBlank(static_cast<char16_t>(code)) && !text.empty() && !IsBlank(text.back())) text += u' ';
        blankWanted = false;
        AppendCode(text, code);
    };
    for (size_t at = 0; at < ssml.size();) {
        const char c = ssml[at];
        if (c == '<') {
            const size_t end = ssml.find('>', at);
            if (end == std::string::npos) break;  // a cut tag: nothing after it is text
            const std::string tag = ssml.substr(at + 1, end - at - 1);
            at = end + 1;
            std::string name;
            if (tag.compare(0, 4, "mark") == 0 && (tag.size() == 4 || tag[4] == ' ' || tag[4] == '/') &&
                Attribute(tag, "name", name)) {
                closeText();
                text.clear();
                blankWanted = false;
                marks.push_back(name);
            } else {
                blankWanted = true;
            }
        } else if (c == '&') {
            append(DecodeEntity(ssml, at));
        } else {
            append(DecodeOne(ssml, at));
        }
    }
    closeText();
    message.marksAfter = std::move(marks);
    return message;
}
