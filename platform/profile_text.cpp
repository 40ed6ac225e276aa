#include "platform/profile_text.h"

#include <cstring>

namespace {
// The system reads a number through a 30-character buffer.
constexpr uint32_t kNumberBuffer = 30;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Lower(const char* text, size_t length) {
    std::string s(text, length);
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}
std::string Lower(const std::string& text) { return Lower(text.data(), text.size()); }

// An asked name without its blanks at either end.
std::string Trimmed(const char* name) {
    size_t start = 0, end = strlen(name);
    while (start < end && IsBlank(name[start])) ++start;
    while (end > start && IsBlank(name[end - 1])) --end;
    return std::string(name + start, end - start);
}

bool Printable(const char* text) {
    for (const char* p = text; *p; ++p)
        if (*p < 0x20 || *p > 0x7E) return false;
    return true;
}

// The entry copy of the system's string read: a value enclosed in one kind of
// quote loses them, and when the buffer is just long enough the copy loses its
// last character instead (the system does the same).
uint32_t CopyEntry(char* out, uint32_t size, const char* value) {
    char quote = 0;
    if ((value[0] == '\'' || value[0] == '"') && value[1] && value[strlen(value) - 1] == value[0])
        quote = *value++;
    const size_t length = strlen(value);
    size_t n = length < size - 1 ? length : size - 1;
    if (quote && size >= length && n > 0) --n;
    // Only the text and its terminator are written, as the system does.
    memcpy(out, value, n);
    out[n] = '\0';
    return static_cast<uint32_t>(n);
}
}  // namespace

// The system reads its own file anew after a write (at once, or once it has
// aged), so only texts that survive being written and read back are taken: a
// value with trailing blanks, or a key that would read back as a section
// header or split at an equals sign, would not.
bool ProfileText::SupportsValue(const char* value) {
    if (!value || !Printable(value)) return false;
    while (IsBlank(*value)) ++value;
    const size_t n = strlen(value);
    return n == 0 || !IsBlank(value[n - 1]);
}

bool ProfileText::SupportsName(const char* name) {
    if (!name || !Printable(name)) return false;
    const size_t n = strlen(name);
    return n > 0 && !IsBlank(name[0]) && !IsBlank(name[n - 1]) && name[0] != '[' && !strchr(name, '=');
}

ProfileText::Section& ProfileText::AddSection(const std::string& name) {
    firstSection_.emplace(Lower(name), sections_.size());
    sections_.push_back(Section{name, {}, {}});
    return sections_.back();
}

void ProfileText::AddKey(Section& section, Key key) {
    section.firstKey.emplace(Lower(key.name), section.keys.size());
    section.keys.push_back(std::move(key));
}

void ProfileText::Clear() {
    std::vector<Section>().swap(sections_);
    std::unordered_map<std::string, size_t>().swap(firstSection_);
    exists_ = false;
    changed_ = false;
}

bool ProfileText::Load(const std::string& bytes, bool exists) {
    Clear();
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')) return false;  // a lone CR
        if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c > 0x7E) return false;
    }
    Parse(bytes, exists);
    return true;
}

void ProfileText::Parse(const std::string& bytes, bool exists) {
    Clear();
    exists_ = exists;
    // Keys before the first section header belong to a section without a name.
    AddSection("");
    bool previousNameless = false;  // the section's last entry has no name
    size_t next = 0;
    while (next < bytes.size()) {
        size_t start = next;
        while (next < bytes.size() && bytes[next] != '\n' && bytes[next] != '\r') ++next;
        size_t end = next;
        while (next < bytes.size() && (bytes[next] == '\n' || bytes[next] == '\r')) ++next;
        while (start < end && IsBlank(bytes[start])) ++start;
        while (end > start && IsBlank(bytes[end - 1])) --end;
        if (start == end) continue;
        if (bytes[start] == '[') {
            size_t close = end - 1;
            while (close > start && bytes[close] != ']') --close;
            if (close > start) {  // without a closing bracket the line is read as a key
                size_t nameStart = start + 1, nameEnd = close;
                while (nameStart < nameEnd && IsBlank(bytes[nameStart])) ++nameStart;
                while (nameEnd > nameStart && IsBlank(bytes[nameEnd - 1])) --nameEnd;
                AddSection(bytes.substr(nameStart, nameEnd - nameStart));
                previousNameless = false;
                continue;
            }
        }
        // Searched in this line only: a file of lines without '=' stays linear.
        const void* found = memchr(bytes.data() + start, '=', end - start);
        const size_t equals = found ? static_cast<size_t>(static_cast<const char*>(found) - bytes.data()) : end;
        Key key{std::string(), false, std::string()};
        if (equals < end) {
            size_t nameEnd = equals;
            while (nameEnd > start && IsBlank(bytes[nameEnd - 1])) --nameEnd;
            size_t valueStart = equals + 1;
            while (valueStart < end && IsBlank(bytes[valueStart])) ++valueStart;
            key = Key{bytes.substr(start, nameEnd - start), true, bytes.substr(valueStart, end - valueStart)};
        } else {
            key.name = bytes.substr(start, end - start);
        }
        // A nameless entry right after another nameless one is dropped.
        if (key.name.empty() && previousNameless) continue;
        previousNameless = key.name.empty();
        AddKey(sections_.back(), std::move(key));
    }
}

