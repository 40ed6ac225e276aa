// A child a host starts with handle inheritance on: it looks through every
// handle value it may have inherited for the bridge's section. Exit code 1
// when it can map one, 0 when it reaches no channel.
#include <windows.h>

#include <cstdint>

#include "bridge/channel.h"

namespace {
// Inherited handles keep their values: far beyond those of the test host,
// which keeps a few hundred handles open.
constexpr uintptr_t kLastHandleValue = 0x2000;
}  // namespace

int main() {
    for (uintptr_t value = 4; value <= kLastHandleValue; value += 4) {
        void* view = MapViewOfFile(reinterpret_cast<HANDLE>(value), FILE_MAP_READ, 0, 0, 0);
        if (!view) continue;
        MEMORY_BASIC_INFORMATION info;
        const bool channel = VirtualQuery(view, &info, sizeof info) && info.RegionSize >= sizeof(uint32_t) &&
                             *static_cast<const uint32_t*>(view) == bridge::kChannelMagic;
        UnmapViewOfFile(view);
        if (channel) return 1;
    }
    return 0;
}
