// The messages speech-dispatcher hands a module, in SSML, cut where their
// <mark/>s are: the driver reports only the begin and end of whole texts, so
// each piece between two marks becomes a text of its own, and a mark is
// reached when the piece after it begins.
#pragma once
#include <string>
#include <vector>

struct Segment {
    std::u16string text;                  // never only blanks
    std::vector<std::string> marksBefore;  // reached as this text begins
};

struct SpokenMessage {
    std::vector<Segment> segments;
    std::vector<std::string> marksAfter;  // reached as the last text ends
};

// A text longer than this (UTF-16 units) is cut at a blank: the driver keeps
// at most 4095 bytes of a text, one a unit in the voices' code page.
constexpr size_t kSegmentUnitsMax = 2000;

// Tags other than <mark/> are dropped, their text kept; entities are decoded;
// invalid UTF-8 becomes U+FFFD.
SpokenMessage ParseSsml(const std::string& ssml);

// UTF-8 to UTF-16, invalid sequences as U+FFFD.
std::u16string Utf16FromUtf8(const std::string& text);
// The first character of a UTF-8 text, or -1.
long FirstCodePoint(const std::string& text);