ProfileText::Section* ProfileText::FindSection(const std::string& name) {
    auto it = firstSection_.find(Lower(name));
    return it == firstSection_.end() ? nullptr : &sections_[it->second];
}

const ProfileText::Key* ProfileText::FindKey(const char* section, const char* key) const {
    auto s = firstSection_.find(Lower(Trimmed(section)));
    if (s == firstSection_.end()) return nullptr;
    const Section& found = sections_[s->second];
    auto k = found.firstKey.find(Lower(Trimmed(key)));
    return k == found.firstKey.end() ? nullptr : &found.keys[k->second];
}

uint32_t ProfileText::GetString(const char* section, const char* key, const char* fallback, char* out,
                                uint32_t size) const {
    if (size == 0) return 0;
    // The fallback loses its trailing spaces, though never its first character.
    std::string shown = fallback ? fallback : "";
    size_t keep = shown.size();
    while (keep > 1 && shown[keep - 1] == ' ') --keep;
    shown.resize(keep);
    if (!exists_) {  // no file: the fallback, copied as it is
        const size_t n = shown.size() < size - 1 ? shown.size() : size - 1;
        memcpy(out, shown.data(), n);
        out[n] = '\0';
        return static_cast<uint32_t>(n);
    }
    const Key* found = FindKey(section, key);
    return CopyEntry(out, size, found && found->hasValue ? found->value.c_str() : shown.c_str());
}

int32_t ProfileText::GetInt(const char* section, const char* key, int32_t fallback) const {
    char text[kNumberBuffer];
    if (GetString(section, key, "", text, sizeof text) == 0) return fallback;
    return ProfileParseInt(text);
}

void ProfileText::WriteString(const char* section, const char* key, const char* value) {
    const std::string sectionName = Trimmed(section), keyName = Trimmed(key);
    Section* target = FindSection(sectionName);
    if (!value) {
        if (target) DeleteKey(*target, keyName);
        return;
    }
    while (IsBlank(*value)) ++value;  // the system drops leading blanks of a value
    if (!target) target = &AddSection(sectionName);
    auto it = target->firstKey.find(Lower(keyName));
    if (it == target->firstKey.end()) {
        AddKey(*target, Key{keyName, true, value});
    } else {
        Key& existing = target->keys[it->second];
        if (existing.hasValue && existing.value == value) return;  // no change, no rewrite
        existing.hasValue = true;
        existing.value = value;
    }
    changed_ = true;
    exists_ = true;
}

void ProfileText::DeleteKey(Section& section, const std::string& keyName) {
    auto it = section.firstKey.find(Lower(keyName));
    if (it == section.firstKey.end()) return;
    section.keys.erase(section.keys.begin() + static_cast<std::ptrdiff_t>(it->second));
    // The indexes behind it moved, and a later key of the same name is now the first.
    section.firstKey.clear();
    for (size_t i = 0; i < section.keys.size(); ++i) section.firstKey.emplace(Lower(section.keys[i].name), i);
    changed_ = true;
}

std::string ProfileText::Bytes() const {
    std::string bytes;
    for (const Section& section : sections_) {
        if (!section.name.empty()) bytes += "[" + section.name + "]\r\n";
        for (const Key& key : section.keys) {
            bytes += key.name;
            if (key.hasValue) bytes += "=" + key.value;
            bytes += "\r\n";
        }
    }
    return bytes;
}

int32_t ProfileParseInt(const char* text) {
    const char* p = text;
    const char* const end = text + strnlen(text, kNumberBuffer - 1);
    while (p < end && static_cast<unsigned char>(*p) <= ' ') ++p;
    bool minus = false;
    if (p < end && (*p == '+' || *p == '-')) minus = *p++ == '-';
    uint32_t base = 10;
    if (end - p >= 2 && p[0] == '0') {
        if (p[1] == 'b') base = 2;
        if (p[1] == 'o') base = 8;
        if (p[1] == 'x') base = 16;
        if (base != 10) p += 2;
    }
    uint32_t total = 0;
    for (; p < end; ++p) {
        uint32_t digit = 99;
        if (*p >= '0' && *p <= '9') digit = static_cast<uint32_t>(*p - '0');
        else if (*p >= 'a' && *p <= 'z') digit = static_cast<uint32_t>(*p - 'a' + 10);
        else if (*p >= 'A' && *p <= 'Z') digit = static_cast<uint32_t>(*p - 'A' + 10);
        if (digit >= base) break;
        total = total * base + digit;
    }
    return static_cast<int32_t>(minus ? 0u - total : total);
}
