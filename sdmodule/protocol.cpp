#include "sdmodule/protocol.h"

#include <algorithm>
#include <cstdlib>
#include <string>

#include "sdmodule/limits.h"

namespace {
// speech-dispatcher's rate and volume run from -100 to 100, the driver's from
// 0 to 100. Rate 0 is the driver's 50, eSpeak's normal speed; volume 0 is
// speech-dispatcher's normal level and the driver's full one, which is the
// engine's normal: louder than that the driver cannot go.
int DriverRate(long value) { return static_cast<int>((std::min(100L, std::max(-100L, value)) + 100) / 2); }
int DriverVolume(long value) { return static_cast<int>(std::min(100L, std::max(0L, value + 100))); }

// A key's name as speech ("shift_a" says "shift a"), in Windows-1252, the
// voices' code page: what it cannot hold becomes '?'.
std::string KeyText(const std::string& key) {
    std::string text;
    for (unsigned long code : Utf16FromUtf8(key)) {
        if (code == '_') code = ' ';
        text += code < 0x80 || (code >= 0xA0 && code < 0x100) ? static_cast<char>(code) : '?';
    }
    return text;
}

// Sets an environment variable the engine reads at its start; true when it changed.
bool SetVariable(const char* name, const std::string& value) {
    const char* now = getenv(name);
    if (now && value == now) return false;
    setenv(name, value.c_str(), 1);
    return true;
}

bool Numeric(const std::string& value, long& number) {
    char* end = nullptr;
    number = strtol(value.c_str(), &end, 10);
    return !value.empty() && *end == '\0';
}
}  // namespace

Module::Module(FILE* in, int out, std::string configPath)
    : in_(in), output_(out), configPath_(std::move(configPath)), speaker_(api_, output_) {}

void Module::Log(int level, const std::string& text) const {
    if (level <= logLevel_) fprintf(stderr, "sd_kal: %s\n", text.c_str());
}

bool Module::ReadLine(std::string& line) {
    line.clear();
    int c;
    while ((c = fgetc(in_)) != EOF && c != '\n') line += static_cast<char>(c);
    return c != EOF || !line.empty();
}

bool Module::ReadBlock(std::vector<std::string>& lines) {
    lines.clear();
    std::string line;
    while (ReadLine(line)) {
        if (line == ".") return true;
        lines.push_back(line.compare(0, 2, "..") == 0 ? line.substr(1) : line);
    }
    return false;
}

int Module::Run() {
    std::string line;
    while (ReadLine(line)) {
        if (line == "STOP" || line == "PAUSE") {
            // Neither has a reply.
            if (ready_) speaker_.Stop(line == "PAUSE");
            continue;
        }
        output_.OpenCommand();
        if (line == "INIT") Init();
        else if (line == "AUDIO") Audio();
        else if (line == "LOGLEVEL") LogLevel();
        else if (line == "LIST VOICES") ListVoices();
        else if (line == "SET") Set();
        else if (line == "SPEAK" || line == "CHAR" || line == "KEY" || line == "SOUND_ICON") Speak(line);
        else if (line == "QUIT") {
            Shutdown();
            output_.Reply("210 OK QUIT\n");
            return 0;
        } else {
            output_.Reply("300 ERR UNKNOWN COMMAND\n");
        }
    }
    // The server went away.
    Shutdown();
    return 1;
}

void Module::Shutdown() {
    speaker_.Finish();
    // After it the driver calls the speaker's callback no more, so the module
    // may go.
    if (ready_) api_.Terminate();
    ready_ = false;
}

