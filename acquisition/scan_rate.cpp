#include "scan_rate.h"

#include <stdio.h>
#include <stdlib.h>

namespace qacq {

namespace {

uint64_t gcd(uint64_t a, uint64_t b) {
    while (b != 0) {
        const uint64_t r = a % b;
        a = b;
        b = r;
    }
    return a;
}

// The exact decimal of a fraction whose denominator divides a power of ten: "333.3333333".
std::string decimalText(uint64_t nNumerator, uint64_t nDenominator) {
    std::string s = std::to_string(nNumerator / nDenominator);
    uint64_t nRest = nNumerator % nDenominator;
    if (nRest != 0) s += '.';
    for (int nDigit = 0; nRest != 0 && nDigit < 40; ++nDigit) {
        nRest *= 10;
        s += static_cast<char>('0' + nRest / nDenominator);
        nRest %= nDenominator;
    }
    return s;
}

}  // namespace

bool parseScanRate(const std::string& sText, ScanRate* pRate) {
    // Digits with at most one point, then an optional exponent: the value is nDigits * 10^nPower.
    const char* p = sText.c_str();
    uint64_t nDigits = 0;
    int nSignificant = 0;
    int nPower = 0;
    bool bAny = false, bPoint = false;
    for (; *p != '\0'; ++p) {
        if (*p == '.' && !bPoint) {
            bPoint = true;
            continue;
        }
        if (*p < '0' || *p > '9') break;
        bAny = true;
        if (nDigits == 0 && *p == '0') {
            if (bPoint) --nPower;
            continue;
        }
        if (++nSignificant > 18) return false;
        nDigits = nDigits * 10 + static_cast<uint64_t>(*p - '0');
        if (bPoint) --nPower;
    }
    if (!bAny) return false;
    if (*p == 'e' || *p == 'E') {
        char* pEnd = nullptr;
        const long nExponent = strtol(p + 1, &pEnd, 10);
        if (pEnd == p + 1 || nExponent < -40 || nExponent > 40) return false;
        nPower += static_cast<int>(nExponent);
        p = pEnd;
    }
    if (*p != '\0' || nDigits == 0) return false;
    // Trailing zeros of the digits move into the power, so that "1000" is 1000/1 however written.
    while (nDigits % 10 == 0) {
        nDigits /= 10;
        ++nPower;
    }
    uint64_t nNumerator = nDigits, nDenominator = 1;
    for (; nPower > 0; --nPower) {
        if (nNumerator > UINT64_MAX / 10) return false;
        nNumerator *= 10;
    }
    for (; nPower < 0; ++nPower) {
        if (nDenominator > UINT64_MAX / 10) return false;
        nDenominator *= 10;
    }
    const uint64_t nCommon = gcd(nNumerator, nDenominator);
    ScanRate rate;
    rate.nNumerator = nNumerator / nCommon;
    rate.nDenominator = nDenominator / nCommon;
    // Times are computed in microseconds as n * denominator * 10^6 / numerator.
    if (rate.nDenominator > 1000000000000ull || rate.value() < 1e-6 || rate.value() > 1e12) return false;
    rate.sText = decimalText(rate.nNumerator, rate.nDenominator);
    *pRate = rate;
    return true;
}

ScanRate scanRateOf(double dRate) {
    char sText[64];
    snprintf(sText, sizeof(sText), "%.15g", dRate);
    ScanRate rate;
    if (!parseScanRate(sText, &rate)) rate = ScanRate();
    return rate;
}

uint64_t mulDivFloor(uint64_t a, uint64_t b, uint64_t c) {
#ifdef __SIZEOF_INT128__
    return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b / c);
#else
    // 32-bit targets: the 128-bit product in two halves, then long division bit by bit.
    const uint64_t aLo = a & 0xffffffffu, aHi = a >> 32, bLo = b & 0xffffffffu, bHi = b >> 32;
    const uint64_t ll = aLo * bLo, lh = aLo * bHi, hl = aHi * bLo, hh = aHi * bHi;
    const uint64_t mid = (ll >> 32) + (lh & 0xffffffffu) + (hl & 0xffffffffu);
    uint64_t lo = (ll & 0xffffffffu) | (mid << 32);
    uint64_t hi = hh + (lh >> 32) + (hl >> 32) + (mid >> 32);
    uint64_t quotient = 0, remainder = 0;
    for (int bit = 127; bit >= 0; --bit) {
        const bool bTop = (remainder >> 63) != 0;
        remainder = (remainder << 1) | ((bit >= 64 ? hi >> (bit - 64) : lo >> bit) & 1u);
        quotient <<= 1;
        if (bTop || remainder >= c) {
            remainder -= c;
            quotient |= 1;
        }
    }
    return quotient;
#endif
}

}  // namespace qacq
