#include "engine/contract.h"

const char* const kEngineEntryNames[kEngineApiSlots] = {
#define ENGINE_ENTRY_NAME(name, field, type) #name,
    ENGINE_ENTRY_POINTS(ENGINE_ENTRY_NAME)
#undef ENGINE_ENTRY_NAME
};
