#include <cstring>
#include <new>

#include "engine/engine.h"

EngineSession Engine;

void EngineSessionReset() {
    Engine.~EngineSession();
    new (&Engine) EngineSession();
}

void EngineEntryText(const char* entry, size_t entrySize, char* out, size_t outSize) {
    if (outSize == 0) return;
    size_t n = strnlen(entry, entrySize);
    if (n > outSize - 1) n = outSize - 1;
    memcpy(out, entry, n);
    out[n] = '\0';
}
