#include "support/sim_ini.h"

namespace {
// "[Section]", "Count=n" and "Name<i>=..." for a list of names.
std::string NamedList(const std::string& section, const std::vector<std::string>& names) {
    std::string text = "[" + section + "]\r\nCount=" + std::to_string(names.size()) + "\r\n";
    for (size_t i = 0; i < names.size(); ++i) text += "Name" + std::to_string(i) + "=" + names[i] + "\r\n";
    return text;
}
}  // namespace

std::vector<std::string> SimNames(const std::string& prefix, int count) {
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) names.push_back(prefix + std::to_string(i));
    return names;
}

std::string SimEngineIni(const std::vector<SimLanguage>& languages, const std::string& script,
                         const std::vector<std::string>& engines) {
    std::vector<std::string> names;
    for (const SimLanguage& language : languages) names.push_back(language.name);
    std::string ini = NamedList("Engines", engines) + NamedList("Languages", names);
    for (const SimLanguage& language : languages) ini += NamedList("Voices." + language.name, language.voices);
    if (!script.empty()) ini += "[Script]\r\n" + script;
    return ini;
}
