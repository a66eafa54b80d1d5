// Range, scaling and raw-sample helpers.
#include "scaling.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kivo_api.h"

namespace {

double fullScaleDivisor(int nResolution) {
    switch (nResolution) {
        case 16: return 32767.0;    // 2^15 - 1
        case 24: return 8388607.0;  // 2^23 - 1
        default: return 4294967295.0;  // 2^32 - 1
    }
}

constexpr size_t kScaleTextSize = 256;
constexpr size_t kRangeTextSize = 48;

}  // namespace

extern "C" {

int32_t CalcScaling(ScaleInfo* pScaleInfo, int nResolution, double dMin, double dMax) {
    double dSpan = dMax - dMin;
    double dHalfSpan = dSpan * 0.5;
    pScaleInfo->span = dSpan;
    pScaleInfo->halfSpan = dHalfSpan;
    pScaleInfo->offset = dHalfSpan - dMax;  // minus the midpoint
    pScaleInfo->scale = dHalfSpan / fullScaleDivisor(nResolution);
    return 0;
}

int32_t formatRawData(int32_t nRawWord, int nResolution, int nShift) {
    if (nResolution != 24 || nShift < 0) return nRawWord;
    uint32_t nBits = static_cast<uint32_t>(nRawWord);
    if (nShift == 0) {
        // A 24-bit two's-complement sample in the low bytes: copy bit 23 into bits 24..31.
        nBits = (nBits & 0x00800000u) ? (nBits | 0xFF000000u) : (nBits & 0x00FFFFFFu);
        return static_cast<int32_t>(nBits);
    }
    if (nShift >= 32) return 0;
    // Division by 2^shift rounding toward zero; in 64 bits so that negating INT32_MIN is defined.
    int64_t nWord = nRawWord;
    int64_t nSample = nWord >= 0 ? (nWord >> nShift) : -((-nWord) >> nShift);
    return static_cast<int32_t>(nSample);
}

double ScaleSample(const ScaleInfo* pScaleInfo, double dCounts) {
    return fma(dCounts, pScaleInfo->scale, -pScaleInfo->offset);
}

void formatRawBlock(int32_t* pnWords, size_t nWords, int nResolution, int nShift) {
    if (nResolution != 24 || nShift < 1 || nShift > 31) {
        for (size_t i = 0; i < nWords; ++i) pnWords[i] = formatRawData(pnWords[i], nResolution, nShift);
        return;
    }
    // Division by 2^shift rounding toward zero, as formatRawData: a negative word is raised by
    // 2^shift - 1 before the (flooring) arithmetic shift. No branch, so the loop is vectorised.
    const int32_t nBias = static_cast<int32_t>((1u << nShift) - 1);
    for (size_t i = 0; i < nWords; ++i) {
        const int32_t n = pnWords[i];
        pnWords[i] = (n + ((n >> 31) & nBias)) >> nShift;
    }
}

double DblStr2Dbl(const char* sText) {
    double dValue = 0.0;
    if (sText != nullptr && sscanf(sText, "%lf", &dValue) != 1) dValue = 0.0;
    return dValue;
}

int32_t SetScaling(ScaleInfo* pScaleInfo, const char* sChannelPath) {
    // One byte more than the driver is told, so the text stays terminated whatever it wrote.
    char sText[kScaleTextSize + 1] = {0};
    CheckError(KiVoGetParamStruct_str(sChannelPath, "scalevalue", sText, kScaleTextSize));
    pScaleInfo->scale = DblStr2Dbl(sText);
    // The buffer is not cleared in between: a failed read parses what the first one left.
    int32_t nResult = KiVoGetParamStruct_str(sChannelPath, "scaleoffset", sText, kScaleTextSize);
    CheckError(nResult);
    pScaleInfo->offset = DblStr2Dbl(sText);
    return nResult;
}

int32_t GetAdjustedRange(const char* sChannelPath, double* pdRange) {
    char sText[kRangeTextSize + 1] = {0};
    CheckError(KiVoGetParamStruct_str(sChannelPath, "Range", sText, kRangeTextSize));

    char* sCopy = strdup(sText);
    if (sCopy == nullptr) return -1;
    char* sDots = strstr(sCopy, "..");
    if (sDots != nullptr && sDots[2] != '\0') {
        *sDots = '\0';
        pdRange[0] = strtod(sCopy, nullptr);
        pdRange[1] = strtod(sDots + 2, nullptr);
    } else {
        // A single number v (or "v..") stands for the symmetric range -v..v.
        if (sDots != nullptr) *sDots = '\0';
        double dValue = strtod(sCopy, nullptr);
        pdRange[0] = -dValue;
        pdRange[1] = dValue;
    }
    free(sCopy);
    return 0;
}

}  // extern "C"
