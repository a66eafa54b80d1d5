#include "ring_buffer.h"

#include <stddef.h>

namespace qsim {

RingBuffer::RingBuffer(uint32_t nCapacityScans, uint32_t nWordsPerScan)
    : nCapacity_(nCapacityScans), nWordsPerScan_(nWordsPerScan),
      words_(static_cast<size_t>(nCapacityScans) * nWordsPerScan, 0) {}

int64_t RingBuffer::beginAddress() const {
    return static_cast<int64_t>(reinterpret_cast<uintptr_t>(words_.data()));
}

int64_t RingBuffer::endAddress() const { return beginAddress() + sizeBytes(); }

int32_t RingBuffer::sizeBytes() const { return static_cast<int32_t>(words_.size() * sizeof(uint32_t)); }

int64_t RingBuffer::readAddress() const {
    uint64_t nSlot = released() % nCapacity_;
    return beginAddress() + static_cast<int64_t>(nSlot * nWordsPerScan_ * sizeof(uint32_t));
}

void RingBuffer::publish(uint64_t nScans) {
    uint64_t nProduced = produced_.fetch_add(nScans, std::memory_order_acq_rel) + nScans;
    uint64_t nBacklog = nProduced - released();
    uint64_t nLargest = largestBacklog_.load(std::memory_order_relaxed);
    while (nBacklog > nLargest && !largestBacklog_.compare_exchange_weak(nLargest, nBacklog)) {
    }
}

void RingBuffer::release(uint64_t nScans) { released_.fetch_add(nScans, std::memory_order_acq_rel); }

}  // namespace qsim
