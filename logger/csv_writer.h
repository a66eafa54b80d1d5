// The writer thread: takes scans from the queue, turns them into CSV rows (every scan, or the mean
// of every N), writes gap lines where scans are missing, rotates files, flushes at least every
// 0.25 s so that tail -f follows, syncs every --sync period, and ends with the end line.
//
//   time,scan,AI0 [degC],AI1 [degC]
//   2026-12-08T15:20:01.123456Z,0,22.50712,22.49906
//
// A row's time is the scan clock's time of its (first) scan: it comes from the acquisition, never
// from when the row was written. A sample at the limit of its range (an open or shorted sensor, an
// input over range) is no measurement: its field stays empty (unless --keep-limits), and comment
// lines say where such a stretch begins and ends on each channel.
#pragma once

#include <stdint.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "board_setup.h"
#include "log_options.h"
#include "output_file.h"
#include "scan_clock.h"
#include "scan_queue.h"
#include "value_text.h"



namespace qlog {

class MqttPublisher;
class RowMessage;

struct WriterCounts {
    std::atomic<uint64_t> nScans{0};  // scans written (each averaged one counted)
    std::atomic<uint64_t> nGaps{0};
    std::atomic<uint64_t> nLost{0};
};

class CsvWriter {
public:
    CsvWriter(const LogOptions& options, const BoardSetup& board, OutputFile* pOutput, ScanQueue* pQueue);
    ~CsvWriter();

    // Rows go to the broker too; its spool is drained before the end line is written.
    void publishTo(MqttPublisher* pPublisher, RowMessage* pMessages);
    // Writes the header and starts the thread; the clock says when each scan was measured.
    void start(const ScanClock& clock);
    // The acquisition has queued its last scan: drain, write the end line, sync, close.
    void finish();

    bool failed() const { return bFailed_.load(std::memory_order_acquire); }
    const WriterCounts& counts() const { return counts_; }

private:
    void run();
    void writeHeader();
    void writeRows(const int32_t* pWords, uint64_t nScans);
    void addScanToRow(const int32_t* pWords);
    void emitRow();
    void limitChanged(size_t nChannel, int nSide);
    void writeGap(const GapRecord& gap);
    void writeEnd();
    void appendText(const std::string& sText);
    void appendComment(const std::string& sLine);
    std::string continuedLine() const;
    bool passesSize(size_t nMore, size_t nLine) const;
    size_t fillBefore(size_t nLineStart, size_t nLength) const;
    size_t writeFill(size_t nAt, size_t nFill);
    void rotateBefore(uint64_t nScan, size_t nRowStart);
    bool flushBuffer();
    void idle();

    const LogOptions& options_;
    const BoardSetup& board_;
    OutputFile* pOutput_;
    ScanQueue* pQueue_;
    const size_t nChannels_;

    ScanClock clock_;
    uint64_t nRotateScans_ = 0;    // scans per file when rotating by time
    uint64_t nFileFirstScan_ = 0;
    bool bFileHasRows_ = false;
    size_t nContinuedBytes_ = 0;   // the line that ends this file and names the next
    bool bPageAligned_ = false;    // a file of ours: its pages end with line ends
    std::vector<std::string> headerLines_;

    uint64_t nNextScan_ = 0;       // index of the next scan taken from the queue
    // The row being averaged.
    std::vector<int64_t> sums_;
    uint32_t nInRow_ = 0;
    uint64_t nRowScan_ = 0;
    std::vector<uint8_t> rowLimited_;  // a channel of the row had a sample at its range's limit

    // Per channel: the limit its samples sit at now (+1, -1, or 0 within the range), since which
    // scan, how many scans of this stretch and of the whole run.
    struct LimitStretch {
        int nSide = 0;
        uint64_t nFrom = 0;
        uint64_t nScans = 0;
        uint64_t nTotal = 0;
    };
    std::vector<LimitStretch> limits_;

    std::vector<char> buffer_;
    size_t nUsed_ = 0;
    size_t nMaxRow_ = 0;
    TimeText timeText_;
    int64_t nLastFlush_ = 0;
    int64_t nLastSync_ = 0;

    MqttPublisher* pPublisher_ = nullptr;
    RowMessage* pMessages_ = nullptr;
    std::vector<double> rowValues_;

    std::atomic<bool> bDone_{false};
    std::atomic<bool> bFailed_{false};
    WriterCounts counts_;
    std::thread thread_;
};

}  // namespace qlog
