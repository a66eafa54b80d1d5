// The queue between the driver's ring buffer and whoever takes the scans: the acquisition (on the
// thread that polls the board) copies each scan's samples in and releases the driver's buffer at
// once; the reader (queno_log's writer thread, a Python loop) takes them out when it can. One
// producer, one consumer; only the two counters are shared.
//
// Losses travel beside the scans as gap records, each placed at the count of scans queued before
// it, so the reader meets them exactly where they happened.
#pragma once

#include <stdint.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

namespace qacq {

// Why scans are missing. All but QueueFull restart the acquisition; Undelivered closes a run
// whose duration passed before the driver delivered its last scans.
enum class GapCause { QueueFull, Overflow, ReleaseFailed, DriverFailing, Undelivered };

struct GapRecord {
    uint64_t nQueuedBefore = 0;  // scans queued before the gap
    uint64_t nNextScan = 0;      // the scan that follows the gap
    uint64_t nLost = 0;          // scans missing before it: nNextScan - nLost .. nNextScan - 1
    GapCause cause = GapCause::QueueFull;
    int64_t nRestartMicros = 0;  // a restart: when the acquisition was started again (UTC, µs)
};

// A gap as the CSV's gap line and SigMF's annotation say it:
// "gap: 12 scans lost after scan 345 (buffer overflow; acquisition restarted at ...)".
std::string gapText(const GapRecord& gap);
// Its reason, the part in brackets.
std::string gapReason(const GapRecord& gap);

class ScanQueue {
public:
    ScanQueue(uint64_t nCapacityScans, uint32_t nWordsPerScan);

    uint32_t wordsPerScan() const { return nWords_; }

    // Producer: room for how many scans, the next free slot, and publishing filled ones. The slots
    // from writeSlot() run contiguously for at most contiguousFree() scans.
    uint64_t freeScans() const { return nCapacity_ - (tail_.load(std::memory_order_relaxed) - head_.load(std::memory_order_acquire)); }
    uint64_t contiguousFree() const;
    int32_t* writeSlot(uint64_t nAhead = 0) {
        return &words_[((tail_.load(std::memory_order_relaxed) + nAhead) % nCapacity_) * nWords_];
    }
    void publish(uint64_t nScans) { tail_.fetch_add(nScans, std::memory_order_release); }
    void addGap(const GapRecord& gap);
    uint64_t queued() const { return tail_.load(std::memory_order_acquire); }

    // Consumer: scans ready to read contiguously from readSlot(), and handing them back.
    uint64_t readable() const { return tail_.load(std::memory_order_acquire) - head_.load(std::memory_order_relaxed); }
    uint64_t contiguousReadable() const;
    const int32_t* readSlot() const { return &words_[(head_.load(std::memory_order_relaxed) % nCapacity_) * nWords_]; }
    void consume(uint64_t nScans) { head_.fetch_add(nScans, std::memory_order_release); }
    uint64_t consumed() const { return head_.load(std::memory_order_acquire); }
    // The next gap, if any: false when none waits.
    bool peekGap(GapRecord* pGap);
    void popGap();

    // How full, in per mille, for the status line.
    uint32_t fillPerMille() const;

private:
    uint64_t nCapacity_;
    uint32_t nWords_;
    // Not value-initialised: pages are touched only when the queue first reaches them.
    std::unique_ptr<int32_t[]> words_;
    std::atomic<uint64_t> head_{0};
    std::atomic<uint64_t> tail_{0};
    std::mutex gapMutex_;
    std::deque<GapRecord> gaps_;
};

// Scans the queue holds: at least 10 s at the rate, at most what the memory cap allows.
uint64_t queueCapacityScans(double dRate, uint32_t nWordsPerScan);

}  // namespace qacq
