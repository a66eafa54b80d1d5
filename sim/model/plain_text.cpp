#include "plain_text.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

namespace qsim {

std::string trimWhiteSpace(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

bool parseRangeText(const std::string& sText, RangeText* pRange) {
    // Split at ".." first: "-100..200" would otherwise read as "-100." and ".200".
    size_t nDots = sText.find("..");
    if (nDots == std::string::npos) return false;
    std::string sMin = trimWhiteSpace(sText.substr(0, nDots));
    const char* sMax = sText.c_str() + nDots + 2;
    char* pEnd = nullptr;
    double dMin = strtod(sMin.c_str(), &pEnd);
    if (sMin.empty() || *pEnd != '\0') return false;
    double dMax = strtod(sMax, &pEnd);
    if (pEnd == sMax || !isfinite(dMin) || !isfinite(dMax) || dMin >= dMax) return false;
    pRange->dMin = dMin;
    pRange->dMax = dMax;
    pRange->sUnit = trimWhiteSpace(pEnd);
    return true;
}

std::string formatRangeText(const RangeText& range) {
    char sText[160];
    snprintf(sText, sizeof(sText), "%f..%f", range.dMin, range.dMax);
    std::string s = sText;
    if (!range.sUnit.empty()) s += " " + range.sUnit;
    return s;
}

}  // namespace qsim
