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

// "00" to "99": two digits per division halves the divisions of a number.
struct DigitPairs {
    char s[200];
    constexpr DigitPairs() : s() {
        for (int i = 0; i < 100; ++i) {
            s[2 * i] = static_cast<char>('0' + i / 10);
            s[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
constexpr DigitPairs kPairs;

// The digits of n (at least one) ending just before pEnd; returns where they begin.
char* digitsBackward(char* pEnd, uint64_t n) {
    while (n >= 100) {
        pEnd -= 2;
        memcpy(pEnd, kPairs.s + 2 * (n % 100), 2);
        n /= 100;
    }
    if (n >= 10) {
        pEnd -= 2;
        memcpy(pEnd, kPairs.s + 2 * n, 2);
    } else {
        *--pEnd = static_cast<char>('0' + n);
    }
    return pEnd;
}

// nMagnitude counts units of the last decimal: its whole part, the point and kDecimals decimals,
// straight into the output from the last digit back.
template <int kDecimals>
char* writeDigitsAndPoint(char* p, uint64_t nMagnitude) {
    constexpr uint64_t kPower = static_cast<uint64_t>(kPowersOf10[kDecimals]);
    uint64_t nWhole = nMagnitude / kPower;
    uint64_t nFraction = nMagnitude % kPower;
    int nWholeDigits = 1;
    for (uint64_t n = nWhole; n >= 10; n /= 10) ++nWholeDigits;
    char* pEnd = p + nWholeDigits + (kDecimals > 0 ? 1 + kDecimals : 0);
    char* q = pEnd;
    if (kDecimals > 0) {
        int i = kDecimals;
        for (; i >= 2; i -= 2) {
            q -= 2;
            memcpy(q, kPairs.s + 2 * (nFraction % 100), 2);
            nFraction /= 100;
        }
        if (i == 1) *--q = static_cast<char>('0' + nFraction % 10);
        *--q = '.';
    }
    digitsBackward(q, nWhole);
    return pEnd;
}

}  // namespace

char* writeUnsigned(char* p, uint64_t n) {
    char sDigits[24];
    char* pBegin = digitsBackward(sDigits + sizeof(sDigits), n);
    size_t nLength = static_cast<size_t>(sDigits + sizeof(sDigits) - pBegin);
    memcpy(p, pBegin, nLength);
    return p + nLength;
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
    // Half away from zero, then the last decimal's count as an integer.
    const int64_t nUnits = static_cast<int64_t>(dScaled < 0 ? dScaled - 0.5 : dScaled + 0.5);
    uint64_t nMagnitude = nUnits < 0 ? 0 - static_cast<uint64_t>(nUnits) : static_cast<uint64_t>(nUnits);
    if (nUnits < 0) *p++ = '-';
    // The decimals as a constant, so that the divisions by their power of ten are multiplications.
    switch (nDecimals) {
        case 0: return writeDigitsAndPoint<0>(p, nMagnitude);
        case 1: return writeDigitsAndPoint<1>(p, nMagnitude);
        case 2: return writeDigitsAndPoint<2>(p, nMagnitude);
        case 3: return writeDigitsAndPoint<3>(p, nMagnitude);
        case 4: return writeDigitsAndPoint<4>(p, nMagnitude);
        case 5: return writeDigitsAndPoint<5>(p, nMagnitude);
        case 6: return writeDigitsAndPoint<6>(p, nMagnitude);
        case 7: return writeDigitsAndPoint<7>(p, nMagnitude);
        case 8: return writeDigitsAndPoint<8>(p, nMagnitude);
        default: return writeDigitsAndPoint<9>(p, nMagnitude);
    }
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

}  // namespace qlog
