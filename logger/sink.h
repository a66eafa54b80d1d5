// Where the rows of a recording go: the CSV file, the SigMF pair, the broker. The writer thread
// takes scans and gap records from the queue, averages them when asked, follows the stretches in
// which an input sits at the limit of its range, and hands all of it to every sink in the same
// order. A sink formats and delivers; it keeps its own counts, files and timing.
#pragma once

#include <stdint.h>
#include <stddef.h>

#include <vector>

#include "acquisition_core.h"
#include "alarms.h"

namespace qlog {

// Consecutive rows: scans as they came (signed counts), or means of nScansPerRow scans each.
struct RowBlock {
    uint64_t nFirstScan = 0;          // scan number of the first row; row i begins at nFirstScan + i * nScansPerRow
    size_t nRows = 0;
    uint32_t nScansPerRow = 1;
    const int32_t* pCounts = nullptr;  // nRows x channels, for scans as they came
    const double* pMeans = nullptr;    // nRows x channels, for means (in counts)
    const uint8_t* pLimited = nullptr; // with means, per value: the mean includes a sample at a limit
};

// An input's samples reach a limit of its range, leave it, or go from one to the other, at nScan.
struct LimitChange {
    size_t nChannel = 0;      // index among the recorded channels
    int nOldSide = 0;         // +1 upper limit, -1 lower, 0 within the range
    uint64_t nOldFrom = 0;    // where the old stretch began
    uint64_t nOldScans = 0;   // scans of the old stretch
    int nNewSide = 0;
    uint64_t nScan = 0;
};

struct RunTotals {
    uint64_t nScans = 0;
    uint64_t nGaps = 0;
    uint64_t nLost = 0;
    int64_t nRowsDropped = -1;               // by the broker; -1 when nothing is published
    std::vector<uint64_t> outOfRange;        // per channel, scans at a limit in the whole run
    std::vector<LimitChange> openStretches;  // stretches still at a limit at the end (nNewSide 0)
    std::vector<std::pair<size_t, uint64_t>> alarmEvents;  // per channel with an alarm: its events
    int64_t nEndMicros = 0;
};

class Sink {
public:
    virtual ~Sink() = default;
    // The header, before any row. False when the output cannot be written (the reason said).
    virtual bool begin() = 0;
    virtual void rows(const RowBlock& block) = 0;
    virtual void gap(const GapRecord& gap) = 0;
    virtual void limit(const LimitChange& change) = 0;
    // A channel's alarm state changes with the scan of the next row (after its limit changes).
    virtual void alarm(const AlarmEvent& event) { (void)event; }
    // Flushes and syncs when they are due; called about every 40 ms and after each slice.
    virtual void tick(int64_t nMonotonicMicros) { (void)nMonotonicMicros; }
    // Before the end: everything written out. A delivering sink waits for its receiver and answers
    // how many rows it could not deliver; a file answers -1.
    virtual int64_t settle() { return -1; }
    virtual void end(const RunTotals& totals) = 0;
    // A reload: the rotation's settings are read again from the options, and a file of its own
    // begins at the next row (when this one has rows). On the writer's thread, between rows.
    virtual void newFile() {}
    // The output refused a write: the run stops.
    virtual bool failed() const { return false; }
};

}  // namespace qlog
