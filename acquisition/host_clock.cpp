#include "host_clock.h"

#include <stdio.h>
#include <time.h>

namespace qacq {

namespace {
int64_t microsOf(clockid_t clock) {
    struct timespec now = {};
    clock_gettime(clock, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}
}  // namespace

int64_t monotonicMicros() { return microsOf(CLOCK_MONOTONIC); }
int64_t utcMicrosNow() { return microsOf(CLOCK_REALTIME); }

std::string utcText(int64_t nMicros) {
    int64_t nSecond = nMicros / 1000000;
    int64_t nRest = nMicros % 1000000;
    if (nRest < 0) {
        nRest += 1000000;
        --nSecond;
    }
    const time_t nTime = static_cast<time_t>(nSecond);
    struct tm parts = {};
    char sText[64] = "";
    if (gmtime_r(&nTime, &parts) == nullptr) return "(no time)";
    snprintf(sText, sizeof(sText), "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
             parts.tm_hour, parts.tm_min, parts.tm_sec, static_cast<int>(nRest));
    return sText;
}

}  // namespace qacq
