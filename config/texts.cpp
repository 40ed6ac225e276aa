#include <cstring>

#include "config/config.h"

size_t CopyCut(char* out, size_t outSize, const char* text, size_t textLimit) {
    if (outSize == 0) return 0;
    size_t n = strnlen(text, textLimit < outSize - 1 ? textLimit : outSize - 1);
    memcpy(out, text, n);
    out[n] = '\0';
    return n;
}
