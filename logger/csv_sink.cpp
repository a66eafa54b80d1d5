#include "csv_sink.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include "program_messages.h"

namespace qlog {

namespace {

constexpr size_t kBufferBytes = 1 << 20;
// The kernel lets a kill cut a write only where a page of the file ends (4 KiB, or a multiple).
constexpr uint64_t kPage = 4096;
constexpr int64_t kFlushMicros = 250000;

std::string plural(uint64_t n, const char* sWord) {
    return std::to_string(n) + " " + sWord + (n == 1 ? "" : "s");
}

const char* limitWords(int nSide) { return nSide > 0 ? "over range" : "under range"; }

}  // namespace

CsvSink::CsvSink(const LogOptions& options, const BoardSetup& board, OutputFile* pOutput, const ScanClock& clock)
    : options_(options), board_(board), pOutput_(pOutput), clock_(clock), nChannels_(board.channels.size()),
      stretches_(board.channels.size(), {0, 0}), alarms_(board.channels.size(), {AlarmState::Normal, 0}),
      buffer_(kBufferBytes) {
    // A row: time, scan, and per channel a value and perhaps its raw count, with separators.
    nMaxRow_ = 2 * kMaxNumberText + nChannels_ * (2 * kMaxNumberText + 2) + 4;
    readRotation();
}

void CsvSink::readRotation() {
    nRotateScans_ = 0;
    if (options_.dRotateSeconds > 0) {
        double dScans = nearbyint(options_.dRotateSeconds * board_.dRate);
        nRotateScans_ = dScans < 1 ? 1 : static_cast<uint64_t>(dScans);
    }
}

void CsvSink::newFile() {
    readRotation();
    bNewFileDue_ = true;
}

void CsvSink::convertedFrom(const std::string& sFirstLine, int nFileNumber, uint64_t nFirstScan,
                            const std::vector<std::pair<int, uint64_t>>& stretchesSince,
                            const std::vector<std::pair<AlarmState, uint64_t>>& alarmsSince) {
    sFirstLine_ = sFirstLine;
    nFileNumber_ = nFileNumber;
    nNextScan_ = nFirstScan;
    if (stretchesSince.size() == nChannels_) stretches_ = stretchesSince;
    if (alarmsSince.size() == nChannels_) alarms_ = alarmsSince;
}

void CsvSink::alarm(const AlarmEvent& event) {
    const LoggedChannel& channel = board_.channels[event.nChannel];
    appendComment("# alarm AI" + std::to_string(channel.nChannel) + ": " + alarmEventText(event, channel) + "\n");
    alarms_[event.nChannel] = {event.state, event.nScan};
}

void CsvSink::endWith(const std::string& sLastLine) {
    appendComment(sLastLine + "\n");
    flushBuffer();
    pOutput_->close();
}

bool CsvSink::begin() {
    bPageAligned_ = pOutput_->created();
    writeHeader();
    flushBuffer();
    nLastFlush_ = nLastSync_ = monotonicMicros();
    return !bFailed_;
}

void CsvSink::appendText(const std::string& sText) {
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
size_t CsvSink::fillBefore(size_t nLineStart, size_t nLength) const {
    if (!bPageAligned_) return 0;
    const uint64_t nRoom = kPage - (pOutput_->bytes() + nLineStart) % kPage;
    return nLength <= nRoom || nLength > kPage ? 0 : static_cast<size_t>(nRoom);
}

size_t CsvSink::writeFill(size_t nAt, size_t nFill) {
    if (nFill == 0) return 0;
    char* p = buffer_.data() + nAt;
    if (nFill > 1) {
        p[0] = '#';
        memset(p + 1, ' ', nFill - 2);
    }
    p[nFill - 1] = '\n';
    return nFill;
}

void CsvSink::writeHeader() {
    if (headerLines_.empty()) {
        char sLine[512];
        headerLines_.push_back(sFirstLine_.empty() ? std::string("# queno_log ") + QUENO_VERSION + "\n" : sFirstLine_ + "\n");
        snprintf(sLine, sizeof(sLine), "# board %d: %s, serial %s, %d bits\n", static_cast<int>(board_.nBoardId),
                 board_.sName.c_str(), board_.sSerial.c_str(), board_.nResolution);
        headerLines_.push_back(sLine);
        char sStart[40], sFirst[40];
        formatUtcMicros(clock_.startMicros(), sStart, sizeof(sStart));
        formatUtcMicros(clock_.micros(0), sFirst, sizeof(sFirst));
        snprintf(sLine, sizeof(sLine),
                 "# rate %s S/s, started %s (system clock when the start returned), input filter delay %llu scans "
                 "(%.15g s): scan 0 at %s\n",
                 board_.rate.sText.c_str(), sStart, static_cast<unsigned long long>(clock_.delayScans()), clock_.delaySeconds(), sFirst);
        headerLines_.push_back(sLine);
        if (clock_.model() != nullptr) {
            headerLines_.push_back("# clock: the times are the board's clock fitted to the host's (one time base for several boards); "
                                   "the fitted rate and the time error bound at the end\n");
        }
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
    const int nFileNumber = nFileNumber_ > 0 ? nFileNumber_ : pOutput_->fileNumber();
    nFileNumber_ = 0;
    for (size_t i = 0; i < headerLines_.size(); ++i) {
        if (i + 1 == headerLines_.size() && nFileNumber > 1) {
            appendText("# file " + std::to_string(nFileNumber) + " of the run, from scan " +
                       std::to_string(nNextScan_) + "\n");
            // A stretch at a limit that began in an earlier file is said again for this one's reader.
            for (size_t c = 0; c < nChannels_; ++c) {
                if (stretches_[c].first == 0) continue;
                appendText("# AI" + std::to_string(board_.channels[c].nChannel) + ": " + limitWords(stretches_[c].first) +
                           " since scan " + std::to_string(stretches_[c].second) + "\n");
            }
            // So is an alarm that holds.
            for (size_t c = 0; c < nChannels_; ++c) {
                if (alarms_[c].first == AlarmState::Normal) continue;
                appendText("# alarm AI" + std::to_string(board_.channels[c].nChannel) + ": " + alarmStateName(alarms_[c].first) +
                           " since scan " + std::to_string(alarms_[c].second) + "\n");
            }
        }
        appendText(headerLines_[i]);
    }
    nFileFirstScan_ = nNextScan_;
    bFileHasRows_ = false;
    nContinuedBytes_ = continuedLine().size();
}

std::string CsvSink::continuedLine() const { return "# continued in " + pOutput_->nextName() + "\n"; }

// Rotating by size: would the file, with nMore bytes more, the fill a line of nLine bytes may need
// and the line that points to the next file with its fill, pass the size given? A file never does.
bool CsvSink::passesSize(size_t nMore, size_t nLine) const {
    const uint64_t nFills = bPageAligned_ ? nLine + nContinuedBytes_ : 0;  // a fill is shorter than its line
    return options_.nRotateBytes > 0 &&
           pOutput_->bytes() + nUsed_ + nMore + nContinuedBytes_ + nFills > options_.nRotateBytes;
}

void CsvSink::appendComment(const std::string& sLine) {
    if (bFileHasRows_ && passesSize(sLine.size(), sLine.size())) rotateBefore(nNextScan_, nUsed_);
    appendText(sLine);
}

bool CsvSink::flushBuffer() {
    if (nUsed_ == 0 || bFailed_) {
        nUsed_ = 0;
        return !bFailed_;
    }
    bool bWritten = pOutput_->write(buffer_.data(), nUsed_);
    nUsed_ = 0;
    nLastFlush_ = monotonicMicros();
    if (!bWritten) {
        say("cannot write " + pOutput_->name() + ": " + strerror(pOutput_->error()) + " - stopping");
        bFailed_ = true;
    }
    return bWritten;
}

// Ends the current file before the row that begins at nRowStart and carries it into the next.
void CsvSink::rotateBefore(uint64_t nScan, size_t nRowStart) {
    std::string sRow(buffer_.data() + nRowStart, nUsed_ - nRowStart);
    nUsed_ = nRowStart;
    std::string sError;
    if (!pOutput_->prepareNext(&sError)) {  // the line below names only a file that exists
        flushBuffer();
        say(sError + " - stopping");
        bFailed_ = true;
        return;
    }
    appendText(continuedLine());
    if (!flushBuffer()) return;
    if (!pOutput_->rotate(&sError)) {
        say(sError + " - stopping");
        bFailed_ = true;
        return;
    }
    uint64_t nSaved = nNextScan_;
    nNextScan_ = nScan;
    writeHeader();
    nNextScan_ = nSaved;
    appendText(sRow);
    flushBuffer();  // a new file has its header at once, whatever happens next
}

// One row: a scan's counts, or a mean of nScans scans with the channels whose mean includes a
// sample at a limit.
void CsvSink::emitRow(uint64_t nScan, uint32_t nScans, const int32_t* pCounts, const double* pMeans,
                      const uint8_t* pLimited) {
    if (buffer_.size() - nUsed_ < nMaxRow_ + kPage) flushBuffer();
    size_t nRowStart = nUsed_;
    char* p = buffer_.data() + nUsed_;
    p = timeText_.write(p, clock_.micros(nScan));
    *p++ = ',';
    p = writeUnsigned(p, nScan);
    for (size_t c = 0; c < nChannels_; ++c) {
        const LoggedChannel& channel = board_.channels[c];
        const double dCounts = pCounts != nullptr ? static_cast<double>(pCounts[c]) : pMeans[c];
        const bool bLimited = pCounts != nullptr ? limitSide(pCounts[c], board_.nFullScale) != 0 : pLimited[c] != 0;
        *p++ = ',';
        // A sample at a limit, or a mean that includes one, is no measurement: the field stays empty.
        if (!bLimited || options_.bKeepLimits) p = writeFixed(p, ScaleSample(&channel.scale, dCounts), channel.nDecimals);
        if (options_.bRaw) {
            *p++ = ',';
            p = writeSigned(p, pCounts != nullptr ? pCounts[c] : llround(dCounts));
        }
    }
    *p++ = '\n';
    nUsed_ = static_cast<size_t>(p - buffer_.data());
    nNextScan_ = nScan + nScans;

    const size_t nRow = nUsed_ - nRowStart;
    const bool bRotateByTime = nRotateScans_ > 0 && nScan >= nFileFirstScan_ + nRotateScans_;
    const bool bRotateBySize = passesSize(0, nRow);
    const bool bNewFile = bNewFileDue_;
    bNewFileDue_ = false;
    if (bFileHasRows_ && (bRotateByTime || bRotateBySize || bNewFile)) {
        rotateBefore(nScan, nRowStart);
    } else if (const size_t nFill = fillBefore(nRowStart, nRow)) {
        memmove(buffer_.data() + nRowStart + nFill, buffer_.data() + nRowStart, nRow);  // the row follows its fill
        nUsed_ += writeFill(nRowStart, nFill);
    }
    bFileHasRows_ = true;
}

void CsvSink::rows(const RowBlock& block) {
    for (size_t i = 0; i < block.nRows && !bFailed_; ++i) {
        const uint64_t nScan = block.nFirstScan + i * block.nScansPerRow;
        if (block.pCounts != nullptr) {
            emitRow(nScan, 1, block.pCounts + i * nChannels_, nullptr, nullptr);
        } else {
            emitRow(nScan, block.nScansPerRow, nullptr, block.pMeans + i * nChannels_, block.pLimited + i * nChannels_);
        }
    }
}

void CsvSink::limit(const LimitChange& change) {
    const std::string sName = "# AI" + std::to_string(board_.channels[change.nChannel].nChannel) + ": ";
    if (change.nOldSide != 0) {
        appendComment(sName + (change.nNewSide == 0 ? std::string("in range again") : std::string(limitWords(change.nOldSide)) + " ended") +
                      " at scan " + std::to_string(change.nScan) + ", " + plural(change.nOldScans, "scan") + " " +
                      limitWords(change.nOldSide) + "\n");
    }
    if (change.nNewSide != 0) appendComment(sName + limitWords(change.nNewSide) + " from scan " + std::to_string(change.nScan) + "\n");
    stretches_[change.nChannel] = {change.nNewSide, change.nScan};
}

void CsvSink::gap(const GapRecord& gap) {
    appendComment("# " + gapText(gap) + "\n");
    nNextScan_ = gap.nNextScan;
}

void CsvSink::tick(int64_t nMonotonicMicros) {
    if (nUsed_ > 0 && nMonotonicMicros - nLastFlush_ >= kFlushMicros) flushBuffer();
    if (nMonotonicMicros - nLastSync_ >= static_cast<int64_t>(options_.dSyncSeconds * 1e6)) {
        pOutput_->sync();
        nLastSync_ = monotonicMicros();
    }
}

int64_t CsvSink::settle() {
    flushBuffer();  // the file is complete while a broker takes the rest
    return -1;
}

// "# clock: fitted rate 1000.4998 S/s, time error bound 1.234 ms (5821 anchors)"
std::string clockFitLine(const ClockFit& fit) {
    return textf("# clock: fitted rate %.6f S/s, time error bound %.3f ms (%llu anchors)\n", fit.dRate, fit.dBoundMicros / 1000.0,
                 static_cast<unsigned long long>(fit.nAnchors));
}

void CsvSink::end(const RunTotals& totals) {
    if (!bFailed_) {
        std::string sLimits;
        for (const LimitChange& open : totals.openStretches) {
            appendComment("# AI" + std::to_string(board_.channels[open.nChannel].nChannel) + ": " + limitWords(open.nOldSide) +
                          " to the end of the run, " + plural(open.nOldScans, "scan") + " " + limitWords(open.nOldSide) + "\n");
        }
        for (size_t c = 0; c < nChannels_ && c < totals.outOfRange.size(); ++c) {
            if (totals.outOfRange[c] == 0) continue;
            sLimits += std::string(sLimits.empty() ? "; out of range: " : ", ") + "AI" +
                       std::to_string(board_.channels[c].nChannel) + " " + plural(totals.outOfRange[c], "scan");
        }
        for (size_t i = 0; i < totals.alarmEvents.size(); ++i) {
            const auto& events = totals.alarmEvents[i];
            sLimits += std::string(i == 0 ? "; alarm events: " : ", ") + "AI" + std::to_string(board_.channels[events.first].nChannel) +
                       " " + std::to_string(events.second);
        }
        const std::string sDropped = totals.nRowsDropped >= 0
                                         ? ", " + plural(static_cast<uint64_t>(totals.nRowsDropped), "row") + " dropped"
                                         : "";
        if (clock_.model() != nullptr) appendComment(clockFitLine(clock_.model()->fit()));
        char sTime[40];
        formatUtcMicros(totals.nEndMicros, sTime, sizeof(sTime));
        appendComment(std::string("# end ") + sTime + ": " + plural(totals.nScans, "scan") + ", " +
                      plural(totals.nGaps, "gap") + ", " + plural(totals.nLost, "scan") + " lost" + sDropped + sLimits + "\n");
        flushBuffer();
    }
    pOutput_->close();
}

}  // namespace qlog
