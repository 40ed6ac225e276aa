// kalsay: a command-line host for kal_drv.dll (and natively libkal_drv.so). It
// loads the driver at run time from its own folder, as a screen reader's speech
// layer does, speaks texts with marks and prints the driver's begin and end
// events as they arrive. What differs between the systems is in host.h.
#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "kalsay/cli.h"
#include "kalsay/host.h"
#include "kalsay/kal_api.h"
#include "kalsay/text.h"

// The 64-bit kalsay is built with the bridge's name: kal_drv64.dll.
#ifndef KALSAY_DRIVER_FILE
#define KALSAY_DRIVER_FILE "kal_drv.dll"
#endif

namespace {

// The callback prints from the engine's thread while the main thread prints
// too: every line goes out whole under this lock.
std::mutex outputLock;
const auto startTime = std::chrono::steady_clock::now();

long long Elapsed() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - startTime).count();
}

void PrintLine(const std::string& line) {
    std::lock_guard<std::mutex> guard(outputLock);
    fputs(line.c_str(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

std::string Format(const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// What the callback has seen, to say which text an end event closes.
struct EventCounts {
    int begins = 0;
    int ends = 0;
    int lastBeginMark = 0;
} counts;

int KAL_CDECL OnSynthEvent(const KalSynthEvent* event) {
    // The record is valid only until this returns: copy it first.
    const int message = event->message;
    const int mark = event->mark;
    const long long ms = Elapsed();
    std::lock_guard<std::mutex> guard(outputLock);
    std::string line;
    if (message == KAL_MSG_BEGIN) {
        ++counts.begins;
        counts.lastBeginMark = mark;
        line = Format("event begin mark=%d ms=%lld", mark, ms);
    } else if (message == KAL_MSG_END) {
        ++counts.ends;
        line = Format("event end   mark=%d ms=%lld", mark, ms);
        // The end of a text carries the mark of the next one when the driver
        // has already started it.
        if (counts.begins > 0 && mark != counts.lastBeginMark)
            line += Format("  (mark %d ended, mark %d already started)", counts.lastBeginMark, mark);
    } else {
        line = Format("event message=%d mark=%d ms=%lld", message, mark, ms);
    }
    fputs(line.c_str(), stdout);
    fputc('\n', stdout);
    fflush(stdout);
    return 0;
}

// A stopped text gets no end event.
void ForgetOpenText() {
    std::lock_guard<std::mutex> guard(outputLock);
    counts.ends = counts.begins;
}

class Session {
public:
    Session(KalApi& api) : api_(api) {}

    void ListVoices() {
        KalVoiceDescriptor** voices = api_.ListVoices(nullptr);
        std::vector<std::string> lines;
        // The list ends with a null pointer; the catalogue holds at most 200 voices.
        for (int i = 0; voices && i < 200 && voices[i]; ++i) {
            const KalVoiceDescriptor* v = voices[i];
            lines.push_back(Format("  %-24s %-8s %-30s %u", Utf8FromAnsi(v->name).c_str(),
                                   Utf8FromAnsi(v->language).c_str(), Utf8FromAnsi(v->identifier).c_str(),
                                   static_cast<unsigned>(v->gender) | (static_cast<unsigned>(v->genderHigh) << 16)));
        }
        PrintLine(Format("voices: %d", static_cast<int>(lines.size())));
        PrintLine(Format("  %-24s %-8s %-30s %s", "name", "language", "identifier", "gender"));
        for (const std::string& line : lines) PrintLine(line);
    }

    void PrintCurrentVoice() {
        const KalVoiceDescriptor* v = api_.GetCurrentVoice();
        if (!v || !v->name) {
            PrintLine("current voice: none (the engine offers no voice)");
            return;
        }
        PrintLine(Format("current voice: %s (%s)", Utf8FromAnsi(v->name).c_str(), Utf8FromAnsi(v->identifier).c_str()));
    }

    // The driver selects its first voice for a name it does not know, so the
    // name is looked up in its list first: false, with nothing selected, when
    // no voice has it as display name or identifier.
    bool SelectVoice(const std::string& nameOrIdentifier) {
        if (!OffersVoice([&](const KalVoiceDescriptor* v) {
                return Equal(v->name, nameOrIdentifier) || Equal(v->identifier, nameOrIdentifier);
            }))
            return false;
        api_.SetVoiceByName(nameOrIdentifier.c_str());
        PrintCurrentVoice();
        return true;
    }

    // A language code the list has, or a name whose translation in kal.ini's
    // [L-Trans] the list has. Anything else is refused before the driver sees
    // it: the driver would pick its default language and write the unknown
    // name into kal.ini for good.
    bool SelectLanguage(const std::string& text, const std::string& profile) {
        std::string code = text;
        const bool isCode = !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
        if (!isCode && !HostReadProfileString("L-Trans", text.c_str(), profile, code)) return false;
        if (!OffersVoice([&](const KalVoiceDescriptor* v) { return Equal(v->language, code); })) return false;
        // The driver writes its translation of the text back into the filter.
        char language[256] = {};
        text.copy(language, sizeof language - 1);
        KalVoiceFilter filter = {};
        filter.language = language;
        api_.SetVoiceByProperties(&filter);
        if (text != language)
            PrintLine(Format("language %s means %s", Utf8FromAnsi(text.c_str()).c_str(), Utf8FromAnsi(language).c_str()));
        PrintCurrentVoice();
        return true;
    }

    void SetParameter(int parameter, int value) {
        api_.SetParameter(parameter, value, 0);
        PrintLine(Format("%s: %d", parameter == KAL_PARAM_RATE ? "rate" : "volume", api_.GetParameter(parameter, 1)));
    }

    void Speak(const std::wstring& text) {
        const int mark = nextMark_++;
        PrintLine(Format("speak mark=%d: %s", mark, Utf8(text).c_str()));
        // The driver takes UTF-16 units (wchar_t on Windows, a 16-bit type natively).
        const std::basic_string<kal_char16> units(text.begin(), text.end());
        api_.Synth(units.c_str(), mark);
    }

    void Wait() {
        api_.Synchronize();  // returns once the last end event has reached OnSynthEvent
    }

    void Stop() {
        api_.Stop();
        ForgetOpenText();
        PrintLine("stopped: queue cleared");
    }

    void Pause() {
        // The driver toggles by its own state; the argument is only logged.
        api_.Pause(paused_ ? 0 : 1);
        paused_ = !paused_;
        PrintLine(paused_ ? "pause" : "resume");
    }

    // Reads standard input to its end or /quit, and resumes a pause so that
    // the final wait can end.
    void Interactive() {
        ReadCommands();
        if (paused_) Pause();
    }

private:
    static bool Equal(const char* text, const std::string& wanted) { return text && wanted == text; }

    template <typename Matches>
    bool OffersVoice(Matches matches) {
        KalVoiceDescriptor** voices = api_.ListVoices(nullptr);
        for (int i = 0; voices && i < 200 && voices[i]; ++i)
            if (matches(voices[i])) return true;
        return false;
    }

    void ReadCommands() {
        const bool echo = !HostInputIsTerminal();
        PrintLine(kInteractiveHelp);
        std::string line;
        while (ReadLine(line)) {
            if (echo) PrintLine("> " + line);
            Command command = ParseCommand(line);
            if (!command.valid) {
                PrintLine("bad or missing argument: " + line);
                continue;
            }
            switch (command.kind) {
            case CommandKind::Speak: Speak(FromInputLine(command.argument)); break;
            case CommandKind::Empty: break;
            case CommandKind::Stop: Stop(); break;
            case CommandKind::Pause: Pause(); break;
            case CommandKind::Voice:
                if (!SelectVoice(ToCodePage(FromInputLine(command.argument), kAnsiCodePage)))
                    PrintLine("no voice " + command.argument + " (/list shows the voices)");
                break;
            case CommandKind::Rate: SetParameter(KAL_PARAM_RATE, command.number); break;
            case CommandKind::Volume: SetParameter(KAL_PARAM_VOLUME, command.number); break;
            case CommandKind::List: ListVoices(); break;
            case CommandKind::Wait:
                // kal_Synchronize never returns while paused with texts waiting.
                if (paused_) {
                    PrintLine("paused: /pause resumes first");
                    break;
                }
                Wait();
                PrintLine("all spoken");
                break;
            case CommandKind::Quit: return;
            case CommandKind::Help: PrintLine(kInteractiveHelp); break;
            case CommandKind::Unknown: PrintLine("unknown command /" + command.argument + " (/help)"); break;
            }
        }
    }

    static bool ReadLine(std::string& line) {
        line.clear();
        char buffer[512];
        bool any = false;
        while (fgets(buffer, sizeof buffer, stdin)) {
            any = true;
            line += buffer;
            if (!line.empty() && line.back() == '\n') break;
        }
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        return any;
    }

    KalApi& api_;
    int nextMark_ = 1;
    bool paused_ = false;
};

// The protocol's last error line, without its tag ("" without a protocol).
std::string LastProtocolError(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string line, last;
    while (std::getline(in, line)) {
        while (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.compare(0, 6, "ERR:: ") == 0) last = line.substr(6);
    }
    return last;
}

void ShowProtocol(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        PrintLine("no kal.pro: [Default] DEBUG in kal.ini is 0 (try --debug 4)");
        return;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    PrintLine("---- kal.pro ----");
    // The protocol's CR LF line ends become the console's own.
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    if (!text.empty() && text.back() == '\n') text.pop_back();
    PrintLine(text);
    PrintLine("---- end of kal.pro ----");
}

}  // namespace

int main(int argc, char** argv) {
    HostPrepareConsole();
    Options options;
    std::string error;
    if (!ParseOptions(HostArguments(argc, argv), options, error)) {
        fprintf(stderr, "kalsay: %s\n%s", error.c_str(), Usage(KALSAY_DRIVER_FILE).c_str());
        return 2;
    }
    if (options.help) {
        fputs(Usage(KALSAY_DRIVER_FILE).c_str(), stdout);
        return 0;
    }

    const std::string folder = HostOwnFolder();
    // The driver reads its protocol level once, while it is being loaded.
    if (options.debug >= 0)
        HostWriteProfileString("Default", "DEBUG", std::to_string(options.debug).c_str(), folder + "kal.ini");

    KalApi api;
    if (!api.Load(folder + KALSAY_DRIVER_FILE, error)) {
        fprintf(stderr, "kalsay: %s\n", error.c_str());
        return 1;
    }
    // Before the first text: events arrive only once a callback is registered.
    api.SetSynthCallback(OnSynthEvent);
    const int sampleRate = api.Initialize();
    int result = 0;
    if (sampleRate == -1) {
        const std::string why = LastProtocolError(folder + "kal.pro");
        if (why.empty())
            fprintf(stderr, "kalsay: the speech engine did not start (DEBUG 1 or more in kal.ini, or --debug 1, puts the reason in kal.pro)\n");
        else
            fprintf(stderr, "kalsay: the speech engine did not start; kal.pro says: %s\n", Utf8FromAnsi(why.c_str()).c_str());
        api.Unload();
        if (options.showProtocol) ShowProtocol(folder + "kal.pro");
        return 1;
    }
    // kal_Initialize answers with the rate of kal.ini's Freq code as the last
    // voice activation read it (11000 before any): what the driver was told,
    // not what the engine necessarily speaks at.
    PrintLine(Format("kal_drv loaded from %s; kal_Initialize: %d (Hz of kal.ini's Freq, not measured)", folder.c_str(),
                     sampleRate));
    Session session(api);
    if (options.list) session.ListVoices();
    // Selecting a voice reloads rate and volume from kal.ini, so it goes first.
    // A voice or language the driver does not offer is the user's mistake:
    // nothing is spoken.
    if (!options.voice.empty() && !session.SelectVoice(ToCodePage(options.voice, kAnsiCodePage))) {
        fprintf(stderr, "kalsay: no voice %s (kalsay --list shows the voices)\n", Utf8(options.voice).c_str());
        result = 1;
    } else if (!options.language.empty() &&
               !session.SelectLanguage(ToCodePage(options.language, kAnsiCodePage), folder + "kal.ini")) {
        fprintf(stderr, "kalsay: no voice for the language %s (give a code the voice list shows, or a name [L-Trans] in kal.ini translates)\n",
                Utf8(options.language).c_str());
        result = 1;
    } else {
        if (options.rate >= 0) session.SetParameter(KAL_PARAM_RATE, options.rate);
        if (options.volume >= 0) session.SetParameter(KAL_PARAM_VOLUME, options.volume);
        for (const std::wstring& text : options.texts) session.Speak(text);
        if (!options.texts.empty() && !options.ReadsInput()) session.Wait();
        if (options.ReadsInput()) session.Interactive();
        session.Wait();
    }
    api.Terminate();
    api.Unload();
    PrintLine("kal_drv unloaded");
    if (options.showProtocol) ShowProtocol(folder + "kal.pro");
    return result;
}
