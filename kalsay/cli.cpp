#include "kalsay/cli.h"

#include <algorithm>
#include <climits>

#include <CLI.hpp>

namespace {
const char kUsageBefore[] = "usage: kalsay [options] [text ...]\n  Loads ";
const char kUsageAfter[] =
    " from kalsay's own folder and speaks each\n"
    "  text with the marks 1, 2, 3 ... Without texts (and without --list) it reads\n"
    "  standard input. A voice or language the driver does not offer is an error.\n"
    "options:\n"
    "  --list              list the voices: name, language code, identifier, gender\n"
    "  --voice NAME|ID     select a voice by display name or identifier (0049-Anna)\n"
    "  --language TEXT     select the last voice of a language (code 0049, or a text\n"
    "                      that [L-Trans] in kal.ini translates)\n"
    "  --rate N            speaking rate 0..100 (after the voice selection)\n"
    "  --volume N          volume 0..100 (after the voice selection)\n"
    "  --debug LEVEL       write [Default] DEBUG=LEVEL into kal.ini before loading\n"
    "  --show-protocol     print kal.pro after unloading the driver\n"
    "  --interactive       read lines from standard input even when texts are given\n"
    "  --help, -h          this text\n";
}  // namespace

std::string Usage(const char* driverFile) { return kUsageBefore + std::string(driverFile) + kUsageAfter; }

const char* const kInteractiveHelp =
    "Each line is queued for speaking; commands: /stop /pause /voice NAME /rate N\n"
    "/volume N /list /wait /quit /help. End of input waits, then quits.";

bool ParseNumber(const std::wstring& text, int low, int high, int& value) {
    size_t at = 0;
    bool negative = false;
    if (at < text.size() && text[at] == L'-') {
        negative = true;
        ++at;
    }
    if (at == text.size()) return false;
    long long number = 0;
    for (; at < text.size(); ++at) {
        if (text[at] < L'0' || text[at] > L'9') return false;
        number = number * 10 + (text[at] - L'0');
        if (number > INT_MAX) return false;
    }
    if (negative) number = -number;
    if (number < low || number > high) return false;
    value = static_cast<int>(number);
    return true;
}

namespace {
std::string Narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += (c < 0x80) ? static_cast<char>(c) : '?';
    return out;
}

// Each wchar_t holds one UTF-16 code unit, on every system (host.h).

