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

void LogEngineException(const char* line, const uint32_t* value) {
    if (value)
        LogWriteDetail(LOG_ENGINE, line, "%X: ", static_cast<unsigned>(*value));
    else
        LogWrite(LOG_ENGINE, line, "?: ");
}
