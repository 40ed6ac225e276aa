#include <cstdio>
#include <cstring>
#include <new>
#include <set>
#include <string>

#include "config/config.h"
#include "engine/engine.h"
#include "platform/platform.h"
#include "voices/voices.h"
#include "voices/voices_internal.h"

void ReadVoiceNames(int32_t language, int32_t voice, VoiceNames& out) {
    EngineEntryText(Engine.languages[language], out.language);
    EngineEntryText(Engine.voiceInfo[voice], out.voice);
    // Start-up and activation both build it here, so a cut name still finds its section.
    snprintf(out.section, sizeof out.section, "Nalvo %s %s", out.language, out.voice);
    // The engine's texts name a section of kal.ini: a line break or bracket in
    // them must not add sections or keys to the file.
    ProfileMakePlainKey(out.section);
}

VoiceCatalogue Voices;
int32_t CurrentVoiceId;

namespace {
// The texts the descriptors point to. A host may keep a descriptor and read it
// while another thread starts the engine again, so a text is never rewritten
// nor freed while the driver is loaded: each distinct text is kept once, and a
// descriptor changes by one pointer store. guarded by keptTextsLock.
PlatformLock keptTextsLock;
// Built in place at the first insert and destroyed only by
// VoiceCatalogueReleaseTexts: the runtime's destructors also run at an unload
// that pins the driver, which may be attached again without its constructors.
using KeptTexts = std::set<std::string>;
alignas(KeptTexts) unsigned char keptTextsStorage[sizeof(KeptTexts)];
KeptTexts* keptTexts;

const char* KeptText(const char* text) {
    PlatformLockGuard guard(keptTextsLock);
    if (!keptTexts) keptTexts = new (keptTextsStorage) KeptTexts;
    return keptTexts->insert(text).first->c_str();
}

// One store a reader on another thread sees whole, old or new.
template <typename Field>
void Publish(Field& field, Field value) {
    __atomic_store_n(&field, value, __ATOMIC_RELEASE);
}
}  // namespace

void VoiceCatalogueReleaseTexts() {
    PlatformLockGuard guard(keptTextsLock);
    if (!keptTexts) return;
    keptTexts->~KeptTexts();
    keptTexts = nullptr;
}

void VoiceCatalogueClear() {
    ForgetFullVoiceList();
    // The descriptors stay as they are: a host may still read one it kept. Each
    // is rewritten, field by field, when its voice is registered again.
    memset(Voices.records, 0, sizeof Voices.records);
    Voices.catalogueCount = 0;
}

void RegisterVoice(const char* name, int32_t languageNumber, int32_t voiceId, int32_t codePage) {
    ForgetFullVoiceList();
    const int32_t n = Voices.catalogueCount;
    // The arrays hold 200 voices; further ones are not registered.
    if (n < 0 || n >= kCatalogueCapacity) return;
    VoiceRecord& record = Voices.records[n];
    VoiceDescriptor& descriptor = Voices.descriptors[n];
    record.voiceId = voiceId;
    record.codePage = codePage;
    record.languageNumber = languageNumber;
    // A longer name is cut to 39 characters, so no text runs into the next field.
    snprintf(record.name, sizeof record.name, "%s", name);
    char code[16];
    snprintf(code, sizeof code, "%04d", static_cast<int>(languageNumber));
    snprintf(record.languageCode, sizeof record.languageCode, "%s", code);
    snprintf(record.identifier, sizeof record.identifier, "%s-%s", code, record.name);
    Publish(descriptor.name, KeptText(record.name));
    Publish(descriptor.language, KeptText(record.languageCode));

    int32_t gender = 0;
    // The name may come from the engine: only a plain one becomes a key.
    if (ProfileIsPlainKey(name)) ProfileGetInt(name, &gender, 0, "Gender");
    const uint32_t value = static_cast<uint32_t>(gender);
    // Stored little-endian over the last four bytes, with the age (always 32)
    // in place of the second.
    Publish(descriptor.gender, static_cast<uint8_t>(value));
    Publish(descriptor.age, static_cast<uint8_t>(32));
    Publish(descriptor.genderHigh, static_cast<uint16_t>(value >> 16));
    Voices.catalogueCount = n + 1;
    Publish(descriptor.identifier, KeptText(record.identifier));
}

namespace {
void RegisterLanguageVoices(int32_t language) {
    const int32_t count = RequestVoiceList(language);
    for (int32_t voice = 0; voice < count; ++voice) {
        VoiceNames names;
        ReadVoiceNames(language, voice, names);
        const char* section = names.section;
        char name[80];
        ProfileGetString("Name", name, sizeof name, section, section);
        int32_t languageNumber = 0;
        ProfileGetInt("Lang", &languageNumber, 0, section);
        int32_t codePage = 0;
        ProfileGetInt("CodePage", &codePage, 0, section);
        RegisterVoice(name, languageNumber, language * 10 + voice, codePage);
        LogWrite(LOG_ENGINE, "GoInit", section);
    }
}
}  // namespace

void RegisterEngineVoices() {
    // Each start-up registers every voice anew: start from an empty catalogue.
    VoiceCatalogueClear();
    for (int32_t language = 0; language < Engine.languageCount; ++language) RegisterLanguageVoices(language);
}
