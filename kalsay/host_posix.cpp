// kalsay's system seam on Linux, and its text conversions: UTF-8 arguments and
// terminals, Windows-1252 as the ANSI code page (the driver's voices use it).
#include <dlfcn.h>
#include <strings.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <cstdint>
#include <fstream>
#include <sstream>

#include "kalsay/host.h"
#include "kalsay/text.h"

namespace {
// 0x80..0x9F of Windows-1252; 0 where the code page defines no character.
const uint16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// UTF-8 to UTF-16 units; false at the first invalid sequence.
bool FromUtf8(const std::string& text, std::wstring& out) {
    out.clear();
    for (size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        uint32_t code;
        size_t length;
        if (lead < 0x80) code = lead, length = 1;
        else if ((lead & 0xE0) == 0xC0) code = lead & 0x1F, length = 2;
        else if ((lead & 0xF0) == 0xE0) code = lead & 0x0F, length = 3;
        else if ((lead & 0xF8) == 0xF0) code = lead & 0x07, length = 4;
        else return false;
        if (at + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            const unsigned char next = static_cast<unsigned char>(text[at + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = code << 6 | (next & 0x3F);
        }
        at += length;
        if (code >= 0x10000) {
            code -= 0x10000;
            out += static_cast<wchar_t>(0xD800 | code >> 10);
            out += static_cast<wchar_t>(0xDC00 | (code & 0x3FF));
        } else {
            out += static_cast<wchar_t>(code);
        }
    }
    return true;
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

char ToWindows1252(uint32_t unit) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<char>(unit);
    for (int i = 0; i < 32; ++i)
        if (kHighControls[i] == unit) return static_cast<char>(0x80 + i);
    return '?';  // the code page's default character
}
}  // namespace

std::string HostOwnFolder() {
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string file(path, length > 0 ? static_cast<size_t>(length) : 0);
    return file.substr(0, file.find_last_of('/') + 1);
}

std::vector<std::wstring> HostArguments(int argc, char** argv) {
    std::vector<std::wstring> args;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg;
        if (!FromUtf8(argv[i], arg)) arg = FromCodePage(argv[i], kAnsiCodePage);
        args.push_back(arg);
    }
    return args;
}

void HostPrepareConsole() {}

bool HostInputIsTerminal() { return isatty(STDIN_FILENO) != 0; }

bool HostReadProfileString(const char* section, const char* key, const std::string& file, std::string& value) {
    std::ifstream in(file, std::ios::binary);
    const auto trimmed = [](std::string text) {
        const size_t first = text.find_first_not_of(" \t\r");
        if (first == std::string::npos) return std::string();
        return text.substr(first, text.find_last_not_of(" \t\r") + 1 - first);
    };
    bool inSection = false;
    for (std::string line; std::getline(in, line);) {
        line = trimmed(line);
        if (!line.empty() && line[0] == '[') {
            const size_t close = line.find(']');
            inSection = close != std::string::npos && strcasecmp(trimmed(line.substr(1, close - 1)).c_str(), section) == 0;
            continue;
        }
        const size_t equals = line.find('=');
        if (inSection && equals != std::string::npos && strcasecmp(trimmed(line.substr(0, equals)).c_str(), key) == 0) {
            value = trimmed(line.substr(equals + 1));
            return true;
        }
    }
    return false;
}

bool HostWriteProfileString(const char* section, const char* key, const char* value, const std::string& file) {
    // The key's line is replaced in place, or added at the top of its section
    // (a new section at the end); the rest of the file stays as it is.
    std::ifstream in(file, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    in.close();
    const std::string header = std::string("[") + section + "]";
    const std::string entry = std::string(key) + "=" + value;
    auto trimmed = [](std::string line) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        return line;
    };
    bool inSection = false;
    long sectionLine = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string line = trimmed(lines[i]);
        if (!line.empty() && line[0] == '[') {
            inSection = line == header;
            if (inSection && sectionLine < 0) sectionLine = static_cast<long>(i);
            continue;
        }
        if (inSection && line.compare(0, strlen(key), key) == 0 && line.size() > strlen(key) &&
            line.find_first_not_of(' ', strlen(key)) != std::string::npos &&
            line[line.find_first_not_of(' ', strlen(key))] == '=') {
            lines[i] = entry;
            sectionLine = -2;
            break;
        }
    }
    if (sectionLine >= 0) lines.insert(lines.begin() + sectionLine + 1, entry);
    else if (sectionLine == -1) {
        lines.push_back(header);
        lines.push_back(entry);
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) out << line << '\n';
    return static_cast<bool>(out);
}

std::string ToCodePage(const std::wstring& text, unsigned codePage) {
    std::string out;
    for (size_t at = 0; at < text.size(); ++at) {
        uint32_t unit = static_cast<uint32_t>(text[at]) & 0xFFFF;
        if (codePage != kUtf8CodePage) {
            out += ToWindows1252(unit);
            continue;
        }
        if (unit >= 0xD800 && unit < 0xDC00 && at + 1 < text.size()) {
            const uint32_t low = static_cast<uint32_t>(text[at + 1]) & 0xFFFF;
            if (low >= 0xDC00 && low < 0xE000) {
                unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                ++at;
            }
        }
        AppendUtf8(out, unit);
    }
    return out;
}

std::wstring FromCodePage(const std::string& text, unsigned codePage) {
    std::wstring out;
    if (codePage == kUtf8CodePage) {
        FromUtf8(text, out);
        return out;
    }
    for (char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        const uint32_t code = byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte;
        out += static_cast<wchar_t>(code ? code : 0xFFFD);
    }
    return out;
}

std::wstring FromInputLine(const std::string& line) {
    std::wstring out;
    if (FromUtf8(line, out)) return out;
    return FromCodePage(line, kAnsiCodePage);
}

std::string Utf8(const std::wstring& text) { return ToCodePage(text, kUtf8CodePage); }

std::string Utf8FromAnsi(const char* text) {
    if (!text) return "(null)";
    return Utf8(FromCodePage(text, kAnsiCodePage));
}
