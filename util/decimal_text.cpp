#include "decimal_text.h"

#include <ctype.h>

extern "C" int ScanDecimal32(const char* sText, int32_t* pnValue) {
    if (sText == nullptr) return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(sText);
    while (isspace(*p)) ++p;
    bool bNegative = false;
    if (*p == '+' || *p == '-') {
        bNegative = (*p == '-');
        ++p;
    }
    if (!isdigit(*p)) return 0;
    const int64_t nLimit = bNegative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
    int64_t nMagnitude = 0;
    for (; isdigit(*p); ++p) {
        nMagnitude = nMagnitude * 10 + (*p - '0');
        if (nMagnitude > nLimit) nMagnitude = nLimit;  // saturate, keep consuming digits
    }
    *pnValue = static_cast<int32_t>(bNegative ? -nMagnitude : nMagnitude);
    return 1;
}
