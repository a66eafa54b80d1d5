// The recording as a SigMF pair: NAME.sigmf-data holds the scans one after another, each the
// recorded inputs' signed counts as little-endian int32 ("ri32_le"), or with --average their means
// as float64 ("rf64_le"; a mean that includes a sample at a limit is NaN, unless --keep-limits).
// Nothing else is in it. NAME.sigmf-meta (JSON) says what they mean: the board, the rate, per input
// its mode, range, unit, scale and offset (value = count x scale - offset, as in the CSV), a
// capture for the first scan and for the first after every gap, annotations for the gaps and for
// the stretches at a limit, and at the end the run's totals. Their absence tells a reader that the
// recording was cut short.
//
// Nothing is lost to a cut: the metadata is written to a temporary name of its own, synced and
// renamed into place (never an empty or partial metadata file under its name) before the first
// byte of data, before the first scan after each gap, and at the end; the
// data file is synced every --sync period. A reader takes whole scans only (file size / scan size).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "acquisition_core.h"
#include "log_options.h"
#include "output_file.h"
#include "recording_json.h"
#include "sink.h"

namespace qlog {

class SigmfSink : public Sink {
public:
    SigmfSink(const LogOptions& options, const BoardSetup& board, OutputFile* pOutput, const ScanClock& clock);

    // A recording that begins at this scan, not at the run's first (an event capture); before begin().

    void firstScanIs(uint64_t nScan) { nFileFirstScan_ = nScan; }

    bool begin() override;
    void rows(const RowBlock& block) override;
    void gap(const GapRecord& gap) override;
    void limit(const LimitChange& change) override;
    void alarm(const AlarmEvent& event) override;
    void tick(int64_t nMonotonicMicros) override;
    void newFile() override;
    void end(const RunTotals& totals) override;
    bool failed() const override { return bFailed_; }

private:
    struct Capture {
        uint64_t nPosition;  // in scans, in this file
        uint64_t nScan;      // the scan's number in the run
    };
    struct Stretch {
        int nSide = 0;
        uint64_t nFrom = 0;      // scan number where it began
        uint64_t nPosition = 0;  // where it began in this file (0 when in an earlier one)
    };
    // An annotation, kept as it is until the metadata is written, in the order of its first sample.
    struct Annotation {
        uint64_t nStart = 0;
        Json json;
    };

    void writeRows(uint64_t nFirstScan, const void* pData, size_t nRows, uint32_t nScansPerRow);
    uint64_t nCaptureScans() const;
    void startCapture(uint64_t nScan);
    bool writeMeta(const RunTotals* pTotals);
    Json globalJson(const RunTotals* pTotals) const;
    Annotation stretchAnnotation(size_t nChannel, const Stretch& stretch, uint64_t nEndScan, uint64_t nScans, const char* sHow) const;
    void rotate(uint64_t nNextScan);
    void fail(const std::string& sWhy);

    const LogOptions& options_;
    const BoardSetup& board_;
    OutputFile* pOutput_;
    const ScanClock clock_;
    const size_t nChannels_;
    const size_t nScanBytes_;

    uint64_t nRotateScans_ = 0;   // scans per file when rotating by time
    bool bNewFileDue_ = false;    // a reload asked for a file of its own
    uint64_t nFileFirstScan_ = 0;
    uint64_t nPosition_ = 0;      // scans (or means) in this file
    bool bCaptureDue_ = true;     // the next row begins a capture
    std::vector<Capture> captures_;
    std::vector<Annotation> annotations_;
    std::vector<Stretch> stretches_;
    std::vector<Stretch> stretchesAtStart_;  // those open when this file began
    std::vector<std::pair<AlarmState, uint64_t>> alarms_;         // per channel: its alarm state, since which scan
    std::vector<std::pair<AlarmState, uint64_t>> alarmsAtStart_;  // as they were when this file began
    std::string sNext_;           // the metadata of the next file, once rotated
    bool bMetaWritten_ = false;   // this file's metadata is in place (the first one may not replace)
    std::vector<double> means_;   // a mean row as written
    int64_t nLastSync_ = 0;
    bool bFailed_ = false;
};

}  // namespace qlog
