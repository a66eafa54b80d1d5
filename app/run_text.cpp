#include "run_text.h"

#include <stdarg.h>
#include <stdio.h>

extern "C" void FormatRunText(char* sText, size_t nSize, const char* sFormat, ...) {
    if (sText == nullptr || nSize == 0) return;
    va_list args;
    va_start(args, sFormat);
    vsnprintf(sText, nSize, sFormat, args);
    va_end(args);
}
