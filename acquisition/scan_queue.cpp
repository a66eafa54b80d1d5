#include "scan_queue.h"

#include <math.h>

#include "host_clock.h"

namespace qacq {

std::string gapReason(const GapRecord& gap) {
    const std::string sTime = utcText(gap.nRestartMicros);
    switch (gap.cause) {
        case GapCause::QueueFull: return "the logger's queue was full: the output did not keep up";
        case GapCause::Overflow: return std::string("buffer overflow; acquisition restarted at ") + sTime;
        case GapCause::ReleaseFailed:
            return std::string("the driver did not take back the scans read; acquisition restarted at ") + sTime;
        case GapCause::DriverFailing: return std::string("the driver's queries kept failing; acquisition restarted at ") + sTime;
        case GapCause::Undelivered: return "the driver delivered no more scans by the end of the duration";
    }
    return "";
}

std::string gapText(const GapRecord& gap) {
    const std::string sWhere = gap.nNextScan > gap.nLost ? "after scan " + std::to_string(gap.nNextScan - gap.nLost - 1)
                                                         : "before scan " + std::to_string(gap.nNextScan);
    return "gap: " + std::to_string(gap.nLost) + " scan" + (gap.nLost == 1 ? "" : "s") + " lost " + sWhere + " (" +
           gapReason(gap) + ")";
}

namespace {
constexpr double kQueueSeconds = 10;
constexpr uint64_t kMinimumScans = 4096;
constexpr uint64_t kMemoryCapBytes = 512ull << 20;
}  // namespace

uint64_t queueCapacityScans(double dRate, uint32_t nWordsPerScan) {
    // A ring touches every page of its memory once it has gone round: ten seconds, no more.
    double dScans = ceil(dRate * kQueueSeconds);
    uint64_t nScans = dScans < static_cast<double>(kMinimumScans) ? kMinimumScans : static_cast<uint64_t>(dScans);
    uint64_t nCapScans = kMemoryCapBytes / (static_cast<uint64_t>(nWordsPerScan) * 4);
    return nScans < nCapScans ? nScans : nCapScans;
}

ScanQueue::ScanQueue(uint64_t nCapacityScans, uint32_t nWordsPerScan)
    : nCapacity_(nCapacityScans), nWords_(nWordsPerScan), words_(new int32_t[nCapacityScans * nWordsPerScan]) {}

uint64_t ScanQueue::contiguousFree() const {
    uint64_t nFree = freeScans();
    uint64_t nToEnd = nCapacity_ - tail_.load(std::memory_order_relaxed) % nCapacity_;
    return nFree < nToEnd ? nFree : nToEnd;
}

uint64_t ScanQueue::contiguousReadable() const {
    uint64_t nReady = readable();
    uint64_t nToEnd = nCapacity_ - head_.load(std::memory_order_relaxed) % nCapacity_;
    return nReady < nToEnd ? nReady : nToEnd;
}

void ScanQueue::addGap(const GapRecord& gap) {
    std::lock_guard<std::mutex> lock(gapMutex_);
    gaps_.push_back(gap);
}

bool ScanQueue::peekGap(GapRecord* pGap) {
    std::lock_guard<std::mutex> lock(gapMutex_);
    if (gaps_.empty()) return false;
    *pGap = gaps_.front();
    return true;
}

void ScanQueue::popGap() {
    std::lock_guard<std::mutex> lock(gapMutex_);
    if (!gaps_.empty()) gaps_.pop_front();
}

uint32_t ScanQueue::fillPerMille() const {
    uint64_t nUsed = tail_.load(std::memory_order_acquire) - head_.load(std::memory_order_acquire);
    return static_cast<uint32_t>(nUsed * 1000 / nCapacity_);
}

}  // namespace qacq
