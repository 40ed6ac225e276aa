#include <cstdio>
#include <cstring>
#include <new>

#include "config/config.h"
#include "engine/engine.h"
#include "engine/guard.h"

EngineSession Engine;

void EngineSessionReset() {
    Engine.~EngineSession();
    new (&Engine) EngineSession();
}

void EngineEntryText(const char* entry, size_t entrySize, char* out, size_t outSize) {
    CopyCut(out, outSize, entry, entrySize);
}

void ReadVoiceNames(int32_t language, int32_t voice, VoiceNames& out) {
    EngineEntryText(Engine.languages[language], out.language);
    EngineEntryText(Engine.voiceInfo[voice], out.voice);
    // Start-up and activation both build it here, so a cut name still finds its section.
    snprintf(out.section, sizeof out.section, "Nalvo %s %s", out.language, out.voice);
    // The engine's texts name a section of kal.ini: a line break or bracket in
    // them must not add sections or keys to the file.
    ProfileMakePlainKey(out.section);
}

void LogEngineException(const char* line, const uint32_t* value) {
    if (value)
        LogWriteDetail(LOG_ENGINE, line, "%X: ", static_cast<unsigned>(*value));
    else
        LogWrite(LOG_ENGINE, line, "?: ");
}
