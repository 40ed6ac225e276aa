// Shared by the kit tests: where the installed kit lives (the release layout,
// with the simulated engine in test-engine/), and a fresh folder laid out like a
// host's program folder (driver, engine, kalsay side by side).
#pragma once
#include <string>

#include "support/files.h"

inline std::string KitPath(const std::string& relative) { return BuildPath("kit-install/" + relative); }

inline std::string KitFolder(const std::string& name) {
    std::string folder = FreshFolder(name);
    for (const char* file : {"bin/x86/kal_drv.dll", "test-engine/nalvoapi.dll", "test-engine/simengine.ini", "bin/x86/kalsay.exe"}) {
        const std::string path = file;
        CopyFileTo(KitPath(path), folder + path.substr(path.rfind('/') + 1));
    }
    return folder;
}
