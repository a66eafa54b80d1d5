#include "scan_generator.h"

#include <math.h>

namespace qsim {

ScanGenerator::ScanGenerator(const SensorModel& sensor, const ScenarioClock& clock, int32_t nResolution,
                             std::vector<InputEncoding> inputs)
    : sensor_(sensor),
      clock_(clock),
      nShift_(nResolution == 16 ? 16 : 8),
      nFullScale_(nResolution == 16 ? 32767 : 8388607),
      inputs_(std::move(inputs)),
      nState_(0x9E3779B97F4A7C15ull ^ sensor.nSeed) {}

// Roughly normal noise with standard deviation 1: the sum of four uniform numbers, the four 16-bit
// quarters of one step of a xorshift generator; cheap enough for millions of values a second.
double ScanGenerator::noise() {
    nState_ ^= nState_ << 13;
    nState_ ^= nState_ >> 7;
    nState_ ^= nState_ << 17;
    const uint64_t n = nState_;
    const double dSum = static_cast<double>((n & 0xFFFF) + ((n >> 16) & 0xFFFF) + ((n >> 32) & 0xFFFF) + (n >> 48));
    // Each quarter has mean 32767.5 and variance (65536^2 - 1) / 12.
    return (dSum - 131070.0) * (1.7320508075688772 / 65536.0);
}

uint32_t ScanGenerator::encode(const InputEncoding& input, double dValue) const {
    double dCounts = (dValue - input.dMidpoint) * input.dCountsPerUnit;
    if (!(dCounts <= nFullScale_)) dCounts = nFullScale_;  // NaN reads as full scale, as an open input would
    if (dCounts < -nFullScale_) dCounts = -nFullScale_;
    // Within full scale now: rounding half away from zero is a plain conversion, no library call.
    const int32_t nCounts = static_cast<int32_t>(dCounts < 0 ? dCounts - 0.5 : dCounts + 0.5);
    return static_cast<uint32_t>(nCounts) << nShift_;
}

uint32_t ScanGenerator::fullScaleWord(int32_t nSign) const {
    return static_cast<uint32_t>(nSign > 0 ? nFullScale_ : -nFullScale_) << nShift_;
}

void ScanGenerator::fill(uint32_t* pWords, uint64_t nFirst, uint64_t nCount) {
    const size_t nWords = inputs_.size();
    // The drift is so slow that one value per call serves every scan of it.
    const double dSeconds = clock_.seconds(clock_.nOffset + nFirst, false);
    const double dTemperature =
        sensor_.dTemperature + sensor_.dDrift * sin(2.0 * M_PI * dSeconds / sensor_.dDriftPeriod);
    for (uint64_t k = 0; k < nCount; ++k) {
        const uint64_t nScan = nFirst + k;
        for (size_t w = 0; w < nWords; ++w) {
            const InputEncoding& input = inputs_[w];
            uint32_t& nWord = pWords[k * nWords + w];
            if (input.pSignal != nullptr) {
                nWord = encode(input, signalValue(*input.pSignal, clock_, clock_.nOffset + nScan, input.nChannel));
            } else {
                double dNoise = sensor_.dNoise * noise();
                nWord = encode(input, input.bTemperature ? dTemperature + dNoise : input.dMidpoint + dNoise);
            }
            for (const FullScaleSpan& span : input.fullScale) {
                if (nScan >= span.nBegin && nScan < span.nEnd) nWord = fullScaleWord(span.nSign);
            }
        }
    }
}

void ScanGenerator::fillNumbered(uint32_t* pWords, uint64_t nFirst, uint64_t nCount) const {
    const size_t nWords = inputs_.size();
    for (uint64_t k = 0; k < nCount; ++k) {
        uint32_t nWord = static_cast<uint32_t>((nFirst + k) & 0x7FFFFF) << 8;
        for (size_t w = 0; w < nWords; ++w) pWords[k * nWords + w] = nWord;
    }
}

}  // namespace qsim
