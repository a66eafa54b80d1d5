// When a scan was measured. The driver gives the first scans of every start to its input filters
// while they settle and never delivers them, so the first scan the logger receives was measured
// that many scan periods after the start returned:
//
//   time of scan n = start + (held-back scans + n) / rate
//
// After a restart the scan numbers resume where the time says, so one clock serves the whole run.
// With several boards, each clock follows its board's fitted model (clock_model.h).
#pragma once

#include <stdint.h>

#include "clock_model.h"
#include "scan_rate.h"

namespace qacq {

class ScanClock {
public:
    ScanClock() = default;
    ScanClock(int64_t nStartMicros, int32_t nDelayScans, const ScanRate& rate);

    // UTC microseconds of scan nScan (rounded down to the microsecond), computed from the exact
    // rate in integers: no drift for any run length. A clock that follows a board's fitted model
    // gives the model's times instead.
    int64_t micros(uint64_t nScan) const;
    void follow(const ClockModel* pModel) { pModel_ = pModel; }
    const ClockModel* model() const { return pModel_; }
    int64_t startMicros() const { return nStartMicros_; }
    uint64_t delayScans() const { return nDelayScans_; }
    double delaySeconds() const { return static_cast<double>(nDelayScans_) / rate_.value(); }
    const ScanRate& rate() const { return rate_; }

private:
    int64_t nStartMicros_ = 0;
    uint64_t nDelayScans_ = 0;
    ScanRate rate_;
    uint64_t nMicrosNumerator_ = 1000;  // microseconds of nMicrosNumerator_ / rate numerator per scan
    const ClockModel* pModel_ = nullptr;
};

}  // namespace qacq
