// kalsay's command line (parsed with CLI11) and its interactive commands: pure
// parsing, no driver.
#pragma once
#include <string>
#include <vector>

struct Options {
    bool list = false;
    bool interactive = false;
    bool showProtocol = false;
    bool help = false;
    std::wstring voice;     // --voice NAME|IDENTIFIER
    std::wstring language;  // --language TEXT
    int rate = -1;          // --rate N, -1: leave as is
    int volume = -1;        // --volume N, -1: leave as is
    int debug = -1;         // --debug LEVEL, -1: leave kal.ini alone
    std::vector<std::wstring> texts;

    // No texts (and nothing else to do but list) means reading standard input.
    bool ReadsInput() const { return interactive || (texts.empty() && !list); }
};

// args without the program name. False with error set on bad usage.
bool ParseOptions(const std::vector<std::wstring>& args, Options& options, std::string& error);

// A whole decimal number within [low, high]; no sign but a leading minus.
bool ParseNumber(const std::wstring& text, int low, int high, int& value);

enum class CommandKind { Speak, Empty, Stop, Pause, Voice, Rate, Volume, List, Wait, Quit, Help, Unknown };

struct Command {
    CommandKind kind = CommandKind::Empty;
    std::string argument;  // Speak: the text; Voice: the name; Rate/Volume: the number text
    int number = 0;        // Rate/Volume, when the argument is a valid number
    bool valid = true;     // false: the command's argument is missing or bad
};

// One line of standard input, without its line end.
Command ParseCommand(const std::string& line);

// The usage text, naming the driver file this kalsay loads.
std::string Usage(const char* driverFile);
extern const char* const kInteractiveHelp;
