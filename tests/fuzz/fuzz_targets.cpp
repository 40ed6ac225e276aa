#define KAL_BUILDING_DRIVER  // the exports are linked in, not imported
#include "fuzz/fuzz_targets.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "config/config.h"
#include "driver/driver.h"
#include "engine/engine.h"
#include "kal_drv.h"
#include "speech/speech.h"
#include "speech/speech_testing.h"
#include "support/driver_fixture.h"
#include "support/fake_engine.h"
#include "support/files.h"
#include "support/threaded_engine.h"
#include "voices/voices.h"

const FuzzTarget kFuzzTargets[6] = {
    {"synth", FuzzSynth},     {"synth_mark", FuzzSynthMark},     {"key", FuzzKey},
    {"profile", FuzzProfile}, {"engine_lists", FuzzEngineLists}, {"voice_filter", FuzzVoiceFilter},
};

namespace {
std::string fuzzFolder;
FakeEngine fake;
const int32_t kCodePages[] = {0, 1250, 1252, 932, 65001};

// The driver back at rest between inputs, with the fake engine speaking.
void Settle(int32_t debugLevel) {
    ResetDriverState(fuzzFolder, debugLevel);
    fake = FakeEngine();
    InstallFakeEngine(fake);
    SpeechTestingSetTimings({0, 0, 0, kShippedSpeechTimings.synchronizePollMs});
}

// The protocol at level 4 for inputs whose first byte has its top bit set: its
// lines format the texts too.
int32_t LevelFor(uint8_t byte) { return (byte & 0x80) ? 4 : 0; }

std::string Text(const uint8_t* data, size_t size) { return std::string(reinterpret_cast<const char*>(data), size); }

// Ends every text the fake engine started, as its end notification would.
void EndAll() {
    for (int i = 0; i < kQueueSlots + 1 && QueueCountPendingAndFreeTaken(); ++i) Notify(kMsgEndProcess);
    Notify(kMsgEndProcess);
}
}  // namespace

void FuzzPrepare(const std::string& folder) {
    fuzzFolder = folder;
    CopyFileTo(BuildPath(THREADED_ENGINE_FILE), folder + "nalvoapi.dll");
    Settle(0);
}

void FuzzFinish() {
    ResetDriverState(fuzzFolder, 0);
    SpeechTestingSetTimings(kShippedSpeechTimings);
}

void FuzzSynth(const uint8_t* data, size_t size) {
    if (size == 0) return;
    Settle(LevelFor(data[0]));
    IntakeSetCodePage(kCodePages[(data[0] & 0x7F) % 5]);
    std::vector<kal_char16> text;
    for (size_t i = 1; i + 1 < size; i += 2) {
        const kal_char16 unit = static_cast<kal_char16>(data[i] | data[i + 1] << 8);
        if (unit != 0) text.push_back(unit);
    }
    text.push_back(0);
    kal_Synth(text.data(), static_cast<int>(size));
    EndAll();
    kal_Synth(text.data() + text.size() / 2, -1);
    kal_Stop();
}

void FuzzSynthMark(const uint8_t* data, size_t size) {
    if (size == 0) return;
    Settle(LevelFor(data[0]));
    IntakeSetCodePage(kCodePages[(data[0] & 0x7F) % 5]);
    const std::string rest = Text(data + 1, size - 1);
    const size_t split = rest.find('\0');
    const std::string text = rest.substr(0, split);
    const std::string marker = split == std::string::npos ? "" : rest.substr(split + 1);
    kal_Synth_Mark(text.c_str(), marker.c_str(), 7);
    kal_Synth_Mark(text.c_str(), nullptr, 8);
    EndAll();
    kal_Stop();
}

void FuzzKey(const uint8_t* data, size_t size) {
    if (size == 0) return;
    Settle(LevelFor(data[0]));
    IntakeSetCodePage(kCodePages[(data[0] & 0x7F) % 5]);
    const std::string text = Text(data + 1, size - 1);
    kal_Key(text.c_str());
    int code = 0;
    memcpy(&code, data + 1, size - 1 < sizeof code ? size - 1 : sizeof code);
    kal_Char(code);
    EndAll();
    kal_Stop();
}

void FuzzProfile(const uint8_t* data, size_t size) {
    Settle(0);
    WriteFileText(fuzzFolder + "kal.ini", Text(data, size));
    int32_t value = 0;
    ProfileGetInt("DEBUG", &value, 0, "Default");
    char api[256];
    ProfileGetString("Api", api, sizeof api, "nalvoapi.dll", "Default");
    // The voice as start-up registers it, and its code page used.
    const char* section = "Nalvo Deutsch Anna";
    char name[80];
    ProfileGetString("Name", name, sizeof name, section, section);
    int32_t language = 0, codePage = 0;
    ProfileGetInt("Lang", &language, 0, section);
    ProfileGetInt("CodePage", &codePage, 0, section);
    RegisterVoice(name, language, 0, codePage);
    RegisterVoice("Petra", language, 1, codePage);
    kal_SetVoiceByName(name);  // activation: Volume, Rate, Freq, Lang, DCBon
    kal_GetCurrentVoice();
    kal_ListVoices(nullptr);
    kal_GetParameter(KAL_PARAM_RATE, 1);
    kal_SetParameter(KAL_PARAM_VOLUME, value, 0);
    const kal_char16 text[] = {'a', 0xE4, 0x65E5, 0xD800, 'b', 0};
    kal_Synth(text, 1);
    kal_Char('a');
    char language16[16] = "Deutsch";
    KalVoiceFilter filter{};
    filter.language = language16;
    kal_ListVoices(&filter);
    LifecycleInitialize();
    EndAll();
    kal_Stop();
}

