// What the simulated inputs measure, encoded as the board delivers it: one 32-bit word per used
// input and scan, the signed sample (24 or 16 bits) in the upper bytes of the word.
//
//   sample = round((value - midpoint) / halfSpan * fullScale),  fullScale = 2^23-1 (or 2^15-1)
//   word   = sample << 8   (24 bits; << 16 for 16 bits)
//
// An input with a signal of the board's scenario reads that signal: a function of the scan index.
// Others read the board's sensor as before: an RTD or thermocouple input room temperature with a
// slow sine drift and seeded noise, other modes the middle of their range with the same noise.
// While an open, short or over-range event covers a scan, the input reads full scale instead.
#pragma once

#include <stdint.h>

#include <vector>

#include "scenario.h"
#include "sensor_model.h"

namespace qsim {

// Scans [nBegin, nEnd) of an input read full scale: +1 positive (open, over-range), -1 negative (short).
struct FullScaleSpan {
    uint64_t nBegin = 0;
    uint64_t nEnd = 0;
    int32_t nSign = 1;
};

struct InputEncoding {
    bool bTemperature = false;  // reads the sensor; otherwise the middle of the range
    double dMidpoint = 0;
    double dCountsPerUnit = 0;  // fullScale / halfSpan
    int32_t nChannel = 0;       // the AI index, for the signal's noise
    const ScenarioSignal* pSignal = nullptr;  // the scenario's signal, or null for the sensor
    std::vector<FullScaleSpan> fullScale;
};

class ScanGenerator {
public:
    // The clock places the acquisition's scans in the board's world: signals are functions of the
    // world scan.
    ScanGenerator(const SensorModel& sensor, const ScenarioClock& clock, int32_t nResolution,
                  std::vector<InputEncoding> inputs);

    // Writes scans [nFirst, nFirst + nCount) of this acquisition into a contiguous run of slots.
    void fill(uint32_t* pWords, uint64_t nFirst, uint64_t nCount);
    // Scripted mode: every word of scan k holds the sample k, so a reader can tell the scans apart.
    void fillNumbered(uint32_t* pWords, uint64_t nFirst, uint64_t nCount) const;


private:
    double noise();
    uint32_t encode(const InputEncoding& input, double dValue) const;
    uint32_t fullScaleWord(int32_t nSign) const;

    SensorModel sensor_;
    ScenarioClock clock_;
    int32_t nShift_;
    int32_t nFullScale_;
    std::vector<InputEncoding> inputs_;
    uint64_t nState_;
};

}  // namespace qsim
