#include "scan_clock.h"

namespace qacq {

ScanClock::ScanClock(int64_t nStartMicros, int32_t nDelayScans, const ScanRate& rate)
    : nStartMicros_(nStartMicros), nDelayScans_(nDelayScans > 0 ? static_cast<uint64_t>(nDelayScans) : 0), rate_(rate),
      nMicrosNumerator_(rate.nDenominator * 1000000) {}

int64_t ScanClock::micros(uint64_t nScan) const {
    if (pModel_ != nullptr) return pModel_->micros(nScan);
    return nStartMicros_ + static_cast<int64_t>(mulDivFloor(nScan + nDelayScans_, nMicrosNumerator_, rate_.nNumerator));
}

}  // namespace qacq
