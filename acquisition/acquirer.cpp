#include "acquirer.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "kivo_api.h"
#include "scaling.h"
#include "stop_signals.h"
#include "host_clock.h"

namespace qacq {

namespace {

int32_t mul32(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b)); }


}  // namespace

Acquirer::Acquirer(const BoardSetup& board, ScanQueue* pQueue, uint64_t nScanLimit, MessageSink& messages)
    : board_(board), pQueue_(pQueue), nScanLimit_(nScanLimit), messages_(messages), words_(board.channels.size(), 0),
      latest_(board.channels.size(), 0) {
    walk_.nScanSize = board.nScanSize;
}

// After every start: the driver may place the buffer elsewhere.
void Acquirer::readBufferGeometry() {
    const std::string sStep = board_.sPath + ": reading the buffer's place";
    reportDriver(messages_, sStep, KiVoGetParam_i64(board_.nBoardId, ParamBufferQuery32, &nBufferQuery32_));
    reportDriver(messages_, sStep, KiVoGetParam_i64(board_.nBoardId, ParamBufferEnd, &walk_.nBufferEnd));
    reportDriver(messages_, sStep, KiVoGetParam_i32(board_.nBoardId, ParamBufferSize, &walk_.nBufferSize));
}

// The model's segment begins where the nominal clock puts the first scan: the time of the start
// (or restart) and the held-back scans.
void Acquirer::beginSegment(uint64_t nFirstScan, int64_t nUtcMicros, int64_t nMonotonic) {
    if (pModel_ == nullptr) return;
    const int64_t nDelay = static_cast<int64_t>(nearbyint(board_.nSampleDelay * 1e6 / board_.dRate));
    pModel_->begin(nFirstScan, nUtcMicros + nDelay, nMonotonic + nDelay);
}

int Acquirer::start() {
    int32_t nResult = KiVoSetParam_i32(board_.nBoardId, ParamStartAcq, 0);
    nFirstScanMicros_ = utcMicrosNow();
    beginSegment(0, nFirstScanMicros_, monotonicMicros());
    if (nResult != 0) {
        say(textf("%s: the acquisition did not start: %s", board_.sPath.c_str(),
                driverText(nResult).c_str()), nResult);
        return 1;
    }
    readBufferGeometry();
    return 0;
}

int Acquirer::pollIntervalMs() const {
    // A sixteenth of the time the buffer holds, from 10 ms to 100 ms.
    if (walk_.nScanSize <= 0 || walk_.nBufferSize <= 0 || board_.dRate <= 0) return 10;
    double dBufferMs = 1000.0 * (walk_.nBufferSize / walk_.nScanSize) / board_.dRate;
    double dWait = dBufferMs / 16;
    return dWait < 10 ? 10 : (dWait > 100 ? 100 : static_cast<int>(dWait));
}

void Acquirer::publishPending() {
    if (nPending_ == 0) return;
    pQueue_->publish(nPending_);
    nPending_ = 0;
    nFree_ = 0;
}

void Acquirer::recordDrops() {
    if (nDropped_ == 0) return;
    publishPending();  // the gap sits after every scan kept before it
    GapRecord gap;
    gap.nQueuedBefore = pQueue_->queued();
    gap.nNextScan = nNextScan_;
    gap.nLost = nDropped_;
    gap.cause = GapCause::QueueFull;
    pQueue_->addGap(gap);
    nDropped_ = 0;
}

// The next run of scans: straight from the driver's buffer into the queue, as many as lie
// contiguously in both, in one copy; or, when the queue is full, one scan read and dropped (counted).
// Scans are published to the writer once per batch, or per stretch of contiguous room. How many
// were read; 0 when the walk would leave the buffer.
int32_t Acquirer::readRun(int32_t nWanted, int32_t nWords, const int32_t** ppLast) {
    if (nFree_ == 0) {
        publishPending();
        nFree_ = pQueue_->contiguousFree();
    }
    if (nFree_ > 0 && nDropped_ > 0) {
        recordDrops();  // the gap goes before this scan; it publishes what was pending
        if (nFree_ == 0) nFree_ = pQueue_->contiguousFree();
    }
    if (nFree_ == 0) {
        if (!RingWalk_ReadScan(&walk_, words_.data(), nWords)) return 0;
        ++nDropped_;
        ++nNextScan_;
        return 1;
    }
    const uint64_t nRun = std::min<uint64_t>({static_cast<uint64_t>(nWanted),
                                              static_cast<uint64_t>(RingWalk_ContiguousScans(&walk_, nWords)), nFree_});
    int32_t* pSlot = pQueue_->writeSlot(nPending_);
    if (nRun == 0 || !RingWalk_ReadRun(&walk_, pSlot, nWords, static_cast<int32_t>(nRun))) return 0;
    formatRawBlock(pSlot, nRun * static_cast<size_t>(nWords), 24, board_.nShift);
    *ppLast = pSlot + (nRun - 1) * static_cast<size_t>(nWords);
    nPending_ += nRun;
    nFree_ -= nRun;
    nNextScan_ += nRun;
    return static_cast<int32_t>(nRun);
}

