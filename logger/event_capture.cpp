#include "event_capture.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>

#include "program_messages.h"

namespace qlog {

namespace {

uint64_t scansOf(double dSeconds, double dRate) {
    const double d = ceil(dSeconds * dRate);
    return d <= 0 ? 0 : static_cast<uint64_t>(d);
}

}  // namespace

EventCapture::EventCapture(const LogOptions& options, const BoardSetup& board, const ScanClock& clock, std::string sBase)
    : options_(options), board_(board), clock_(clock), sBase_(std::move(sBase)), nChannels_(board.channels.size()),
      nPreScans_(scansOf(options.dCapturePreSeconds, board.dRate)), nPostScans_(scansOf(options.dCapturePostSeconds, board.dRate)),
      ring_(nPreScans_ * board.channels.size()), ringScans_(nPreScans_) {
    options_.nAverage = 1;
    options_.bSigmf = true;
    options_.dRotateSeconds = 0;
    options_.nRotateBytes = 0;
    options_.alarms.clear();
    totals_.outOfRange.assign(nChannels_, 0);
}

EventCapture::~EventCapture() { close(); }

// A new capture named by the next free number, with the ring's scans and their gaps.
bool EventCapture::open(const AlarmEvent& event) {
    output_.reset(new OutputFile);
    output_->pairWith(".sigmf-meta");
    std::string sError;
    bool bOpen = false;
    while (!bOpen && nNumber_ < 9999) {
        char sNumber[16];
        snprintf(sNumber, sizeof(sNumber), "-alarm-%04d", ++nNumber_);
        bOpen = output_->open(sBase_ + sNumber + ".sigmf-data", false, &sError);
        if (!bOpen && sError.find(" exists; ") == std::string::npos) break;
    }
    if (!bOpen) {
        say("--capture: " + sError + "; this event is not captured");
        output_.reset();
        return false;
    }
    sink_.reset(new SigmfSink(options_, board_, output_.get(), clock_));
    sink_->firstScanIs(nRingSize_ > 0 ? ringScans_[nRingStart_] : event.nScan);
    if (!sink_->begin()) {
        close();
        return false;
    }
    totals_ = RunTotals();
    totals_.outOfRange.assign(nChannels_, 0);
    // The ring's scans in runs of consecutive numbers, each gap between them before its run.
    size_t nDone = 0;
    while (nDone < nRingSize_) {
        const size_t nSlot = (nRingStart_ + nDone) % nPreScans_;
        if (nDone > 0) {
            const uint64_t nBefore = ringScans_[(nRingStart_ + nDone - 1) % nPreScans_];
            for (const GapRecord& gap : gaps_) {
                if (gap.nNextScan == ringScans_[nSlot] && gap.nNextScan > nBefore) {
                    sink_->gap(gap);
                    ++totals_.nGaps;
                    totals_.nLost += gap.nLost;
                }
            }
        }
        size_t nRun = 1;
        while (nDone + nRun < nRingSize_ && nSlot + nRun < nPreScans_ && ringScans_[nSlot + nRun] == ringScans_[nSlot] + nRun) ++nRun;
        RowBlock block;
        block.nFirstScan = ringScans_[nSlot];
        block.nRows = nRun;
        block.pCounts = ring_.data() + nSlot * nChannels_;
        sink_->rows(block);
        totals_.nScans += nRun;
        nDone += nRun;
    }
    return true;
}

void EventCapture::close() {
    if (sink_ == nullptr) return;
    totals_.nEndMicros = utcMicrosNow();
    sink_->end(totals_);
    sink_.reset();
    output_.reset();
}

void EventCapture::alarm(const AlarmEvent& event) {
    if (event.state != AlarmState::Normal) {
        const uint64_t nEnd = event.nScan + nPostScans_;
        if (sink_ == nullptr) {
            if (!open(event)) return;
            nEndScan_ = nEnd;
        } else {
            nEndScan_ = std::max(nEndScan_, nEnd);  // an event inside an open capture extends it
        }
    }
    if (sink_ != nullptr) sink_->alarm(event);
}

void EventCapture::gap(const GapRecord& gap) {
    gaps_.push_back(gap);
    while (nRingSize_ > 0 && !gaps_.empty() && gaps_.front().nNextScan <= ringScans_[nRingStart_]) gaps_.pop_front();
    if (sink_ == nullptr) return;
    if (gap.nNextScan - gap.nLost > nEndScan_) {  // the capture's window ends in the gap
        close();
        return;
    }
    sink_->gap(gap);
    ++totals_.nGaps;
    totals_.nLost += gap.nLost;
}

void EventCapture::give(const int32_t* pWords, uint64_t nFirstScan, uint64_t nScans) {
    if (sink_ == nullptr) return;
    const uint64_t nTake = nFirstScan > nEndScan_ ? 0 : std::min<uint64_t>(nScans, nEndScan_ - nFirstScan + 1);
    if (nTake > 0) {
        RowBlock block;
        block.nFirstScan = nFirstScan;
        block.nRows = static_cast<size_t>(nTake);
        block.pCounts = pWords;
        sink_->rows(block);
        totals_.nScans += nTake;
    }
    if (nFirstScan + nScans > nEndScan_) close();
}

void EventCapture::scans(const int32_t* pWords, uint64_t nFirstScan, uint64_t nScans) {
    give(pWords, nFirstScan, nScans);
    if (nPreScans_ == 0) return;
    // The ring keeps the last nPreScans_ of them.
    const uint64_t nSkip = nScans > nPreScans_ ? nScans - nPreScans_ : 0;
    for (uint64_t i = nSkip; i < nScans; ++i) {
        const size_t nSlot = (nRingStart_ + nRingSize_) % nPreScans_;
        std::copy(pWords + i * nChannels_, pWords + (i + 1) * nChannels_, ring_.begin() + nSlot * nChannels_);
        ringScans_[nSlot] = nFirstScan + i;
        if (nRingSize_ < nPreScans_) {
            ++nRingSize_;
        } else {
            nRingStart_ = (nRingStart_ + 1) % nPreScans_;
        }
    }
}

void EventCapture::end() { close(); }

}  // namespace qlog
