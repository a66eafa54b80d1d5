#include "messages.h"

#include <stdarg.h>
#include <stdio.h>

#include "kivo_api.h"

namespace qacq {

std::string driverText(int32_t nResult) {
    const char* sText = KiVoErrorConstantToString != nullptr ? KiVoErrorConstantToString(nResult) : nullptr;
    return sText != nullptr && sText[0] != '\0' ? sText : "driver result " + std::to_string(nResult);
}

std::string textf(const char* sFormat, ...) {
    char sSmall[256];
    va_list args;
    va_start(args, sFormat);
    int nLength = vsnprintf(sSmall, sizeof(sSmall), sFormat, args);
    va_end(args);
    if (nLength < 0) return "";
    if (static_cast<size_t>(nLength) < sizeof(sSmall)) return sSmall;
    std::string s(static_cast<size_t>(nLength), '\0');
    va_start(args, sFormat);
    vsnprintf(&s[0], s.size() + 1, sFormat, args);
    va_end(args);
    return s;
}

int32_t reportDriver(MessageSink& messages, const std::string& sStep, int32_t nResult) {
    if (nResult == 0) return 0;
    messages.say(sStep + ": " + driverText(nResult), nResult);
    return nResult;
}

}  // namespace qacq