namespace {
// The counts the engine reports, as the engine lists target gives them: the
// extremes and the edges of each list's capacity as they are, any other count
// modulo 24; and at most kVoicesAnInput voices to register. Nearly every raw
// input asks for more than the capacities, and the driver then reads and writes
// the profile keys of 100 languages of 80 voices (some 32,000 profile calls,
// 0.1 s under the sanitizers: about 80 inputs in 30 s); a few hundred voices
// reach the same code, the catalogue's limit of 200 included.
constexpr int32_t kVoicesAnInput = 480;

int32_t ScaledCount(int32_t raw, int32_t capacity) {
    if (raw <= 0 || raw == INT32_MAX || (raw >= capacity - 1 && raw <= capacity + 1)) return raw;
    return raw % 24;
}

// How many entries the driver takes from a count: none, or up to the capacity.
int32_t EntriesTaken(int32_t count, int32_t capacity) { return count <= 0 ? 0 : count < capacity ? count : capacity; }
}  // namespace

void FuzzEngineLists(const uint8_t* data, size_t size) {
    ResetDriverState(fuzzFolder, 0);
    SpeechTestingSetTimings({0, 0, 0, kShippedSpeechTimings.synchronizePollMs});
    int32_t counts[3] = {0, 0, 0};
    memcpy(counts, data, size < sizeof counts ? size : sizeof counts);
    const int32_t capacities[3] = {kEngineListCapacity, kLanguageListCapacity, kVoiceListCapacity};
    for (int i = 0; i < 3; ++i) counts[i] = ScaledCount(counts[i], capacities[i]);
    // Many languages keep their count; their voices are fewer then.
    const int32_t languages = EntriesTaken(counts[1], capacities[1]);
    if (languages > 0 && languages * EntriesTaken(counts[2], capacities[2]) > kVoicesAnInput)
        counts[2] = kVoicesAnInput / languages;
    std::string file(sizeof counts, '\0');
    memcpy(&file[0], counts, sizeof counts);
    if (size > sizeof counts) file += Text(data + sizeof counts, size - sizeof counts);
    WriteFileText(fuzzFolder + THREADED_ENGINE_LIST_FILE, file);
    // Up to 100 languages of 80 voices each read and write their profile keys;
    // a profile that cannot be opened keeps that cheap (the profile target
    // covers the contents).
    ProfileSetPath((fuzzFolder + "absent/kal.ini").c_str());
    if (GoInitSpeech() == Outcome::Ok) {
        kal_ListVoices(nullptr);
        kal_SetVoiceByName("Anna");
        kal_GetCurrentVoice();
        for (int32_t i = 0; i < Voices.catalogueCount; i += 7) kal_SetVoiceByName(Voices.records[i].identifier);
    }
    ShutdownEngine();
    ReleaseEngineLibrary();
}

void FuzzVoiceFilter(const uint8_t* data, size_t size) {
    if (size < 3) return;
    Settle(LevelFor(data[0]));
    WriteFileText(fuzzFolder + "kal.ini", "[L-Trans]\r\nDeutsch=0049\r\nEnglish=0044\r\nLang=\r\n");
    const char* names[] = {"Anna", "Petra", "Tom", ""};
    for (int i = 0; i < 4; ++i) RegisterVoice(names[i], i % 2 ? 44 : 49, i, 0);
    // Three texts, NUL-separated; a missing one is a null pointer in the filter.
    const std::string rest = Text(data + 3, size - 3);
    std::vector<std::string> parts;
    size_t at = 0;
    while (parts.size() < 3) {
        const size_t end = rest.find('\0', at);
        parts.push_back(rest.substr(at, end == std::string::npos ? std::string::npos : end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    std::vector<std::vector<char>> owned;  // the driver may write the language back
    for (const std::string& part : parts) owned.emplace_back(part.begin(), part.end()), owned.back().push_back('\0');
    KalVoiceFilter filter{};
    const uint8_t present = data[1];
    if (owned.size() > 0 && (present & 1)) filter.name = owned[0].data();
    if (owned.size() > 1 && (present & 2)) filter.language = owned[1].data();
    if (owned.size() > 2 && (present & 4)) filter.identifier = owned[2].data();
    filter.gender = data[2];
    filter.age = static_cast<unsigned char>(data[2] >> 1);
    KalVoiceDescriptor** list = kal_ListVoices(&filter);
    for (int i = 0; list[i]; ++i) (void)strlen(list[i]->identifier);
    if (filter.language) filter.language = owned[1].data();
    kal_SetVoiceByProperties(&filter);
    kal_GetCurrentVoice();
}
