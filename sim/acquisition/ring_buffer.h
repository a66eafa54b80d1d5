// The acquisition's ring buffer in process memory, shared by the producer thread (which writes
// scans) and the caller (which reads them in place and releases them by count).
//
// Scan k lives at slot k mod capacity. Only the counters are shared state: the producer writes
// slots that are neither produced nor unreleased, then publishes them with a release store; the
// caller reads only scans it was told are available.
#pragma once

#include <stdint.h>

#include <atomic>
#include <vector>

namespace qsim {

class RingBuffer {
public:
    RingBuffer(uint32_t nCapacityScans, uint32_t nWordsPerScan);

    uint32_t capacityScans() const { return nCapacity_; }
    int64_t beginAddress() const;
    int64_t endAddress() const;
    int32_t sizeBytes() const;
    // The address of the oldest unreleased scan.
    int64_t readAddress() const;

    // The first word of scan k's slot, for the producer.
    uint32_t* slot(uint64_t nScan) { return &words_[(nScan % nCapacity_) * nWordsPerScan_]; }
    uint64_t produced() const { return produced_.load(std::memory_order_acquire); }
    uint64_t released() const { return released_.load(std::memory_order_acquire); }
    // Scans that may still be written without overwriting unreleased ones.
    uint64_t freeScans() const { return nCapacity_ - (produced() - released()); }
    void publish(uint64_t nScans);
    void release(uint64_t nScans);
    uint64_t available() const { return produced() - released(); }

    // Set once unreleased scans would have been overwritten; stays until the acquisition ends.
    void markOverflow() { overflow_.store(true, std::memory_order_release); }
    bool overflowed() const { return overflow_.load(std::memory_order_acquire); }
    uint64_t largestBacklog() const { return largestBacklog_.load(std::memory_order_relaxed); }

private:
    uint32_t nCapacity_;
    uint32_t nWordsPerScan_;
    std::vector<uint32_t> words_;
    std::atomic<uint64_t> produced_{0};
    std::atomic<uint64_t> released_{0};
    std::atomic<uint64_t> largestBacklog_{0};
    std::atomic<bool> overflow_{false};
};

}  // namespace qsim
