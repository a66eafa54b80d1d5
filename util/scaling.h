/*
 * Range, scaling and raw-sample helpers.
 *
 * A raw sample becomes an engineering value as   value = sample * scale - offset
 * with the sample (a signed 32-bit integer) converted to double first.
 */
#ifndef QUENO_SCALING_H
#define QUENO_SCALING_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct ScaleInfo {
    double scale;    /* engineering units per raw count */
    double offset;   /* subtracted after multiplying: minus the midpoint of the range */
    double halfSpan; /* (max - min) / 2 */
    double span;     /* max - min */
} ScaleInfo;

/* Linear scaling of a range: full scale (2^15-1 for 16 bits, 2^23-1 for 24, else 2^32-1) maps to
 * the maximum, minus full scale to the minimum, 0 to the midpoint. Always 0. */
int32_t CalcScaling(ScaleInfo* pScaleInfo, int nResolution, double dMin, double dMax);

/* A sample, or a mean of samples, in the unit of its range: counts x scale - offset, rounded once. */
double ScaleSample(const ScaleInfo* pScaleInfo, double dCounts);

/* A raw word as a signed sample. Resolution 24 with shift 0 sign-extends the low 24 bits; with a
 * shift of 1..255 the word is divided by 2^shift, rounding toward zero (shifts of 32 and more give
 * 0). Any other resolution, and a negative shift, return the word unchanged. */
int32_t formatRawData(int32_t nRawWord, int nResolution, int nShift);
/* formatRawData on nWords words in place: the same samples, for a block of scans at a time. */
void formatRawBlock(int32_t* pnWords, size_t nWords, int nResolution, int nShift);

/* The number at the start of a text ("%lf"), 0.0 when there is none. */
double DblStr2Dbl(const char* sText);

/* Reads the driver's own scaling ("scalevalue", "scaleoffset") of a channel. Returns the result of
 * the "scaleoffset" read. */
int32_t SetScaling(ScaleInfo* pScaleInfo, const char* sChannelPath);

/* Reads the channel's "Range" ("min..max unit", or "v" for -v..v) into pdRange[0] and pdRange[1].
 * 0, or -1 when no working copy of the text could be made (pdRange untouched). */
int32_t GetAdjustedRange(const char* sChannelPath, double* pdRange);

#ifdef __cplusplus
}
#endif

#endif /* QUENO_SCALING_H */
