// The writer thread: takes scans from the queue, turns them into CSV rows (every scan, or the mean
// of every N), writes gap lines where scans are missing, rotates files, flushes at least every
// 0.25 s so that tail -f follows, syncs every --sync period, and ends with the end line.
//
//   time,scan,AI0 [degC],AI1 [degC]
//   2026-12-08T15:20:01.123456Z,0,22.50712,22.49906
//
// A row's time is the first scan's time plus scan / rate: it comes from the acquisition, never
// from when the row was written.
#pragma once

#include <stdint.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "board_setup.h"
#include "log_options.h"
#include "output_file.h"
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
    // Writes the header and starts the thread. nFirstScanMicros: UTC time of scan 0.
    void start(int64_t nFirstScanMicros);
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
    void writeGap(const GapRecord& gap);
    void writeEnd();
    void appendText(const std::string& sText);
    void rotateBefore(uint64_t nScan, size_t nRowStart);
    bool flushBuffer();
    void idle();

    const LogOptions& options_;
    const BoardSetup& board_;
    OutputFile* pOutput_;
    ScanQueue* pQueue_;
    const size_t nChannels_;

    int64_t nFirstScanMicros_ = 0;
    uint64_t nRateMilli_ = 1;      // the rate in thousandths, for exact scan times
    uint64_t nRotateScans_ = 0;    // scans per file when rotating by time
    uint64_t nFileFirstScan_ = 0;
    bool bFileHasRows_ = false;
    std::vector<std::string> headerLines_;

    uint64_t nNextScan_ = 0;       // index of the next scan taken from the queue
    // The row being averaged.
    std::vector<int64_t> sums_;
    uint32_t nInRow_ = 0;
    uint64_t nRowScan_ = 0;

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
