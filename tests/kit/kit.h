// Shared by the kit tests: where the installed kit lives (the release layout,
// with the simulated engine in bin/x86), and a fresh folder laid out like a
// host's program folder (driver, engine, kalsay side by side).
#pragma once
#include <string>

#include "support/files.h"

inline std::string KitPath(const std::string& relative) { return BuildPath("kit-install/" + relative); }

inline std::string KitFolder(const std::string& name) {
    std::string folder = FreshFolder(name);
    for (const char* file : {"kal_drv.dll", "nalvoapi.dll", "simengine.ini", "kalsay.exe"})
        CopyFileTo(KitPath(std::string("bin/x86/") + file), folder + file);
    return folder;
}
