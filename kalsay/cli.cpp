#include "kalsay/cli.h"

#include <climits>

const char* const kUsage =
    "usage: kalsay [options] [text ...]\n"
    "  Loads kal_drv.dll (the 64-bit kalsay: kal_drv64.dll) from kalsay's own folder\n"
    "  and speaks each text with the marks 1, 2, 3 ... Without texts (and without\n"
    "  --list) it reads standard input.\n"
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
    "  --help              this text\n";

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
}  // namespace

bool ParseOptions(const std::vector<std::wstring>& args, Options& options, std::string& error) {
    options = Options();
    bool textsOnly = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        if (textsOnly || arg.size() < 2 || arg.compare(0, 2, L"--") != 0) {
            options.texts.push_back(arg);
            continue;
        }
        if (arg == L"--") {
            textsOnly = true;
            continue;
        }
        auto value = [&](std::wstring& out) {
            if (i + 1 >= args.size()) {
                error = Narrow(arg) + " needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        auto number = [&](int low, int high, int& out) {
            std::wstring text;
            if (!value(text)) return false;
            if (ParseNumber(text, low, high, out)) return true;
            error = Narrow(arg) + " takes a number from " + std::to_string(low) + " to " + std::to_string(high) +
                    ", not '" + Narrow(text) + "'";
            return false;
        };
        bool ok = true;
        if (arg == L"--list") options.list = true;
        else if (arg == L"--interactive") options.interactive = true;
        else if (arg == L"--show-protocol") options.showProtocol = true;
        else if (arg == L"--help") options.help = true;
        else if (arg == L"--voice") ok = value(options.voice);
        else if (arg == L"--language") ok = value(options.language);
        else if (arg == L"--rate") ok = number(0, 100, options.rate);
        else if (arg == L"--volume") ok = number(0, 100, options.volume);
        // The driver has no upper limit: 4 and above log everything.
        else if (arg == L"--debug") ok = number(0, INT_MAX, options.debug);
        else {
            error = "unknown option " + Narrow(arg);
            ok = false;
        }
        if (!ok) return false;
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
