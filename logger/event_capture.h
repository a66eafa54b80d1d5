// --capture PRE,POST: for every alarm event into a state other than normal, a SigMF recording
// <base>-alarm-<NNNN> beside the main output holds every scan of every recorded input from PRE
// before the event to POST after it, at the board's rate and in counts, whatever --average the
// main file uses. An event inside an open capture extends it. The scans before an event come from
// a ring sized at the start; the capture is written by the same SigMF writer as any recording, so
// its captures, times, gaps and the event's annotation follow the same rules.
#pragma once

#include <stdint.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "log_options.h"
#include "output_file.h"
#include "sigmf_sink.h"

namespace qlog {

class EventCapture {
public:
    // sBase: the captures' names before "-alarm-<NNNN>".
    EventCapture(const LogOptions& options, const BoardSetup& board, const ScanClock& clock, std::string sBase);
    ~EventCapture();
    EventCapture(const EventCapture&) = delete;
    EventCapture& operator=(const EventCapture&) = delete;

    // On the writer's thread, in the order the writer meets them: an event comes before the scan it
    // names is given to scans().
    void scans(const int32_t* pWords, uint64_t nFirstScan, uint64_t nScans);
    void gap(const GapRecord& gap);
    void alarm(const AlarmEvent& event);
    void end();

private:
    bool open(const AlarmEvent& event);
    void close();
    void give(const int32_t* pWords, uint64_t nFirstScan, uint64_t nScans);

    LogOptions options_;          // the captures': counts, no rotation
    const BoardSetup& board_;
    const ScanClock clock_;
    const std::string sBase_;
    const size_t nChannels_;
    const uint64_t nPreScans_, nPostScans_;
    int nNumber_ = 0;

    // The last nPreScans_ scans: their counts and numbers, oldest at nRingStart_.
    std::vector<int32_t> ring_;
    std::vector<uint64_t> ringScans_;
    size_t nRingStart_ = 0, nRingSize_ = 0;
    std::deque<GapRecord> gaps_;  // those that may lie within the ring

    std::unique_ptr<OutputFile> output_;  // the capture being written, if any
    std::unique_ptr<SigmfSink> sink_;
    uint64_t nEndScan_ = 0;       // the capture's last scan
    RunTotals totals_;
};

}  // namespace qlog