void Module::Init() {
    if (ready_) {
        output_.Reply("399-the module is started already\n399 ERR CANT INIT MODULE\n");
        return;
    }
    std::string error;
    if (!ReadModuleSettings(configPath_, settings_, error)) {
        output_.Reply("399-" + error + "\n399 ERR CANT INIT MODULE\n");
        return;
    }
    // The engine reads its output at its start, which is the driver's load:
    // speech goes to PulseAudio (the product's own default is a WAV file),
    // with the latency speech-dispatcher asks for by default (AUDIO may ask
    // for another): the engine's own 100 ms let a stop be heard for 50 ms more.
    setenv("KAL_ESPEAK_OUTPUT", "pulse", 1);
    setenv("PULSE_LATENCY_MSEC", std::to_string(kPulseLatencyMs).c_str(), 1);
    const std::string path = settings_.driver[0] == '/' ? settings_.driver : ProgramFolder() + settings_.driver;
    driverFolder_ = path.substr(0, path.rfind('/') + 1);
    if (!api_.Load(path, error)) {
        output_.Reply("399-" + error + "\n399 ERR CANT INIT MODULE\n");
        return;
    }
    if (api_.Initialize() == -1) {
        output_.Reply("399-the driver's engine did not start (its reason is in this module's log, "
                      "e.g. no PulseAudio server)\n399 ERR CANT INIT MODULE\n");
        return;
    }
    voices_.clear();
    if (KalVoiceDescriptor** list = api_.ListVoices(nullptr))
        for (; *list; ++list) {
            const KalVoiceDescriptor& d = **list;
            if (!d.name || !d.language || !d.identifier) continue;
            DriverVoice voice{d.name, d.language, d.identifier, d.gender, ""};
            const auto tag = settings_.languageTags.find(voice.code);
            voice.tag = tag != settings_.languageTags.end() ? tag->second : voice.code;
            voices_.push_back(voice);
        }
    if (voices_.empty()) {
        output_.Reply("399-the driver lists no voices\n399 ERR CANT INIT MODULE\n");
        return;
    }
    speaker_.Start();
    ready_ = true;
    ApplyVoice();
    if (!rate_.empty()) ApplyParameter(KAL_PARAM_RATE, rate_);
    if (!volume_.empty()) ApplyParameter(KAL_PARAM_VOLUME, volume_);
    const char* info = api_.Info();
    output_.Reply(std::string("299-") + (info ? info : "kal") + "\n299 OK LOADED SUCCESSFULLY\n");
}

void Module::Audio() {
    output_.Reply("207 OK RECEIVING AUDIO SETTINGS\n", true);
    std::vector<std::string> lines;
    ReadBlock(lines);
    std::string method, device, latency;
    for (const std::string& line : lines) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
        if (key == "audio_output_method") method = value;
        else if (key == "audio_pulse_device") device = value;
        else if (key == "audio_pulse_min_length") latency = value;
    }
    // The driver plays its own audio: handing samples back to the server
    // ("server") is refused, and the server offers the next method.
    if (method != "pulse") {
        output_.Reply("300-the driver plays its audio itself, through PulseAudio only, not '" + method +
                      "'\n300 UNKNOWN ERROR\n");
        return;
    }
    // The engine opens its stream at its start: another sink or latency than
    // it started with needs a new start.
    bool changed = false;
    long number;
    if (!latency.empty() && Numeric(latency, number) && number > 0) changed |= SetVariable("PULSE_LATENCY_MSEC", latency);
    if (!device.empty() && device != "default") changed |= SetVariable("PULSE_SINK", device);
    if (changed && ready_) {
        api_.Terminate();
        if (api_.Initialize() == -1) {
            output_.Reply("300-the driver's engine did not start again on the sink '" + device + "' with a latency of " +
                          latency + " ms\n300 UNKNOWN ERROR\n");
            return;
        }
        currentVoice_.clear();
        ApplyVoice();
        if (!rate_.empty()) ApplyParameter(KAL_PARAM_RATE, rate_);
        if (!volume_.empty()) ApplyParameter(KAL_PARAM_VOLUME, volume_);
    }
    output_.Reply("203 OK AUDIO INITIALIZED\n");
}

