#include "driver_report.h"

#include <stdarg.h>
#include <stdio.h>

#include <atomic>

#include "kivo_api.h"
#include "status_line.h"

namespace qlog {

namespace {
std::atomic<LineHandler> lineHandler{nullptr};
}  // namespace

std::string driverText(int32_t nResult) {
    const char* sText = KiVoErrorConstantToString(nResult);
    return sText != nullptr && sText[0] != '\0' ? sText : "driver result " + std::to_string(nResult);
}

void setLineHandler(LineHandler handler) { lineHandler.store(handler); }

void sayLine(const std::string& sText, int32_t nResult) {
    if (LineHandler handler = lineHandler.load()) {
        handler(sText, nResult);
        return;
    }
    clearStatusLine();
    fprintf(stderr, "queno_log: %s\n", sText.c_str());
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

int32_t reportDriver(const std::string& sStep, int32_t nResult) {
    if (nResult == 0) return 0;
    sayLine(sStep + ": " + driverText(nResult), nResult);
    return nResult;
}

}  // namespace qlog
