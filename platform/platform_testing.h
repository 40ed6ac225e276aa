// platform/'s seams, for tests only: shipped code outside platform/ never includes this header.
#pragma once
#include <cstdint>

// Files in folder (a path prefix) take room more bytes in all, as a full disk
// does: a write takes what fits and fails. Applies to PlatformFileReplace, and on
// Windows to every file write; room -1 lifts the limit. Only while no other
// thread writes files.
void PlatformTestingSetWriteRoom(const char* folder, int64_t room);
