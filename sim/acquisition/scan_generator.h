// What the simulated inputs measure, encoded as the board delivers it: one 32-bit word per used
// input and scan, the signed sample (24 or 16 bits) in the upper bytes of the word.
//
//   sample = round((value - midpoint) / halfSpan * fullScale),  fullScale = 2^23-1 (or 2^15-1)
//   word   = sample << 8   (24 bits; << 16 for 16 bits)
//
// An RTD or thermocouple input reads the simulated sensor: room temperature with a slow sine
// drift and seeded noise. Other modes read the middle of their range with the same noise.
#pragma once

#include <stdint.h>

#include <vector>

#include "system_description.h"

namespace qsim {

struct InputEncoding {
    bool bTemperature = false;  // reads the sensor; otherwise the middle of the range
    double dMidpoint = 0;
    double dCountsPerUnit = 0;  // fullScale / halfSpan
};

class ScanGenerator {
public:
    ScanGenerator(const SensorModel& sensor, double dSampleRate, int32_t nResolution,
                  std::vector<InputEncoding> inputs);

    // Writes scans [nFirst, nFirst + nCount) of a contiguous run of slots.
    void fill(uint32_t* pWords, uint64_t nFirst, uint64_t nCount);
    // Scripted mode: every word of scan k holds the sample k, so a reader can tell the scans apart.
    void fillNumbered(uint32_t* pWords, uint64_t nFirst, uint64_t nCount) const;


private:
    double noise();
    uint32_t encode(const InputEncoding& input, double dValue) const;

    SensorModel sensor_;
    double dSampleRate_;
    int32_t nShift_;
    int32_t nFullScale_;
    std::vector<InputEncoding> inputs_;
    uint64_t nState_;
};

}  // namespace qsim
