// A SigMF recording of queno_log read back: what its metadata says (the board, the inputs, the
// captures, gaps and stretches at a limit, the end if it has one) and how many whole scans its data
// file holds now. A file still being written, or cut by a power failure, is read up to its last
// whole scan; anything that is not such a recording is refused with the reason.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "acquisition_core.h"
#include "log_options.h"
#include "sink.h"

namespace qlog {

struct SigmfRecording {
    std::string sMetaPath, sDataPath;
    std::string sRecorder;        // "queno_log 1.2.0"
    LogOptions options;           // the average length and --keep-limits as recorded
    BoardSetup board;
    int64_t nStartMicros = 0;
    int32_t nDelayScans = 0;
    bool bMeans = false;          // rf64 means; otherwise ri32 counts
    int nFile = 1;
    uint64_t nFirstScan = 0;
    std::vector<std::pair<int, uint64_t>> stretchesAtStart;  // per channel: limit side, since which scan
    struct Capture {
        uint64_t nPosition, nScan;
        int64_t nMicros = 0;  // a fitted clock's: the time of nScan and the rate from it on
        double dRate = 0;
    };
    bool bFittedClock = false;  // several boards: times from the board's fitted clock
    ClockFit clockFit;
    std::vector<Capture> captures;
    struct Gap {
        uint64_t nPosition;
        GapRecord record;
    };
    std::vector<Gap> gaps;
    std::vector<LimitChange> limitChanges;  // in order of their scans (merged where one stretch follows another)
    std::vector<AlarmEvent> alarmEvents;    // in order of their scans
    std::vector<std::pair<AlarmState, uint64_t>> alarmsAtStart;  // per channel: the state this file began in, since when
    bool bEnded = false;
    RunTotals totals;             // when bEnded
    std::string sNext;            // the next file's metadata, for a file of a rotation
    uint64_t nRows = 0;           // whole scans (or means) in the data file now
    bool bDataShort = false;      // ended, but the data file holds fewer scans than the end counts
    size_t nRowBytes = 0;
};

// sName: either file of the pair, or the name without its extension. False with the reason.
bool readSigmfRecording(const std::string& sName, SigmfRecording* pRecording, std::string* pError);

}  // namespace qlog
