// Voices and settings: the voice catalogue, lookup and selection, activation
// with the pronunciation dictionary, speech parameters and punctuation list.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "config/outcome.h"
#include "kal_drv.h"

// --- Catalogue ---------------------------------------------------------------------------
struct VoiceRecord {
    int32_t voiceId;
    int32_t languageNumber;
    int32_t codePage;
    char languageCode[40];
    char name[40];
    char identifier[60];
};
static_assert(sizeof(VoiceRecord) == 152, "VoiceRecord is 152 bytes");

typedef KalVoiceDescriptor VoiceDescriptor;
typedef KalVoiceFilter VoiceFilter;

constexpr int kCatalogueCapacity = 200;

// Written by the start-up (process attach, kal_Initialize); read by the host's
// calls. The records are the driver's own; the descriptors are the host's to
// keep: their texts are never rewritten or freed (a restart stores pointers to
// the new texts), so a host reading one meanwhile sees old or new values, whole.
struct VoiceCatalogue {
    VoiceRecord records[kCatalogueCapacity];
    VoiceDescriptor descriptors[kCatalogueCapacity];
    int32_t catalogueCount;
};
// Owner: voices/ (catalogue.cpp writes it); driver/exports.cpp reads it.
extern VoiceCatalogue Voices;

// Appends one voice; a voice beyond the capacity is not registered.
void RegisterVoice(const char* name, int32_t languageNumber, int32_t voiceId, int32_t codePage);
// Empties the catalogue before a repeated start-up registers the voices again.
void VoiceCatalogueClear();
// Frees the texts the descriptors point to: only at an unload that leaves no
// thread in the driver, after which nothing reads a descriptor.
void VoiceCatalogueReleaseTexts();
// The voices' part of a start-up: every voice of every language the engine
// offers, named and described by the profile, into an emptied catalogue.
void RegisterEngineVoices();

// --- Lookup and selection -------------------------------------------------------------------
// Null-terminated: one more entry than the catalogue holds, so a full list still ends.
// Owner: voices/ (lookup.cpp writes it); driver/exports.cpp hands it to the host.
extern VoiceDescriptor* VoiceList[kCatalogueCapacity + 1];
int32_t IsDigitString(const char* text, int32_t limit);
// Translates a filter's language text through "L-Trans"; returns the text to match
// (null when the filter names no language).
const char* TranslateLanguage(VoiceFilter* filter);
VoiceDescriptor** VoicesList(VoiceFilter* filter);
// The unfiltered list when the last call left it whole and the catalogue has not
// changed since (no lock needed: nothing is written); null otherwise.
VoiceDescriptor** VoicesListAllIfStanding();
// The catalogue changes: the next unfiltered call fills the list anew.
void ForgetFullVoiceList();
int32_t VoicesSetByName(const char* text);
int32_t VoicesSetByProperties(VoiceFilter* filter);
VoiceDescriptor* VoicesGetCurrent();

// --- Activation ---------------------------------------------------------------------------------
// Ok, NotInitialised or VoiceUnknown; the engine's rejections of the voice and
// its dictionary are in the protocol only (the host asked for the voice).
Outcome SetVoice(int32_t voiceId);
Outcome LoadVoiceDictionary(const char* section, int32_t dictionaryNumber);

// --- Parameters ----------------------------------------------------------------------------------
void SetRate(int32_t value);
void SetVolume(int32_t value);
int32_t ParamSet(int32_t parameter, int32_t value, int32_t relative);
int32_t ParamGet(int32_t parameter, int32_t current);
int32_t ParamSetPunctuation(const kal_char16* list);
