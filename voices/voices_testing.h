// voices/'s internals, for tests only: shipped code outside voices/ never
// includes this header.
#pragma once
#include "voices/voices_internal.h"
