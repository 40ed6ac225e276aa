// SPDX-License-Identifier: GPL-3.0-or-later
#include "espeakengine/report.h"

#include <cstdio>
#include <mutex>

namespace {
// guarded by reportLock: the destination; a line is written whole under it.
std::mutex reportLock;
std::string destination;
}  // namespace

void ReportTo(const std::string& to) {
    std::lock_guard<std::mutex> guard(reportLock);
    destination = to;
}

void Report(const std::string& why) {
    std::lock_guard<std::mutex> guard(reportLock);
    if (destination.empty()) return;
    if (destination == "stderr") {
        fprintf(stderr, "espeakengine: %s\n", why.c_str());
        return;
    }
    // Opened for each line: a report is rare, and the file may be moved away.
    if (FILE* file = fopen(destination.c_str(), "a")) {
        fprintf(file, "espeakengine: %s\n", why.c_str());
        fclose(file);
    }
}
