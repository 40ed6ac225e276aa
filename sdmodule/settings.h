// kal.conf, the module's configuration (speech-dispatcher's module file
// syntax: a name, then values, quoted where they hold blanks; '#' starts a
// comment), and the one look-up the module makes in the driver's kal.ini.
#pragma once
#include <map>
#include <string>

struct ModuleSettings {
    std::string driver = "libkal_drv.so";  // relative: to the module's folder
    std::string defaultVoice;              // "" : the driver's first voice
    std::map<std::string, std::string> languageTags;
};

// Reads path over the defaults (a missing file leaves them); false with error
// set for a line it cannot take.
// Unknown names are left alone (speech-dispatcher's common ones among them).
bool ReadModuleSettings(const std::string& path, ModuleSettings& settings, std::string& error);

// The folder of this program, with a trailing '/' (the product folder, where
// libkal_drv.so lies; followed through links).
std::string ProgramFolder();

// Whether the profile at iniPath names the character code in its "CharName"
// section with a name of its own (the driver fills a missing key with the
// four hex digits, which are no name).
bool ProfileNamesCharacter(const std::string& iniPath, long code);