// A driver that refuses the start for a moment (a failing call, an acquisition it still counts as
// running) gets this long before the run ends.
constexpr int64_t kRestartGiveUpMicros = 2000000;
// Queries failing for this long get a restart: the scans they hide are lost anyway.
constexpr int64_t kFailingMicros = 500000;

void Acquirer::restart(GapCause cause, const std::string& sWhat) {
    publishPending();
    recordDrops();
    const int64_t nGiveUp = monotonicMicros() + kRestartGiveUpMicros;
    reportDriver(messages_, board_.sPath + ": stopping the acquisition", KiVoSetParam_i32(board_.nBoardId, ParamStopAcq, 0));
    int32_t nResult = KiVoSetParam_i32(board_.nBoardId, ParamStartAcq, 0);
    while (nResult != 0 && monotonicMicros() < nGiveUp && StopSignalReceived() == 0) {
        SleepUntilStopSignal(pollIntervalMs());
        KiVoSetParam_i32(board_.nBoardId, ParamStopAcq, 0);  // the start's answer says whether it mattered
        nResult = KiVoSetParam_i32(board_.nBoardId, ParamStartAcq, 0);
    }
    const int64_t nRestart = utcMicrosNow();
    const int64_t nRestartMonotonic = monotonicMicros();
    if (nResult != 0) {
        say(textf("%s: the acquisition did not restart after %s: %s", board_.sPath.c_str(),
                cause == GapCause::Overflow ? "a buffer overflow" : sWhat.c_str(), driverText(nResult).c_str()), nResult);
        bFailed_ = true;
        return;
    }
    readBufferGeometry();
    // The scans between the last one kept and the restart are lost; their number follows from
    // the time, so the scan column and the times stay true. At least one: the column always jumps.
    double dDue = nearbyint(static_cast<double>(nRestart - nFirstScanMicros_) * board_.dRate / 1e6);
    uint64_t nResume = nNextScan_ + 1;
    if (dDue > static_cast<double>(nResume) && dDue < 1.8e19) nResume = static_cast<uint64_t>(dDue);
    if (nResume > nScanLimit_ && nScanLimit_ > nNextScan_) nResume = nScanLimit_;
    GapRecord gap;
    gap.nQueuedBefore = pQueue_->queued();
    gap.nNextScan = nResume;
    gap.nLost = nResume - nNextScan_;
    gap.cause = cause;
    gap.nRestartMicros = nRestart;
    pQueue_->addGap(gap);
    say(textf("%s after %llu scans: %llu lost; acquisition restarted", sWhat.c_str(),
            static_cast<unsigned long long>(nNextScan_), static_cast<unsigned long long>(gap.nLost)));
    nNextScan_ = nResume;
    nFailingSince_ = 0;
    beginSegment(nResume, nRestart, nRestartMonotonic);
}

// A query the driver did not answer. Said once; repeats are counted. Failing for long, the
// acquisition is restarted. False when the run must end.
bool Acquirer::queryFailed(const char* sQuery, int32_t nResult) {
    const std::string sFailure = std::string(sQuery) + " failed: " + driverText(nResult);
    if (sFailure != sFailure_) {
        queriesAnswerAgain();
        say(textf("%s: %s", board_.sPath.c_str(), sFailure.c_str()));
        sFailure_ = sFailure;
    } else {
        ++nRepeats_;
    }
    const int64_t nNow = monotonicMicros();
    if (nFailingSince_ == 0) nFailingSince_ = nNow;
    if (nNow - nFailingSince_ >= kFailingMicros) {
        queriesAnswerAgain();
        restart(GapCause::DriverFailing, "the driver's queries kept failing (" + driverText(nResult) + ")");
    }
    return !bFailed_ && nNextScan_ < nScanLimit_;
}

