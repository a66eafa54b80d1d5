// The CSV file (or standard output): a header, one row per scan or mean, gap lines where scans
// are missing, comment lines where an input reaches or leaves a limit of its range, and the end
// line. Flushed at least every 0.25 s so that tail -f follows, synced every --sync period,
// rotated by scan time or size.
//
//   time,scan,AI0 [degC],AI1 [degC]
//   2026-12-08T15:20:01.123456Z,0,22.50712,22.49906
//
// A row's time is the scan clock's time of its (first) scan: it comes from the acquisition, never
// from when the row was written. A value at a limit is no measurement: its field stays empty
// (unless --keep-limits).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "acquisition_core.h"
#include "log_options.h"
#include "output_file.h"
#include "sink.h"
#include "value_text.h"

namespace qlog {

// The clock line before the end line of a board whose times follow its fitted clock.
std::string clockFitLine(const ClockFit& fit);

class CsvSink : public Sink {
public:
    CsvSink(const LogOptions& options, const BoardSetup& board, OutputFile* pOutput, const ScanClock& clock);

    bool begin() override;
    void rows(const RowBlock& block) override;
    void gap(const GapRecord& gap) override;
    void limit(const LimitChange& change) override;
    void alarm(const AlarmEvent& event) override;
    void tick(int64_t nMonotonicMicros) override;
    int64_t settle() override;
    void newFile() override;
    void end(const RunTotals& totals) override;
    bool failed() const override { return bFailed_; }

    // For a CSV made from another recording (queno_convert), before begin(): its first header line,
    // which file of the run it is, from which scan, the stretches at a limit and the alarms that
    // began before it.
    void convertedFrom(const std::string& sFirstLine, int nFileNumber, uint64_t nFirstScan,
                       const std::vector<std::pair<int, uint64_t>>& stretchesSince,
                       const std::vector<std::pair<AlarmState, uint64_t>>& alarmsSince = {});
    // Ends a file without the end line (a recording that goes on in another file, or was cut short).
    void endWith(const std::string& sLastLine);

private:
    void writeHeader();
    void emitRow(uint64_t nScan, uint32_t nScans, const int32_t* pCounts, const double* pMeans, const uint8_t* pLimited);
    void appendText(const std::string& sText);
    void appendComment(const std::string& sLine);
    std::string continuedLine() const;
    bool passesSize(size_t nMore, size_t nLine) const;
    size_t fillBefore(size_t nLineStart, size_t nLength) const;
    size_t writeFill(size_t nAt, size_t nFill);
    void rotateBefore(uint64_t nScan, size_t nRowStart);
    void readRotation();
    bool flushBuffer();

    const LogOptions& options_;
    const BoardSetup& board_;
    OutputFile* pOutput_;
    const ScanClock clock_;
    const size_t nChannels_;

    uint64_t nRotateScans_ = 0;    // scans per file when rotating by time
    bool bNewFileDue_ = false;     // a reload asked for a file of its own
    uint64_t nFileFirstScan_ = 0;
    bool bFileHasRows_ = false;
    size_t nContinuedBytes_ = 0;   // the line that ends this file and names the next
    bool bPageAligned_ = false;    // a file of ours: its pages end with line ends
    std::vector<std::string> headerLines_;
    uint64_t nNextScan_ = 0;       // the scan after the last row or gap written
    std::vector<std::pair<int, uint64_t>> stretches_;  // per channel: the limit it sits at, since which scan
    std::vector<std::pair<AlarmState, uint64_t>> alarms_;  // per channel: its alarm state, since which scan
    std::string sFirstLine_;       // converted: the header's first line
    int nFileNumber_ = 0;          // converted: which file of the run

    std::vector<char> buffer_;
    size_t nUsed_ = 0;
    size_t nMaxRow_ = 0;
    TimeText timeText_;
    int64_t nLastFlush_ = 0;
    int64_t nLastSync_ = 0;
    bool bFailed_ = false;
};

}  // namespace qlog