// CLI11 parses 8-bit texts. Each UTF-16 code unit goes over as its own UTF-8
// style sequence, so the option names stay ASCII and every argument comes back
// unchanged, lone surrogates included (a real UTF-8 conversion would lose them).
// A leading single dash goes over in its two-byte form: CLI11 would take "-x"
// for a short option, but kalsay has none and such an argument is a text.
std::string ToParserText(const std::wstring& text) {
    std::string out;
    const bool singleDash = !text.empty() && text[0] == L'-' && text.compare(0, 2, L"--") != 0;
    for (size_t at = 0; at < text.size(); ++at) {
        const unsigned unit = static_cast<unsigned>(text[at]) & 0xFFFF;
        if (unit < 0x80 && !(at == 0 && singleDash)) {
            out += static_cast<char>(unit);
        } else if (unit < 0x800) {
            out += static_cast<char>(0xC0 | unit >> 6);
            out += static_cast<char>(0x80 | (unit & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | unit >> 12);
            out += static_cast<char>(0x80 | (unit >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (unit & 0x3F));
        }
    }
    return out;
}

std::wstring FromParserText(const std::string& text) {
    std::wstring out;
    for (size_t at = 0; at < text.size();) {
        const unsigned char lead = static_cast<unsigned char>(text[at]);
        unsigned unit = lead;
        size_t length = 1;
        if (lead >= 0xE0) {
            unit = lead & 0x0F;
            length = 3;
        } else if (lead >= 0x80) {
            unit = lead & 0x1F;
            length = 2;
        }
        for (size_t k = 1; k < length && at + k < text.size(); ++k)
            unit = unit << 6 | (static_cast<unsigned char>(text[at + k]) & 0x3F);
        out += static_cast<wchar_t>(unit);
        at += length;
    }
    return out;
}

struct NumberOption {
    const char* name;
    int low;
    int high;
    int Options::*field;
};

// The driver has no upper limit for the protocol level: 4 and above log everything.
const NumberOption kNumberOptions[] = {
    {"--rate", 0, 100, &Options::rate},
    {"--volume", 0, 100, &Options::volume},
    {"--debug", 0, INT_MAX, &Options::debug},
};
constexpr size_t kNumberOptionCount = sizeof kNumberOptions / sizeof kNumberOptions[0];
}  // namespace

bool ParseOptions(const std::vector<std::wstring>& args, Options& options, std::string& error) {
    options = Options();
    CLI::App app;
    app.set_help_flag();  // --help prints kalsay's own usage, after the parse
    app.add_flag("--list", options.list);
    app.add_flag("--interactive", options.interactive);
    app.add_flag("--show-protocol", options.showProtocol);
    app.add_flag("--help", options.help);
    CLI::Option* voice = app.add_option("--voice")->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    CLI::Option* language = app.add_option("--language")->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    CLI::Option* numbers[kNumberOptionCount];
    for (size_t i = 0; i < kNumberOptionCount; ++i)
        numbers[i] = app.add_option(kNumberOptions[i].name)->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    std::vector<std::string> texts;
    app.add_option("texts", texts);

    // CLI11 takes the arguments last first. "-h" asks for help, as with every
    // command-line tool, unless it follows "--" (then it is a text).
    const auto textsOnly = std::find(args.begin(), args.end(), L"--");
    std::vector<std::string> reversed;
    for (auto arg = args.rbegin(); arg != args.rend(); ++arg) {
        const bool help = *arg == L"-h" && arg.base() <= textsOnly;
        reversed.push_back(help ? std::string("--help") : ToParserText(*arg));
    }
    try {
        app.parse(reversed);
    } catch (const CLI::ExtrasError&) {
        for (const std::string& extra : app.remaining())
            if (extra != "--") {
                error = "unknown option " + Narrow(FromParserText(extra));
                return false;
            }
        error = "unknown option";
        return false;
    } catch (const CLI::ArgumentMismatch& mismatch) {
        // An option that needs a value came last, with nothing after it.
        const std::string last = args.empty() ? std::string() : Narrow(args.back());
        const CLI::Option* option = app.get_option_no_throw(last);
        error = option && option->get_items_expected_min() > 0 ? last + " needs a value" : mismatch.what();
        return false;
    } catch (const CLI::ParseError& other) {
        error = other.what();
        return false;
    }

    if (voice->count()) options.voice = FromParserText(voice->results().back());
    if (language->count()) options.language = FromParserText(language->results().back());
    for (const std::string& text : texts) options.texts.push_back(FromParserText(text));
    // Every value given is checked, in the order given, as the first bad one is
    // what the user hears about; the last one counts.
    size_t seen[kNumberOptionCount] = {};
    for (const CLI::Option* given : app.parse_order()) {
        for (size_t i = 0; i < kNumberOptionCount; ++i) {
            if (given != numbers[i]) continue;
            const NumberOption& number = kNumberOptions[i];
            const std::wstring text = FromParserText(given->results()[seen[i]++]);
            if (!ParseNumber(text, number.low, number.high, options.*number.field)) {
                error = std::string(number.name) + " takes a number from " + std::to_string(number.low) + " to " +
                        std::to_string(number.high) + ", not '" + Narrow(text) + "'";
                return false;
            }
        }
    }
    return true;
}

Command ParseCommand(const std::string& line) {
    Command command;
    if (line.empty()) return command;
    if (line[0] != '/') {
        command.kind = CommandKind::Speak;
        command.argument = line;
        return command;
    }
    size_t space = line.find(' ');
    std::string word = line.substr(1, space == std::string::npos ? std::string::npos : space - 1);
    std::string argument;
    if (space != std::string::npos) {
        size_t start = line.find_first_not_of(' ', space);
        size_t end = line.find_last_not_of(' ');
        if (start != std::string::npos) argument = line.substr(start, end - start + 1);
    }
    command.argument = argument;
    struct Name {
        const char* word;
        CommandKind kind;
    };
    static const Name names[] = {
        {"stop", CommandKind::Stop}, {"pause", CommandKind::Pause}, {"voice", CommandKind::Voice},
        {"rate", CommandKind::Rate}, {"volume", CommandKind::Volume}, {"list", CommandKind::List},
        {"wait", CommandKind::Wait}, {"quit", CommandKind::Quit}, {"help", CommandKind::Help},
    };
    command.kind = CommandKind::Unknown;
    for (const Name& name : names)
        if (word == name.word) command.kind = name.kind;
    switch (command.kind) {
    case CommandKind::Voice:
        command.valid = !argument.empty();
        break;
    case CommandKind::Rate:
    case CommandKind::Volume:
        command.valid = ParseNumber(std::wstring(argument.begin(), argument.end()), 0, 100, command.number);
        break;
    case CommandKind::Unknown:
        command.argument = word;
        break;
    default:
        break;
    }
    return command;
}
