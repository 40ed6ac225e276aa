// The driver's twenty exports, bound at run time the way a screen reader's
// speech layer binds them: the library loaded from a folder, each export by name.
#pragma once
#include <string>

#include "kal_exports.h"

struct KalApi {
    // One pointer per row of KAL_EXPORTS: Initialize, ..., SynthMark (kal_Synth_Mark), ...
#define KAL_API_POINTER(name, function, result, parameters) decltype(&function) name = nullptr;
    KAL_EXPORTS(KAL_API_POINTER)
#undef KAL_API_POINTER

    // Loads the DLL at path and binds every export; on failure nothing stays
    // loaded and error says why.
    bool Load(const std::string& path, std::string& error);
    // Frees the library: the driver shuts its engine down in its process detach.
    void Unload();
    bool loaded() const { return module_ != nullptr; }

private:
    void* module_ = nullptr;
};
