// speech-dispatcher names voices by language tag and voice type (male1,
// female2, ...) or by a synthesis voice's name; the driver by display name,
// a four-digit language code and a gender. This maps the one onto the other.
#pragma once
#include <map>
#include <string>
#include <vector>

struct DriverVoice {
    std::string name;        // display name, e.g. "English f2"
    std::string code;        // the driver's language code, e.g. "0044"
    std::string identifier;  // e.g. "0044-English f2"
    int gender = 0;          // 1 male, 2 female, as the driver's profile says
    std::string tag;         // language tag for speech-dispatcher, e.g. "en-GB"
};

// The driver's language codes (country calling codes) and their tags; kal.conf
// adds to them and overrides them.
std::map<std::string, std::string> DefaultLanguageTags();

// What speech-dispatcher last set; "" for NULL or never set.
struct VoiceRequest {
    std::string language;         // "en-US", "de", "c", ...
    std::string voiceType;        // "male1", "female2", "child_female", ...
    std::string synthesisVoice;   // a name from LIST VOICES
};

// The voice to speak with: a synthesis voice by name wins; then the language
// (whole tag, then its first part: "en" finds "en-GB"), unknown languages
// ("c" from the C locale) giving the default voice's; within the language the
// voice type's gender and number (male2: the second male voice). Null only
// when voices is empty. defaultVoice: a display name, or "" for the first voice.
const DriverVoice* ChooseVoice(const std::vector<DriverVoice>& voices, const VoiceRequest& request,
                               const std::string& defaultVoice);

// "200-name\tlanguage\tvariant" lines of LIST VOICES, without the final line.
std::string VoiceListLines(const std::vector<DriverVoice>& voices);
