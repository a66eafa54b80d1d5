#include "csv_writer.h"

#include <errno.h>
#include <math.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#ifdef QUENO_WITH_MQTT
#include "mqtt_messages.h"
#include "mqtt_publisher.h"
#endif
#include "status_line.h"

namespace qlog {

namespace {

constexpr size_t kBufferBytes = 1 << 20;
// The kernel lets a kill cut a write only where a page of the file ends (4 KiB, or a multiple).
constexpr uint64_t kPage = 4096;
constexpr int64_t kFlushMicros = 250000;
constexpr long kIdleNanos = 40 * 1000 * 1000;  // the flush interval is kept within 0.25 s

std::string plural(uint64_t n, const char* sWord) {
    return std::to_string(n) + " " + sWord + (n == 1 ? "" : "s");
}

const char* limitWords(int nSide) { return nSide > 0 ? "over range" : "under range"; }

}  // namespace

CsvWriter::CsvWriter(const LogOptions& options, const BoardSetup& board, OutputFile* pOutput, ScanQueue* pQueue)
    : options_(options), board_(board), pOutput_(pOutput), pQueue_(pQueue), nChannels_(board.channels.size()),
      sums_(board.channels.size(), 0), rowLimited_(board.channels.size(), 0), limits_(board.channels.size()),
      buffer_(kBufferBytes) {
    // A row: time, scan, and per channel a value and perhaps its raw count, with separators.
    nMaxRow_ = 2 * kMaxNumberText + nChannels_ * (2 * kMaxNumberText + 2) + 4;
    if (options.dRotateSeconds > 0) {
        double dScans = nearbyint(options.dRotateSeconds * board.dRate);
        nRotateScans_ = dScans < 1 ? 1 : static_cast<uint64_t>(dScans);
    }
}

CsvWriter::~CsvWriter() {
    bDone_.store(true, std::memory_order_release);
    if (thread_.joinable()) thread_.join();
}

void CsvWriter::publishTo(MqttPublisher* pPublisher, RowMessage* pMessages) {
    pPublisher_ = pPublisher;
    pMessages_ = pMessages;
    rowValues_.assign(nChannels_, 0.0);
}

void CsvWriter::start(const ScanClock& clock) {
    clock_ = clock;
    bPageAligned_ = pOutput_->created();
    writeHeader();
    flushBuffer();
    nLastFlush_ = nLastSync_ = monotonicMicros();
    // Stop signals belong to the acquisition thread, whose waits they must cut short.
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    thread_ = std::thread(&CsvWriter::run, this);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void CsvWriter::finish() {
    bDone_.store(true, std::memory_order_release);
    if (thread_.joinable()) thread_.join();
}

void CsvWriter::appendText(const std::string& sText) {
    if (nUsed_ + sText.size() + kPage > buffer_.size()) flushBuffer();
    if (sText.size() + kPage > buffer_.size()) buffer_.resize(sText.size() + kPage);
    nUsed_ += writeFill(nUsed_, fillBefore(nUsed_, sText.size()));
    memcpy(buffer_.data() + nUsed_, sText.data(), sText.size());
    nUsed_ += sText.size();
}

// Every page of a file ends with a line end: where a line would cross into the next page, the rest
// of the page is filled with a comment line of spaces (a blank line for a single byte) and the line
// begins the next page. A kill, which can cut a write only where a page ends, so never leaves half
// a line. The fill a line of nLength bytes at nLineStart of the buffer needs: 0 for other outputs,
// for lines that fit, and for lines no page could hold.
size_t CsvWriter::fillBefore(size_t nLineStart, size_t nLength) const {
    if (!bPageAligned_) return 0;
    const uint64_t nRoom = kPage - (pOutput_->bytes() + nLineStart) % kPage;
    return nLength <= nRoom || nLength > kPage ? 0 : static_cast<size_t>(nRoom);
}

size_t CsvWriter::writeFill(size_t nAt, size_t nFill) {
    if (nFill == 0) return 0;
    char* p = buffer_.data() + nAt;
    if (nFill > 1) {
        p[0] = '#';
        memset(p + 1, ' ', nFill - 2);
    }
    p[nFill - 1] = '\n';
    return nFill;
}

void CsvWriter::writeHeader() {
    if (headerLines_.empty()) {
        char sLine[512];
        headerLines_.push_back(std::string("# queno_log ") + QUENO_VERSION + "\n");
        snprintf(sLine, sizeof(sLine), "# board %d: %s, serial %s, %d bits\n", static_cast<int>(board_.nBoardId),
                 board_.sName.c_str(), board_.sSerial.c_str(), board_.nResolution);
        headerLines_.push_back(sLine);
        char sStart[40], sFirst[40];
        formatUtcMicros(clock_.startMicros(), sStart, sizeof(sStart));
        formatUtcMicros(clock_.micros(0), sFirst, sizeof(sFirst));
        snprintf(sLine, sizeof(sLine),
                 "# rate %.15g S/s, started %s (system clock when the start returned), input filter delay %llu scans "
                 "(%.15g s): scan 0 at %s\n",
                 board_.dRate, sStart, static_cast<unsigned long long>(clock_.delayScans()), clock_.delaySeconds(), sFirst);
        headerLines_.push_back(sLine);
        for (const LoggedChannel& channel : board_.channels) {
            std::string s = "# AI" + std::to_string(channel.nChannel) + ": " + channel.sMode + ", Range " + channel.sRange;
            for (const PropertyWrite& setting : channel.settled) s += ", " + setting.first + " " + setting.second;
            snprintf(sLine, sizeof(sLine), ", scale %e, offset %.15g\n", channel.scale.scale, channel.scale.offset);
            headerLines_.push_back(s + sLine);
        }
        if (options_.nAverage > 1) {
            headerLines_.push_back("# each row is the mean of " + std::to_string(options_.nAverage) +
                                   " scans, with the time and scan of its first; a mean never spans a gap\n");
        }
        std::string sColumns = "time,scan";
        for (const LoggedChannel& channel : board_.channels) {
            std::string sName = "AI" + std::to_string(channel.nChannel);
            sColumns += "," + sName + " [" + channel.sUnit + "]";
            if (options_.bRaw) sColumns += "," + sName + " raw";
        }
        headerLines_.push_back(sColumns + "\n");
    }
    for (size_t i = 0; i < headerLines_.size(); ++i) {
        if (i + 1 == headerLines_.size() && pOutput_->fileNumber() > 1) {
            appendText("# file " + std::to_string(pOutput_->fileNumber()) + " of the run, from scan " +
                       std::to_string(nNextScan_) + "\n");
            // A stretch at a limit that began in an earlier file is said again for this one's reader.
            for (size_t c = 0; c < nChannels_; ++c) {
                if (limits_[c].nSide == 0) continue;
                appendText("# AI" + std::to_string(board_.channels[c].nChannel) + ": " + limitWords(limits_[c].nSide) +
                           " since scan " + std::to_string(limits_[c].nFrom) + "\n");
            }
        }
        appendText(headerLines_[i]);
    }
    nFileFirstScan_ = nNextScan_;
    bFileHasRows_ = false;
    nContinuedBytes_ = continuedLine().size();
}

std::string CsvWriter::continuedLine() const { return "# continued in " + pOutput_->nextName() + "\n"; }

// Rotating by size: would the file, with nMore bytes more, the fill a line of nLine bytes may need
// and the line that points to the next file with its fill, pass the size given? A file never does.
bool CsvWriter::passesSize(size_t nMore, size_t nLine) const {
    const uint64_t nFills = bPageAligned_ ? nLine + nContinuedBytes_ : 0;  // a fill is shorter than its line
    return options_.nRotateBytes > 0 &&
           pOutput_->bytes() + nUsed_ + nMore + nContinuedBytes_ + nFills > options_.nRotateBytes;
}

void CsvWriter::appendComment(const std::string& sLine) {
    if (bFileHasRows_ && passesSize(sLine.size(), sLine.size())) rotateBefore(nNextScan_, nUsed_);
    appendText(sLine);
}

bool CsvWriter::flushBuffer() {
    if (nUsed_ == 0 || failed()) {
        nUsed_ = 0;
        return !failed();
    }
    bool bWritten = pOutput_->write(buffer_.data(), nUsed_);
    nUsed_ = 0;
    nLastFlush_ = monotonicMicros();
    if (!bWritten) {
        clearStatusLine();
        fprintf(stderr, "queno_log: cannot write %s: %s - stopping\n", pOutput_->name().c_str(),
                strerror(pOutput_->error()));
        bFailed_.store(true, std::memory_order_release);
    }
    return bWritten;
}

// Ends the current file before the row that begins at nRowStart and carries it into the next.
void CsvWriter::rotateBefore(uint64_t nScan, size_t nRowStart) {
    std::string sRow(buffer_.data() + nRowStart, nUsed_ - nRowStart);
    nUsed_ = nRowStart;
    appendText(continuedLine());
    if (!flushBuffer()) return;
    std::string sError;
    if (!pOutput_->rotate(&sError)) {
        clearStatusLine();
        fprintf(stderr, "queno_log: %s - stopping\n", sError.c_str());
        bFailed_.store(true, std::memory_order_release);
        return;
    }
    uint64_t nSaved = nNextScan_;
    nNextScan_ = nScan;
    writeHeader();
    nNextScan_ = nSaved;
    appendText(sRow);
    flushBuffer();  // a new file has its header at once, whatever happens next
}

void CsvWriter::emitRow() {
    if (nInRow_ == 0) return;
    if (buffer_.size() - nUsed_ < nMaxRow_ + kPage) flushBuffer();
    size_t nRowStart = nUsed_;
    char* p = buffer_.data() + nUsed_;
    const int64_t nMicros = clock_.micros(nRowScan_);
    p = timeText_.write(p, nMicros);
    *p++ = ',';
    p = writeUnsigned(p, nRowScan_);
    for (size_t c = 0; c < nChannels_; ++c) {
        const LoggedChannel& channel = board_.channels[c];
        double dRaw = nInRow_ == 1 ? static_cast<double>(sums_[c]) : static_cast<double>(sums_[c]) / nInRow_;
        *p++ = ',';
        double dValue = fma(dRaw, channel.scale.scale, -channel.scale.offset);
        // A mean that includes a sample at the limit is no measurement either.
        if (rowLimited_[c] != 0 && !options_.bKeepLimits) {
            dValue = NAN;
        } else {
            p = writeFixed(p, dValue, channel.nDecimals);
        }
        rowLimited_[c] = 0;
        if (pPublisher_ != nullptr) rowValues_[c] = dValue;
        if (options_.bRaw) {
            *p++ = ',';
            p = writeSigned(p, nInRow_ == 1 ? sums_[c] : llround(dRaw));
        }
        sums_[c] = 0;
    }
    *p++ = '\n';
    nUsed_ = static_cast<size_t>(p - buffer_.data());
    counts_.nScans.fetch_add(nInRow_, std::memory_order_relaxed);
    nInRow_ = 0;
#ifdef QUENO_WITH_MQTT
    if (pPublisher_ != nullptr) pPublisher_->publish(pMessages_->format(nMicros, nRowScan_, rowValues_.data()));
#endif

    const size_t nRow = nUsed_ - nRowStart;
    const bool bRotateByTime = nRotateScans_ > 0 && nRowScan_ >= nFileFirstScan_ + nRotateScans_;
    const bool bRotateBySize = passesSize(0, nRow);
    if (bFileHasRows_ && (bRotateByTime || bRotateBySize)) {
        rotateBefore(nRowScan_, nRowStart);
    } else if (const size_t nFill = fillBefore(nRowStart, nRow)) {
        memmove(buffer_.data() + nRowStart + nFill, buffer_.data() + nRowStart, nRow);  // the row follows its fill
        nUsed_ += writeFill(nRowStart, nFill);
    }
    bFileHasRows_ = true;
}

void CsvWriter::limitChanged(size_t nChannel, int nSide) {
    LimitStretch& stretch = limits_[nChannel];
    const std::string sName = "# AI" + std::to_string(board_.channels[nChannel].nChannel) + ": ";
    if (stretch.nSide != 0) {
        appendComment(sName + (nSide == 0 ? std::string("in range again") : std::string(limitWords(stretch.nSide)) + " ended") +
                   " at scan " + std::to_string(nNextScan_) + ", " + plural(stretch.nScans, "scan") + " " +
                   limitWords(stretch.nSide) + "\n");
    }
    if (nSide != 0) appendComment(sName + limitWords(nSide) + " from scan " + std::to_string(nNextScan_) + "\n");
    stretch.nSide = nSide;
    stretch.nFrom = nNextScan_;
    stretch.nScans = 0;
}

void CsvWriter::addScanToRow(const int32_t* pWords) {
    if (nInRow_ == 0) nRowScan_ = nNextScan_;
    for (size_t c = 0; c < nChannels_; ++c) {
        sums_[c] += pWords[c];
        const int nSide = limitSide(pWords[c], board_.nFullScale);
        if (nSide != limits_[c].nSide) limitChanged(c, nSide);
        if (nSide != 0) {
            rowLimited_[c] = 1;
            ++limits_[c].nScans;
            ++limits_[c].nTotal;
        }
    }
    ++nNextScan_;
    if (++nInRow_ >= options_.nAverage) emitRow();
}

void CsvWriter::writeRows(const int32_t* pWords, uint64_t nScans) {
    const uint32_t nWords = pQueue_->wordsPerScan();
    for (uint64_t i = 0; i < nScans && !failed(); ++i) addScanToRow(pWords + i * nWords);
}

void CsvWriter::writeGap(const GapRecord& gap) {
    emitRow();  // a mean never spans a gap
    std::string sWhere = gap.nNextScan > gap.nLost ? "after scan " + std::to_string(gap.nNextScan - gap.nLost - 1)
                                                   : "before scan " + std::to_string(gap.nNextScan);
    std::string sWhy;
    char sTime[40];
    formatUtcMicros(gap.nRestartMicros, sTime, sizeof(sTime));
    switch (gap.cause) {
        case GapCause::QueueFull: sWhy = "the logger's queue was full: the output did not keep up"; break;
        case GapCause::Overflow: sWhy = std::string("buffer overflow; acquisition restarted at ") + sTime; break;
        case GapCause::ReleaseFailed:
            sWhy = std::string("the driver did not take back the scans read; acquisition restarted at ") + sTime;
            break;
        case GapCause::DriverFailing:
            sWhy = std::string("the driver's queries kept failing; acquisition restarted at ") + sTime;
            break;
        case GapCause::Undelivered: sWhy = "the driver delivered no more scans by the end of the duration"; break;
    }
    appendComment("# gap: " + plural(gap.nLost, "scan") + " lost " + sWhere + " (" + sWhy + ")\n");
    nNextScan_ = gap.nNextScan;
    counts_.nGaps.fetch_add(1, std::memory_order_relaxed);
    counts_.nLost.fetch_add(gap.nLost, std::memory_order_relaxed);
}

void CsvWriter::writeEnd() {
    emitRow();  // the last, partial mean of the run
    std::string sDropped;
#ifdef QUENO_WITH_MQTT
    if (pPublisher_ != nullptr) {
        flushBuffer();          // the file is complete while the broker takes the rest
        pPublisher_->finish();  // what it has not taken by now counts as dropped
        sDropped = ", " + plural(pPublisher_->dropped(), "row") + " dropped";
    }
#endif
    std::string sLimits;
    for (size_t c = 0; c < nChannels_; ++c) {
        const LimitStretch& stretch = limits_[c];
        const std::string sName = "AI" + std::to_string(board_.channels[c].nChannel);
        if (stretch.nSide != 0) {
            appendComment("# " + sName + ": " + limitWords(stretch.nSide) + " to the end of the run, " +
                       plural(stretch.nScans, "scan") + " " + limitWords(stretch.nSide) + "\n");
        }
        if (stretch.nTotal > 0) sLimits += std::string(sLimits.empty() ? "; out of range: " : ", ") + sName + " " + plural(stretch.nTotal, "scan");
    }
    char sTime[40];
    formatUtcMicros(utcMicrosNow(), sTime, sizeof(sTime));
    appendComment(std::string("# end ") + sTime + ": " + plural(counts_.nScans.load(), "scan") + ", " +
               plural(counts_.nGaps.load(), "gap") + ", " + plural(counts_.nLost.load(), "scan") + " lost" + sDropped +
               sLimits + "\n");
    flushBuffer();
}

void CsvWriter::idle() {
    struct timespec idle = {0, kIdleNanos};
    nanosleep(&idle, nullptr);
}

void CsvWriter::run() {
    for (;;) {
        // The end is judged before the queue is looked at: scans queued before it was set are seen.
        const bool bDone = bDone_.load(std::memory_order_acquire);
        const uint64_t nReady = pQueue_->readable();  // before the gaps: a gap is queued before scans after it
        GapRecord gap;
        const bool bGap = pQueue_->peekGap(&gap);
        if (failed()) break;
        if (bGap && gap.nQueuedBefore <= pQueue_->consumed()) {
            writeGap(gap);
            pQueue_->popGap();
            continue;
        }
        uint64_t nTake = pQueue_->contiguousReadable();
        if (nTake > nReady) nTake = nReady;
        if (bGap && nTake > gap.nQueuedBefore - pQueue_->consumed()) nTake = gap.nQueuedBefore - pQueue_->consumed();
        // In slices, so that flushes keep their pace at any rate.
        if (nTake > 4096) nTake = 4096;
        if (nTake > 0) {
            writeRows(pQueue_->readSlot(), nTake);
            pQueue_->consume(nTake);
        } else if (bDone && !bGap) {
            break;
        } else {
            idle();
        }
        const int64_t nNow = monotonicMicros();
        if (nUsed_ > 0 && nNow - nLastFlush_ >= kFlushMicros) flushBuffer();
        if (nNow - nLastSync_ >= static_cast<int64_t>(options_.dSyncSeconds * 1e6)) {
            pOutput_->sync();
            nLastSync_ = monotonicMicros();
        }
    }
    if (!failed()) writeEnd();
    pOutput_->close();
}

}  // namespace qlog
