// A profile file (kal.ini) held in memory, read and written with the rules of
// the system's profile routines. config/ parses the file once for a start-up
// and writes its missing defaults in one rewrite instead of one per key;
// posix.cpp builds the profile routines of the native build on it. Portable:
// it only sees bytes, never the file itself.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

class ProfileText {
public:
    // Takes the file's bytes (exists: whether the file is there at all). False
    // when they hold what this model does not reproduce byte for byte (any byte
    // outside printable ASCII, tab and CR LF or LF line ends): then the system's
    // own routines must be used for this file.
    bool Load(const std::string& bytes, bool exists);
    // Takes any bytes as the system's reading splits them (a CR or LF ends a
    // line), without that check: for a system whose files are bytes, not text
    // in a code page.
    void Parse(const std::string& bytes, bool exists);
    // Gives the copy's memory back (allocates nothing).
    void Clear();

    // True when the text can be passed to the calls below with the system's
    // result: printable ASCII only, no blank at the end (names: at neither end),
    // and a name neither starts with '[' nor holds '='.
    static bool SupportsName(const char* name);
    static bool SupportsValue(const char* value);

    // The asked section and key names lose their blanks at both ends, as the
    // system's routines take them.
    // As the system's string read: at most size - 1 characters and the
    // terminator into out; returns the characters copied.
    uint32_t GetString(const char* section, const char* key, const char* fallback, char* out,
                       uint32_t size) const;
    // As the system's number read of the same entry.
    int32_t GetInt(const char* section, const char* key, int32_t fallback) const;
    // As the system's write of one key's value (a null value deletes the key);
    // the file's bytes then are Bytes().
    void WriteString(const char* section, const char* key, const char* value);

    // True once a write changed what the file holds.
    bool changed() const { return changed_; }
    // The file's bytes as the system writes them after the writes so far.
    std::string Bytes() const;

private:
    struct Key {
        std::string name;
        bool hasValue;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Key> keys;
        std::unordered_map<std::string, size_t> firstKey;  // lower-case name -> index
    };
    Section* FindSection(const std::string& name);  // name trimmed
    const Key* FindKey(const char* section, const char* key) const;
    Section& AddSection(const std::string& name);
    void AddKey(Section& section, Key key);
    void DeleteKey(Section& section, const std::string& keyName);

    std::vector<Section> sections_;
    std::unordered_map<std::string, size_t> firstSection_;  // lower-case name -> index
    bool exists_ = false;
    bool changed_ = false;
};

// The number in a profile value as the system's number read makes it: leading
// blanks, one sign, a 0x/0o/0b prefix, digits until the first that does not
// belong, wrapping on overflow. Takes at most the first 29 characters.
int32_t ProfileParseInt(const char* text);
