// The acquisition of one board, on the thread that polls it: start the board, walk the driver's ring buffer as the example
// does (in place, wrap at the end, skip the sample delay, release by count), copy each scan's
// samples into the queue and hand the driver's buffer back at once. An overflow stops and restarts
// the acquisition and leaves a gap record; a full queue drops scans, counted exactly.
//
// A driver that misbehaves never costs the file its truth: scans it did not take back are not read
// again under new numbers (the acquisition is restarted instead, with a gap), queries that keep
// failing get a restart too, and a restart the driver refuses for longer than a moment ends the run.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "board_setup.h"
#include "clock_model.h"
#include "ring_walk.h"
#include "scan_queue.h"

namespace qacq {

class Acquirer {
public:
    // Messages (a refused start, gaps, failing queries) go to the caller's sink.
    Acquirer(const BoardSetup& board, ScanQueue* pQueue, uint64_t nScanLimit, MessageSink& messages);
    Acquirer(const Acquirer&) = delete;
    Acquirer& operator=(const Acquirer&) = delete;

    // Starts the acquisition. 0, or 1 with the driver's text said when it refused.
    int start();
    // One poll of the buffer. False when the run must end: the scan limit is reached, or a restart
    // after an overflow was refused (then failed() is true).
    bool poll();
    // Records scans still being dropped, so the file says so before its end.
    void finish();
    // The run's time is up but the driver has not delivered every scan of it: the rest is a gap.
    void endUndelivered();

    // Anchors of the delivered scans against the host's clock go to this model, from the start on.
    void anchorTo(ClockModel* pModel) { pModel_ = pModel; }
    bool failed() const { return bFailed_; }
    int64_t firstScanMicros() const { return nFirstScanMicros_; }
    uint64_t nextScan() const { return nNextScan_; }
    // How long to wait between polls: often enough that the buffer never fills.
    int pollIntervalMs() const;
    // The last sample of each channel, for the status line.
    const std::vector<int32_t>& latest() const { return latest_; }

private:
    void say(const std::string& sText, int32_t nResult = 0) { messages_.say(sText, nResult); }
    void readBufferGeometry();
    void restart(GapCause cause, const std::string& sWhat);
    bool queryFailed(const char* sQuery, int32_t nResult);
    void queriesAnswerAgain();
    int32_t readRun(int32_t nWanted, int32_t nWords, const int32_t** ppLast);
    void recordDrops();
    void publishPending();
    void beginSegment(uint64_t nFirstScan, int64_t nUtcMicros, int64_t nMonotonic);

    const BoardSetup& board_;
    ScanQueue* pQueue_;
    uint64_t nScanLimit_;
    MessageSink& messages_;
    RingWalk walk_ = {0, 0, 0, 0};
    int64_t nBufferQuery32_ = 0;
    int64_t nFirstScanMicros_ = 0;
    uint64_t nNextScan_ = 0;
    uint64_t nDropped_ = 0;  // scans dropped since the last gap record
    uint64_t nPending_ = 0;  // scans written into the queue, not yet published
    uint64_t nFree_ = 0;     // contiguous room after them, as last learnt
    bool bFailed_ = false;
    bool bReported_ = false;
    // Queries failing since this time (monotonic µs; 0: they answer); the first error is said,
    // its repeats are counted and said when it is over.
    int64_t nFailingSince_ = 0;
    uint64_t nRepeats_ = 0;
    std::string sFailure_;
    std::vector<int32_t> words_;  // a scan that finds the queue full is read here and dropped
    std::vector<int32_t> latest_;
    ClockModel* pModel_ = nullptr;
};

}  // namespace qacq