void Acquirer::queriesAnswerAgain() {
    if (nRepeats_ > 0) {
        say(textf("%s: the same error %llu more time%s", board_.sPath.c_str(),
                static_cast<unsigned long long>(nRepeats_), nRepeats_ == 1 ? "" : "s"));
    }
    nRepeats_ = 0;
    nFailingSince_ = 0;
    sFailure_.clear();
}

bool Acquirer::poll() {
    if (nNextScan_ >= nScanLimit_) return false;
    int32_t nAvailable = 0;
    int32_t nResult = KiVoGetParam_i32(board_.nBoardId, ParamAvailableSamples, &nAvailable);
    const int64_t nAsked = monotonicMicros();
    if (nResult == ResultBufferOverflow) {
        restart(GapCause::Overflow, "buffer overflow");
        return !bFailed_ && nNextScan_ < nScanLimit_;
    }
    if (nResult > 0) return queryFailed("the available-samples query", nResult);
    reportDriver(messages_, board_.sPath + ": the available-samples query", nResult);
    // The driver keeps the last nSampleDelay scans back while its filter settles.
    int64_t nReady = static_cast<int64_t>(nAvailable) - board_.nSampleDelay;
    if (nReady <= 0) {
        if (!sFailure_.empty()) queriesAnswerAgain();
        return true;
    }
    if (pModel_ != nullptr) pModel_->anchor(nNextScan_ + static_cast<uint64_t>(nReady), nAsked);
    uint64_t nLeft = nScanLimit_ - nNextScan_;
    int32_t nTake = static_cast<uint64_t>(nReady) < nLeft ? static_cast<int32_t>(nReady) : static_cast<int32_t>(nLeft);

    walk_.nReadPos = 0;
    nResult = KiVoGetParam_i64(board_.nBoardId, ParamReadPosition, &walk_.nReadPos);
    if (nResult > 0) return queryFailed("the read-position query", nResult);
    if (!sFailure_.empty()) queriesAnswerAgain();
    walk_.nReadPos = RingWalk_Advance(walk_.nReadPos, mul32(board_.nSampleDelay, board_.nScanSize));
    const int32_t nWords = static_cast<int32_t>(words_.size());
    if (!RingWalk_Usable(&walk_, nTake, nWords)) {
        if (!bReported_) {
            say(textf("the ring buffer the driver describes cannot be read safely (buffer size %d, "
                    "scan size %d); its scans are not read", static_cast<int>(walk_.nBufferSize),
                    static_cast<int>(walk_.nScanSize)));
            bReported_ = true;
        }
        return true;
    }
    // Runs of scans from the driver's buffer straight into the queue, wrap point by wrap point.
    int32_t nRead = 0;
    const int32_t* pLast = nullptr;
    while (nRead < nTake) {
        const int32_t nRun = readRun(nTake - nRead, nWords, &pLast);
        if (nRun == 0) break;
        nRead += nRun;
    }
    if (pLast != nullptr) latest_.assign(pLast, pLast + nWords);
    publishPending();
    nResult = KiVoSetParam_i32(board_.nBoardId, ParamReleaseSamples, nRead);
    if (nResult > 0) {
        // The driver still holds scans that are in the queue now: read again, they would be
        // written twice under new numbers. A new start empties its buffer.
        restart(GapCause::ReleaseFailed, "the driver did not take back the scans read (" + driverText(nResult) + ")");
        return !bFailed_ && nNextScan_ < nScanLimit_;
    }
    reportDriver(messages_, board_.sPath + ": releasing scans", nResult);
    return nNextScan_ < nScanLimit_;
}

void Acquirer::endUndelivered() {
    publishPending();
    recordDrops();
    if (nNextScan_ >= nScanLimit_) return;
    GapRecord gap;
    gap.nQueuedBefore = pQueue_->queued();
    gap.nNextScan = nScanLimit_;
    gap.nLost = nScanLimit_ - nNextScan_;
    gap.cause = GapCause::Undelivered;
    pQueue_->addGap(gap);
    say(textf("the duration has passed, but the driver has delivered only %llu of its %llu scans; ending",
            static_cast<unsigned long long>(nNextScan_), static_cast<unsigned long long>(nScanLimit_)));
    nNextScan_ = nScanLimit_;
}

void Acquirer::finish() {
    publishPending();
    recordDrops();
}

}  // namespace qacq
