// When a scan was measured. The driver gives the first scans of every start to its input filters
// while they settle and never delivers them, so the first scan the logger receives was measured
// that many scan periods after the start returned:
//
//   time of scan n = start + (held-back scans + n) / rate
//
// After a restart the scan numbers resume where the time says, so one clock serves the whole run.
#pragma once

#include <stdint.h>

namespace qlog {

class ScanClock {
public:
    ScanClock() = default;
    ScanClock(int64_t nStartMicros, int32_t nDelayScans, double dRate);

    // UTC microseconds of scan nScan, exact for any run length (no floating-point drift).
    int64_t micros(uint64_t nScan) const;
    int64_t startMicros() const { return nStartMicros_; }
    uint64_t delayScans() const { return nDelayScans_; }
    double delaySeconds() const { return static_cast<double>(nDelayScans_) * 1000.0 / static_cast<double>(nRateMilli_); }

private:
    int64_t nStartMicros_ = 0;
    uint64_t nDelayScans_ = 0;
    uint64_t nRateMilli_ = 1000;  // the rate in thousandths of a scan per second
};

}  // namespace qlog
