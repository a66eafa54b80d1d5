#include "value_text.h"

#include <math.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

namespace qlog {

namespace {

constexpr int64_t kPowersOf10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000, 1000000000};

// Exactly nDigits digits of n, zero-filled.
char* writeDigits(char* p, uint64_t n, int nDigits) {
    for (int i = nDigits - 1; i >= 0; --i) {
        p[i] = static_cast<char>('0' + n % 10);
        n /= 10;
    }
    return p + nDigits;
}

}  // namespace

char* writeUnsigned(char* p, uint64_t n) {
    char sDigits[20];
    int nLength = 0;
    do {
        sDigits[nLength++] = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    while (nLength > 0) *p++ = sDigits[--nLength];
    return p;
}

char* writeSigned(char* p, int64_t n) {
    if (n < 0) {
        *p++ = '-';
        return writeUnsigned(p, 0 - static_cast<uint64_t>(n));
    }
    return writeUnsigned(p, static_cast<uint64_t>(n));
}

char* writeFixed(char* p, double dValue, int nDecimals) {
    if (nDecimals < 0) nDecimals = 0;
    if (nDecimals > 9) nDecimals = 9;
    const double dScaled = dValue * static_cast<double>(kPowersOf10[nDecimals]);
    // Beyond what an integer holds exactly (or not a number at all): the general formatter.
    if (!(fabs(dScaled) < 9.0e15)) {
        int n = snprintf(p, kMaxNumberText, "%.*f", nDecimals, dValue);
        return p + (n > 0 && n < kMaxNumberText ? n : 0);
    }
    const int64_t nUnits = llround(dScaled);
    if (nUnits < 0) *p++ = '-';
    const uint64_t nMagnitude = nUnits < 0 ? 0 - static_cast<uint64_t>(nUnits) : static_cast<uint64_t>(nUnits);
    p = writeUnsigned(p, nMagnitude / static_cast<uint64_t>(kPowersOf10[nDecimals]));
    if (nDecimals > 0) {
        *p++ = '.';
        p = writeDigits(p, nMagnitude % static_cast<uint64_t>(kPowersOf10[nDecimals]), nDecimals);
    }
    return p;
}

char* TimeText::write(char* p, int64_t nMicros) {
    int64_t nSecond = nMicros >= 0 ? nMicros / 1000000 : -((-nMicros + 999999) / 1000000);
    if (nSecond != nSecond_) {
        time_t t = static_cast<time_t>(nSecond);
        struct tm parts = {};
        gmtime_r(&t, &parts);
        nSecondLength_ = static_cast<int>(strftime(sSecond_, sizeof(sSecond_), "%Y-%m-%dT%H:%M:%S.", &parts));
        nSecond_ = nSecond;
    }
    memcpy(p, sSecond_, static_cast<size_t>(nSecondLength_));
    p = writeDigits(p + nSecondLength_, static_cast<uint64_t>(nMicros - nSecond * 1000000), 6);
    *p++ = 'Z';
    return p;
}

void formatUtcMicros(int64_t nMicros, char* sText, int nSize) {
    char sBuffer[kMaxNumberText];
    TimeText text;
    char* pEnd = text.write(sBuffer, nMicros);
    *pEnd = '\0';
    snprintf(sText, static_cast<size_t>(nSize), "%s", sBuffer);
}

int64_t utcMicrosNow() {
    struct timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

}  // namespace qlog
