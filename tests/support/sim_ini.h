// The simulated engine's simengine.ini as the tests describe an engine: its
// engines, languages and voices, and the [Script] lines that steer it.
#pragma once
#include <string>
#include <vector>

struct SimLanguage {
    std::string name;
    std::vector<std::string> voices;
};

// prefix0, prefix1, ... prefix<count-1>.
std::vector<std::string> SimNames(const std::string& prefix, int count);

// The [Engines], [Languages] and [Voices.<language>] sections, then a [Script]
// section holding the given lines (CR LF ended) unless they are "".
std::string SimEngineIni(const std::vector<SimLanguage>& languages, const std::string& script = "",
                         const std::vector<std::string>& engines = {"SimEngine"});
