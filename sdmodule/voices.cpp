#include "sdmodule/voices.h"

#include <cctype>

namespace {
std::string Lower(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        if (c == '_') c = '-';
    }
    return text;
}

std::string Primary(const std::string& tag) { return tag.substr(0, tag.find('-')); }

const DriverVoice* ByName(const std::vector<DriverVoice>& voices, const std::string& name) {
    for (const DriverVoice& voice : voices)
        if (voice.name == name || voice.identifier == name) return &voice;
    return nullptr;
}

// The tag of the voices that serve language: the same tag, else the first
// voice whose tag has the same first part (the default voice's when it has),
// else "".
std::string ServingTag(const std::vector<DriverVoice>& voices, const std::string& language,
                       const DriverVoice& fallback) {
    const std::string wanted = Lower(language);
    if (wanted.empty()) return "";
    for (const DriverVoice& voice : voices)
        if (Lower(voice.tag) == wanted) return voice.tag;
    const std::string primary = Primary(wanted);
    if (Primary(Lower(fallback.tag)) == primary) return fallback.tag;
    for (const DriverVoice& voice : voices)
        if (Primary(Lower(voice.tag)) == primary) return voice.tag;
    return "";
}
}  // namespace

std::map<std::string, std::string> DefaultLanguageTags() {
    return {{"0001", "en-US"}, {"0007", "ru"},    {"0030", "el"},    {"0031", "nl"},    {"0032", "nl-BE"},
            {"0033", "fr"},    {"0034", "es"},    {"0036", "hu"},    {"0039", "it"},    {"0041", "de-CH"},
            {"0043", "de-AT"}, {"0044", "en-GB"}, {"0045", "da"},    {"0046", "sv"},    {"0047", "nb"},
            {"0048", "pl"},    {"0049", "de"},    {"0055", "pt-BR"}, {"0351", "pt"},    {"0358", "fi"},
            {"0420", "cs"},    {"0421", "sk"}};
}

const DriverVoice* ChooseVoice(const std::vector<DriverVoice>& voices, const VoiceRequest& request,
                               const std::string& defaultVoice) {
    if (voices.empty()) return nullptr;
    if (const DriverVoice* named = ByName(voices, request.synthesisVoice)) return named;
    const DriverVoice* fallback = ByName(voices, defaultVoice);
    if (!fallback) fallback = &voices.front();
    std::string tag = ServingTag(voices, request.language, *fallback);
    if (tag.empty()) tag = fallback->tag;

    // The voice type: a gender and which of that gender's voices.
    const std::string type = Lower(request.voiceType);
    int gender = 0;
    size_t number = 1;
    if (type.compare(0, 4, "male") == 0) gender = 1, number = static_cast<size_t>(atoi(type.c_str() + 4));
    else if (type.compare(0, 6, "female") == 0) gender = 2, number = static_cast<size_t>(atoi(type.c_str() + 6));
    else if (type == "child-male") gender = 1;
    else if (type == "child-female") gender = 2;
    if (number < 1) number = 1;

    const DriverVoice* first = nullptr;
    const DriverVoice* ofGender = nullptr;
    size_t seen = 0;
    for (const DriverVoice& voice : voices) {
        if (voice.tag != tag) continue;
        if (!first) first = &voice;
        if (gender && voice.gender == gender && seen < number) {
            ofGender = &voice;  // the number-th, or the last there is
            ++seen;
        }
    }
    if (ofGender) return ofGender;
    // No voice type: the default voice when it speaks the language.
    if (fallback->tag == tag) return fallback;
    return first ? first : fallback;
}

std::string VoiceListLines(const std::vector<DriverVoice>& voices) {
    std::string lines;
    for (const DriverVoice& voice : voices) lines += "200-" + voice.name + "\t" + voice.tag + "\tnone\n";
    return lines;
}
