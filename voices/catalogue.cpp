#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "engine/engine.h"
#include "voices/voices.h"

VoiceCatalogue Voices;
int32_t CurrentVoiceId;

void VoiceCatalogueClear() { memset(&Voices, 0, sizeof Voices); }

void RegisterVoice(const char* name, int32_t languageNumber, int32_t voiceId, int32_t codePage) {
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
    descriptor.name = record.name;
    descriptor.language = record.languageCode;

    int32_t gender = 0;
    ProfileGetInt(name, &gender, 0, "Gender");
    const uint32_t value = static_cast<uint32_t>(gender);
    // Stored little-endian over the last four bytes; the age then replaces the second.
    descriptor.gender = static_cast<uint8_t>(value);
    descriptor.age = static_cast<uint8_t>(value >> 8);
    descriptor.genderHigh = static_cast<uint16_t>(value >> 16);
    Voices.catalogueCount = n + 1;
    descriptor.age = 32;
    descriptor.identifier = record.identifier;
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
