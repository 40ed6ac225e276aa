// The last catch of every export and of the helper's serving loop: the
// bridge and its helper allocate (texts, answers, the calls' closures), and
// nothing they throw may end the host's process or the helper's, as nothing
// the driver throws does. The host gets the export's answer without an engine.
#pragma once

namespace bridge {
template <typename Result, typename Operation>
Result Guarded(Result fallback, Operation operation) noexcept {
    try {
        return operation();
    } catch (...) {
        return fallback;
    }
}
}  // namespace bridge
