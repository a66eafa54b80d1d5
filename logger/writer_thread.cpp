#include "writer_thread.h"

#include <time.h>

#include "value_text.h"

namespace qlog {

namespace {

constexpr uint64_t kSliceScans = 4096;             // at most this many scans between ticks
constexpr long kIdleNanos = 40 * 1000 * 1000;      // a tick at least this often: flushes keep within 0.25 s

}  // namespace

WriterThread::WriterThread(const BoardSetup& board, ScanQueue* pQueue, uint32_t nAverage)
    : board_(board), pQueue_(pQueue), nAverage_(nAverage < 1 ? 1 : nAverage), nChannels_(board.channels.size()),
      stretches_(board.channels.size()), outOfRange_(board.channels.size(), 0), sums_(board.channels.size(), 0),
      means_(board.channels.size(), 0.0), limited_(board.channels.size(), 0) {}

WriterThread::~WriterThread() {
    bDone_.store(true, std::memory_order_release);
    if (thread_.joinable()) thread_.join();
}

void WriterThread::addSink(std::unique_ptr<Sink> sink) { sinks_.push_back(std::move(sink)); }

bool WriterThread::start() {
    for (const auto& sink : sinks_) {
        if (!sink->begin()) {
            bFailed_.store(true, std::memory_order_release);
            return false;
        }
    }
    thread_ = std::thread(&WriterThread::run, this);  // born with the stop signals blocked, as every thread
    return true;
}

void WriterThread::finish() {
    bDone_.store(true, std::memory_order_release);
    if (thread_.joinable()) thread_.join();
}

void WriterThread::checkSinks() {
    for (const auto& sink : sinks_) {
        if (sink->failed()) bFailed_.store(true, std::memory_order_release);
    }
}

// Does any input reach or leave a limit with this scan?
bool WriterThread::limitsChangeAt(const int32_t* pScan) const {
    for (size_t c = 0; c < nChannels_; ++c) {
        if (limitSide(pScan[c], board_.nFullScale) != stretches_[c].nSide) return true;
    }
    return false;
}

// The stretches that end and begin with this scan, said to every sink before its row.
void WriterThread::changeLimits(const int32_t* pScan) {
    for (size_t c = 0; c < nChannels_; ++c) {
        Stretch& stretch = stretches_[c];
        const int nSide = limitSide(pScan[c], board_.nFullScale);
        if (nSide == stretch.nSide) continue;
        LimitChange change;
        change.nChannel = c;
        change.nOldSide = stretch.nSide;
        change.nOldFrom = stretch.nFrom;
        change.nOldScans = stretch.nScans;
        change.nNewSide = nSide;
        change.nScan = nNextScan_;
        for (const auto& sink : sinks_) sink->limit(change);
        nAtLimit_ += (nSide != 0 ? 1 : 0) - (stretch.nSide != 0 ? 1 : 0);
        stretch = Stretch{nSide, nNextScan_, 0};
    }
}

// A scan whose inputs sit where they sat before: the stretches at a limit grow by it.
void WriterThread::countLimits() {
    if (nAtLimit_ == 0) return;
    for (size_t c = 0; c < nChannels_; ++c) {
        if (stretches_[c].nSide == 0) continue;
        ++stretches_[c].nScans;
        ++outOfRange_[c];
        limited_[c] = 1;  // the mean being gathered includes it
    }
}

// Scans as they came: blocks straight from the queue, cut where a limit changes.
void WriterThread::takeScans(const int32_t* pWords, uint64_t nScans) {
    const uint32_t nWords = pQueue_->wordsPerScan();
    uint64_t nFrom = 0;
    auto handOver = [&](uint64_t nTo) {
        if (nTo == nFrom) return;
        RowBlock block;
        block.nFirstScan = nNextScan_ - (nTo - nFrom);
        block.nRows = static_cast<size_t>(nTo - nFrom);
        block.pCounts = pWords + nFrom * nWords;
        for (const auto& sink : sinks_) sink->rows(block);
        if (pCapture_ != nullptr) pCapture_->scans(block.pCounts, block.nFirstScan, block.nRows);
        counts_.nScans.fetch_add(nTo - nFrom, std::memory_order_relaxed);
        nFrom = nTo;
    };
    for (uint64_t i = 0; i < nScans; ++i) {
        const int32_t* pScan = pWords + i * nWords;
        const bool bLimits = limitsChangeAt(pScan);
        const bool bAlarms = pAlarms_ != nullptr && pAlarms_->step(pScan, nNextScan_, &alarmEvents_);
        if (bLimits || bAlarms) {
            handOver(i);
            if (bLimits) changeLimits(pScan);
            sayAlarms();
        }
        countLimits();
        ++nNextScan_;
    }
    handOver(nScans);
}

void WriterThread::sayAlarms() {
    for (const AlarmEvent& event : alarmEvents_) {
        for (const auto& sink : sinks_) sink->alarm(event);
        if (pCapture_ != nullptr) pCapture_->alarm(event);
    }
    alarmEvents_.clear();
}

void WriterThread::takeAveraged(const int32_t* pWords, uint64_t nScans) {
    const uint32_t nWords = pQueue_->wordsPerScan();
    for (uint64_t i = 0; i < nScans; ++i) {
        const int32_t* pScan = pWords + i * nWords;
        if (limitsChangeAt(pScan)) changeLimits(pScan);
        if (pAlarms_ != nullptr && pAlarms_->step(pScan, nNextScan_, &alarmEvents_)) sayAlarms();
        if (pCapture_ != nullptr) pCapture_->scans(pScan, nNextScan_, 1);
        if (nInMean_ == 0) nMeanScan_ = nNextScan_;
        for (size_t c = 0; c < nChannels_; ++c) sums_[c] += pScan[c];
        countLimits();
        ++nNextScan_;
        if (++nInMean_ >= nAverage_) emitMean();
    }
}

void WriterThread::emitMean() {
    if (nInMean_ == 0) return;
    for (size_t c = 0; c < nChannels_; ++c) {
        means_[c] = static_cast<double>(sums_[c]) / nInMean_;
        sums_[c] = 0;
    }
    RowBlock block;
    block.nFirstScan = nMeanScan_;
    block.nRows = 1;
    block.nScansPerRow = nInMean_;
    block.pMeans = means_.data();
    block.pLimited = limited_.data();
    for (const auto& sink : sinks_) sink->rows(block);
    counts_.nScans.fetch_add(nInMean_, std::memory_order_relaxed);
    nInMean_ = 0;
    limited_.assign(nChannels_, 0);
}

void WriterThread::takeGap(const GapRecord& gap) {
    emitMean();  // a mean never spans a gap
    if (pAlarms_ != nullptr) pAlarms_->gap();
    for (const auto& sink : sinks_) sink->gap(gap);
    if (pCapture_ != nullptr) pCapture_->gap(gap);
    nNextScan_ = gap.nNextScan;
    counts_.nGaps.fetch_add(1, std::memory_order_relaxed);
    counts_.nLost.fetch_add(gap.nLost, std::memory_order_relaxed);
}

void WriterThread::end() {
    emitMean();  // the last, partial mean of the run
    if (pCapture_ != nullptr) pCapture_->end();  // a capture open at the end ends with the run
    RunTotals totals;
    totals.nScans = counts_.nScans.load();
    totals.nGaps = counts_.nGaps.load();
    totals.nLost = counts_.nLost.load();
    totals.outOfRange = outOfRange_;
    if (pAlarms_ != nullptr) {
        for (size_t c = 0; c < nChannels_; ++c) {
            for (const AlarmSpec& asked : pAlarms_->specs()) {
                if (board_.channels[c].nChannel == asked.nChannel) totals.alarmEvents.emplace_back(c, pAlarms_->eventCounts()[c]);
            }
        }
    }
    for (size_t c = 0; c < nChannels_; ++c) {
        if (stretches_[c].nSide == 0) continue;
        LimitChange open;
        open.nChannel = c;
        open.nOldSide = stretches_[c].nSide;
        open.nOldFrom = stretches_[c].nFrom;
        open.nOldScans = stretches_[c].nScans;
        open.nScan = nNextScan_;
        totals.openStretches.push_back(open);
    }
    // The files are complete while a broker takes what is left.
    for (const auto& sink : sinks_) {
        const int64_t nDropped = sink->settle();
        if (nDropped >= 0) totals.nRowsDropped = (totals.nRowsDropped < 0 ? 0 : totals.nRowsDropped) + nDropped;
    }
    totals.nEndMicros = utcMicrosNow();
    for (const auto& sink : sinks_) sink->end(totals);
}

void WriterThread::requestNewFile(std::function<void()> change) {
    std::lock_guard<std::mutex> lock(newFileMutex_);
    newFileChanges_.push_back(std::move(change));
    bNewFile_.store(true, std::memory_order_release);
}

void WriterThread::run() {
    for (;;) {
        if (bNewFile_.load(std::memory_order_acquire) && bNewFile_.exchange(false, std::memory_order_acq_rel)) {
            std::vector<std::function<void()>> changes;
            {
                std::lock_guard<std::mutex> lock(newFileMutex_);
                changes.swap(newFileChanges_);
            }
            for (const auto& change : changes) change();
            for (const auto& sink : sinks_) sink->newFile();
        }
        // The end is judged before the queue is looked at: scans queued before it was set are seen.
        const bool bDone = bDone_.load(std::memory_order_acquire);
        const uint64_t nReady = pQueue_->readable();  // before the gaps: a gap is queued before scans after it
        GapRecord gap;
        const bool bGap = pQueue_->peekGap(&gap);
        if (failed()) break;
        if (bGap && gap.nQueuedBefore <= pQueue_->consumed()) {
            takeGap(gap);
            pQueue_->popGap();
            continue;
        }
        uint64_t nTake = pQueue_->contiguousReadable();
        if (nTake > nReady) nTake = nReady;
        if (bGap && nTake > gap.nQueuedBefore - pQueue_->consumed()) nTake = gap.nQueuedBefore - pQueue_->consumed();
        // In slices, so that flushes keep their pace at any rate.
        if (nTake > kSliceScans) nTake = kSliceScans;
        if (nTake > 0) {
            if (nAverage_ > 1) {
                takeAveraged(pQueue_->readSlot(), nTake);
            } else {
                takeScans(pQueue_->readSlot(), nTake);
            }
            pQueue_->consume(nTake);
        } else if (bDone && !bGap) {
            break;
        } else {
            struct timespec idle = {0, kIdleNanos};
            nanosleep(&idle, nullptr);
        }
        const int64_t nNow = monotonicMicros();
        for (const auto& sink : sinks_) sink->tick(nNow);
        if (housekeeping_) housekeeping_(nNow);
        checkSinks();
    }
    end();  // a sink that failed ends as it can: the others end as usual
    if (housekeeping_) housekeeping_(-1);
}

}  // namespace qlog
