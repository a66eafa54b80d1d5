// The writer thread: takes scans and gap records from the queue in order, averages them when asked,
// follows each input's stretches at the limit of its range, and hands rows, gaps and limit changes
// to every sink (CSV file, SigMF pair, broker). The sinks format, deliver, rotate and sync; a sink
// whose output refuses a write ends the run.
//
// Scans as they came go to the sinks in blocks straight from the queue's memory, cut only where an
// input reaches or leaves a limit, so a sink that writes counts copies each block once.
#pragma once

#include <stdint.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "acquisition_core.h"
#include "event_capture.h"
#include "sink.h"

namespace qlog {

struct WriterCounts {
    std::atomic<uint64_t> nScans{0};  // scans written (each averaged one counted)
    std::atomic<uint64_t> nGaps{0};
    std::atomic<uint64_t> nLost{0};
};

class WriterThread {
public:
    WriterThread(const BoardSetup& board, ScanQueue* pQueue, uint32_t nAverage);
    ~WriterThread();

    void addSink(std::unique_ptr<Sink> sink);
    // Begins every sink (their headers) and starts the thread. False when a sink cannot begin.
    bool start();
    // The acquisition has queued its last scan: drain, end every sink.
    void finish();

    // Alarms to follow scan by scan (before start()); null or empty for none.
    void setAlarms(AlarmTracker* pAlarms) { pAlarms_ = pAlarms != nullptr && !pAlarms->empty() ? pAlarms : nullptr; }
    // Every scan as it came, and the gaps and alarm events, to the event captures (before start()).
    void setCapture(EventCapture* pCapture) { pCapture_ = pCapture; }
    // Runs change on the writer's thread between two blocks, then has every sink begin a new file
    // at its next row: a reload, without a scan lost or written twice.
    void requestNewFile(std::function<void()> change);
    // Work for the writer's thread between blocks, with the monotonic time, and once more with -1
    // when every sink has ended (retention). It must be cheap when there is nothing to do.
    void setHousekeeping(std::function<void(int64_t)> work) { housekeeping_ = std::move(work); }

    bool failed() const { return bFailed_.load(std::memory_order_acquire); }
    const WriterCounts& counts() const { return counts_; }

private:
    void run();
    void takeScans(const int32_t* pWords, uint64_t nScans);
    void takeAveraged(const int32_t* pWords, uint64_t nScans);
    bool limitsChangeAt(const int32_t* pScan) const;
    void sayAlarms();
    void changeLimits(const int32_t* pScan);
    void countLimits();
    void emitMean();
    void takeGap(const GapRecord& gap);
    void end();
    void checkSinks();

    const BoardSetup& board_;
    ScanQueue* pQueue_;
    const uint32_t nAverage_;
    const size_t nChannels_;
    std::vector<std::unique_ptr<Sink>> sinks_;

    uint64_t nNextScan_ = 0;  // number of the next scan taken from the queue
    // Per channel: the limit its samples sit at now (0: within the range), since when, for how
    // many scans; and the run's total at a limit.
    struct Stretch {
        int nSide = 0;
        uint64_t nFrom = 0;
        uint64_t nScans = 0;
    };
    std::vector<Stretch> stretches_;
    std::vector<uint64_t> outOfRange_;
    size_t nAtLimit_ = 0;     // channels in a stretch now

    // The mean being gathered.
    std::vector<int64_t> sums_;
    std::vector<double> means_;
    std::vector<uint8_t> limited_;
    uint32_t nInMean_ = 0;
    uint64_t nMeanScan_ = 0;

    AlarmTracker* pAlarms_ = nullptr;
    EventCapture* pCapture_ = nullptr;
    std::vector<AlarmEvent> alarmEvents_;  // of the scan being taken

    std::mutex newFileMutex_;
    std::vector<std::function<void()>> newFileChanges_;
    std::atomic<bool> bNewFile_{false};
    std::function<void(int64_t)> housekeeping_;

    std::atomic<bool> bDone_{false};
    std::atomic<bool> bFailed_{false};
    WriterCounts counts_;
    std::thread thread_;
};

}  // namespace qlog
