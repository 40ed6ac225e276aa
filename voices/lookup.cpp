#include <cstdio>
#include <cstring>

#include "config/config.h"
#include "speech/speech.h"
#include "voices/voices.h"
#include "voices/voices_internal.h"

VoiceDescriptor* VoiceList[kCatalogueCapacity + 1];

namespace {
// The language text a filter is matched with after translation. Host threads only.
char translatedLanguage[256];
// Entries the last list filled (host threads only): a shorter list clears the rest.
int32_t listedBefore = kCatalogueCapacity;
// VoiceList holds the whole catalogue, as the last unfiltered call left it, and
// the catalogue has not changed since: an unfiltered call can answer at once.
std::atomic<bool> fullListStanding{false};

bool Equal(const char* filterText, const char* voiceText) {
    return filterText && voiceText && strcmp(filterText, voiceText) == 0;
}

bool Matches(const VoiceDescriptor& voice, const char* language, const VoiceFilter& filter) {
    return Equal(language, voice.language) || Equal(filter.name, voice.name) ||
           Equal(filter.identifier, voice.identifier);
}

// The language step and the name and identifier lines of both filter calls.
const char* PrepareFilter(VoiceFilter* filter) {
    const char* language = TranslateLanguage(filter);
    if (filter->name) LogWrite(LOG_HOST, "Name:", filter->name);
    if (filter->identifier) LogWrite(LOG_HOST, "Idnetifier:", filter->identifier);
    return language;
}

int32_t Select(int32_t chosen) {
    // The selection stops speech; texts waiting then start in the new voice.
    HandOversHeld held;
    // The export succeeds whatever the engine made of it: the voice is the
    // current one, and a failure is in the protocol.
    (void)SetVoice(Voices.records[chosen].voiceId);
    IntakeSetCodePage(Voices.records[chosen].codePage);
    return 0;
}
}  // namespace

int32_t IsDigitString(const char* text, int32_t limit) {
    if (text[0] == '\0') return 1;
    for (int32_t i = 0; i < limit; ++i) {
        if (text[i] < '0' || text[i] > '9') return 0;
        if (text[i + 1] == '\0') return 1;
    }
    return 1;
}

const char* TranslateLanguage(VoiceFilter* filter) {
    if (!filter->language) return nullptr;
    const char* language = filter->language;
    LogWrite(LOG_HOST, "Language:", language);
    if (IsDigitString(language, 256)) return language;
    // A host text that is no plain profile key is never written into the
    // profile: matched as the host gave it.
    if (!ProfileIsPlainKey(language)) return language;
    ProfileGetString(language, translatedLanguage, sizeof translatedLanguage, "0049", "L-Trans");
    // The host's buffer is known only to hold its own text: the translation
    // replaces it when it fits there, and is matched with in any case.
    if (strlen(translatedLanguage) <= strlen(language)) {
        memcpy(filter->language, translatedLanguage, strlen(translatedLanguage) + 1);
    }
    LogWrite(LOG_HOST, "L-Trans:", translatedLanguage);
    return translatedLanguage;
}

void ForgetFullVoiceList() { fullListStanding = false; }

VoiceDescriptor** VoicesListAllIfStanding() {
    if (!fullListStanding.load()) return nullptr;
    if (LogEnabled(LOG_HOST)) {
        LogWrite(LOG_HOST, "ListVoices");
        LogWrite(LOG_HOST, "Alle holen");
    }
    return VoiceList;
}

VoiceDescriptor** VoicesList(VoiceFilter* filter) {
    fullListStanding = false;
    const bool logging = LogEnabled(LOG_HOST);
    if (logging) LogWrite(LOG_HOST, "ListVoices");
    const int32_t count = Voices.catalogueCount;
    int32_t next = 0;
    if (!filter) {
        if (logging) LogWrite(LOG_HOST, "Alle holen");
        for (; next < count; ++next) VoiceList[next] = &Voices.descriptors[next];
    } else {
        const char* language = PrepareFilter(filter);
        for (int32_t i = 0; i < count; ++i)
            if (Matches(Voices.descriptors[i], language, *filter)) VoiceList[next++] = &Voices.descriptors[i];
    }
    // Every entry after the list is null, as if the whole list were cleared
    // first; only those an earlier, longer list filled need clearing.
    for (int32_t i = next; i < listedBefore; ++i) VoiceList[i] = nullptr;
    VoiceList[next] = nullptr;
    listedBefore = next;
    fullListStanding = filter == nullptr;
    return VoiceList;
}

int32_t VoicesSetByName(const char* text) {
    LogWrite(LOG_HOST, "SetVoiceByName", text);
    if (!text) return 0;  // no name, no selection
    const bool byIdentifier = IsDigitString(text, 4) != 0;
    int32_t chosen = 0;
    for (int32_t i = 0; i < Voices.catalogueCount; ++i) {
        const VoiceRecord& record = Voices.records[i];
        if (strcmp(text, byIdentifier ? record.identifier : record.name) == 0) chosen = i;
    }
    return Select(chosen);
}

int32_t VoicesSetByProperties(VoiceFilter* filter) {
    if (!filter) {  // no filter, no selection
        LogWrite(LOG_HOST, "SetVoiceByProperties");
        return 0;
    }
    LogWriteDetail(LOG_HOST, "SetVoiceByProperties", "Gender: %u, Age: %u", static_cast<unsigned>(filter->gender),
                   static_cast<unsigned>(filter->age));
    const char* language = PrepareFilter(filter);
    int32_t chosen = 0;
    for (int32_t i = 0; i < Voices.catalogueCount; ++i)
        if (Matches(Voices.descriptors[i], language, *filter)) chosen = i;
    return Select(chosen);
}

VoiceDescriptor* VoicesGetCurrent() {
    LogWrite(LOG_HOST, "GetCurrentVoice");
    int32_t index = 0;
    for (int32_t i = 0; i < Voices.catalogueCount; ++i)
        if (Voices.records[i].voiceId == CurrentVoiceId) index = i;
    VoiceDescriptor& current = Voices.descriptors[index];
    LogWriteFormat(LOG_HOST, "%d, Gender:%u Age:%u ", static_cast<int>(index),
                   static_cast<unsigned>(current.gender), static_cast<unsigned>(current.age));
    LogWrite(LOG_HOST, current.name);
    LogWrite(LOG_HOST, current.language);
    LogWrite(LOG_HOST, current.identifier);
    return &current;
}
