// SPDX-License-Identifier: GPL-3.0-or-later
// Where the engine says why a start, a write or a stream failed: a library in a
// host's process owns neither its standard error nor a window, so by default
// nowhere; espeakengine.ini's "report" names a file (the engine's own
// protocol, beside it) or "stderr". The driver learns each failure's kind from
// the result codes and their texts (ssft_ttsErrorGetString) in any case.
#pragma once
#include <string>

// "" (nothing), "stderr", or a file path (lines are appended). Set at each
// start, before anything is reported.
void ReportTo(const std::string& destination);
// One line, "espeakengine: why", to the destination; any thread.
void Report(const std::string& why);
