// UTF-16 texts in tests of both builds: kal_char16 is wchar_t on Windows and
// char16_t natively, so literals and strings are written through these.
#pragma once
#include <string>

#include "kal_drv.h"

#if defined(_WIN32)
#define T16(literal) L##literal
#else
#define T16(literal) u##literal
#endif

typedef std::basic_string<kal_char16> Text16;
