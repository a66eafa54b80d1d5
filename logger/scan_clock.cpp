#include "scan_clock.h"

#include <math.h>

namespace qlog {

ScanClock::ScanClock(int64_t nStartMicros, int32_t nDelayScans, double dRate)
    : nStartMicros_(nStartMicros), nDelayScans_(nDelayScans > 0 ? static_cast<uint64_t>(nDelayScans) : 0) {
    const long long nMilli = llround(dRate * 1000);
    nRateMilli_ = nMilli > 0 ? static_cast<uint64_t>(nMilli) : 1;
}

int64_t ScanClock::micros(uint64_t nScan) const {
    const uint64_t n = nScan + nDelayScans_;
    const uint64_t nWhole = n * 1000 / nRateMilli_;
    const uint64_t nRest = n * 1000 % nRateMilli_;
    return nStartMicros_ + static_cast<int64_t>(nWhole * 1000000 + nRest * 1000000 / nRateMilli_);
}

}  // namespace qlog