void Module::LogLevel() {
    output_.Reply("207 OK RECEIVING LOGLEVEL SETTINGS\n", true);
    std::vector<std::string> lines;
    ReadBlock(lines);
    long level;
    for (const std::string& line : lines)
        if (line.compare(0, 10, "log_level=") == 0 && Numeric(line.substr(10), level)) logLevel_ = static_cast<int>(level);
    output_.Reply("203 OK LOG LEVEL SET\n");
}

void Module::ListVoices() {
    if (voices_.empty()) {
        output_.Reply("300 ERR NO VOICES\n");
        return;
    }
    output_.Reply(VoiceListLines(voices_) + "200 OK VOICE LIST SENT\n");
}

void Module::Set() {
    output_.Reply("203 OK RECEIVING SETTINGS\n", true);
    std::vector<std::string> lines;
    ReadBlock(lines);
    bool voiceChanged = false;
    for (const std::string& line : lines) {
        const size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        if (value == "NULL") value.clear();
        if (key == "rate") {
            rate_ = value;
            if (ready_) ApplyParameter(KAL_PARAM_RATE, value);
        } else if (key == "volume") {
            volume_ = value;
            if (ready_) ApplyParameter(KAL_PARAM_VOLUME, value);
        } else if (key == "language") {
            voiceChanged |= request_.language != value;
            request_.language = value;
        } else if (key == "voice") {
            voiceChanged |= request_.voiceType != value;
            request_.voiceType = value;
        } else if (key == "synthesis_voice") {
            voiceChanged |= request_.synthesisVoice != value;
            request_.synthesisVoice = value;
        } else {
            // pitch, pitch_range, punctuation_mode, spelling_mode,
            // cap_let_recogn: the driver has no call for them.
            Log(4, "not applied: " + line);
        }
    }
    if (voiceChanged && ready_) ApplyVoice();
    output_.Reply("203 OK SETTINGS RECEIVED\n");
}

void Module::ApplyVoice() {
    const DriverVoice* voice = ChooseVoice(voices_, request_, settings_.defaultVoice);
    if (!voice || voice->identifier == currentVoice_) return;
    api_.SetVoiceByName(voice->identifier.c_str());
    currentVoice_ = voice->identifier;
    Log(3, "voice " + voice->name);
}

void Module::ApplyParameter(int parameter, const std::string& value) {
    long number;
    if (!Numeric(value, number)) return;
    api_.SetParameter(parameter, parameter == KAL_PARAM_RATE ? DriverRate(number) : DriverVolume(number), 0);
}

void Module::Speak(const std::string& command) {
    output_.Reply("202 OK RECEIVING MESSAGE\n", true);
    std::vector<std::string> lines;
    ReadBlock(lines);
    if (!ready_) {
        output_.Reply("301 ERROR CANT SPEAK\n");
        return;
    }
    std::string data;
    for (size_t k = 0; k < lines.size(); ++k) data += (k ? "\n" : "") + lines[k];
    ModuleMessage message;
    if (command == "SPEAK") {
        message.kind = ModuleMessage::Text;
        message.text = ParseSsml(data);
    } else if (command == "CHAR") {
        const long code = data == "space" ? ' ' : FirstCodePoint(data);
        if (ProfileNamesCharacter(driverFolder_ + "kal.ini", code)) {
            message.kind = ModuleMessage::Char;
            message.code = code;
        } else {
            // No name in the driver's profile: the engine names a lone
            // character itself, but says nothing for a lone blank.
            message.kind = ModuleMessage::Text;
            const std::u16string text = Utf16FromUtf8(data == " " ? "space" : data);
            if (!text.empty()) message.text.segments.push_back(Segment{text, {}});
        }
    } else if (command == "KEY") {
        message.kind = ModuleMessage::Key;
        message.key = KeyText(data);
    }  // SOUND_ICON: the driver has no sounds; the icon is silent
    // Marks only: begin, the marks and end at once.
    if (message.kind == ModuleMessage::Text && message.text.segments.empty()) message.kind = ModuleMessage::Silent;
    output_.Reply("200 OK SPEAKING\n");
    speaker_.Speak(std::move(message));
}
