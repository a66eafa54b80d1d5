#include "acquisition_session.h"

#include <chrono>

#include "board_session.h"
#include "messages.h"
#include "kivo_api.h"
#include "session_error.h"
#include "stop_signals.h"

namespace qpy {

AcquisitionSession::AcquisitionSession(std::shared_ptr<BoardSession> owner, const qacq::BoardSetup& board, bool bKeepLimits,
                         bool bRaiseOnGap)
    : owner_(std::move(owner)), board_(board), bKeepLimits_(bKeepLimits), bRaiseOnGap_(bRaiseOnGap),
      nCapacity_(qacq::queueCapacityScans(board.dRate, static_cast<uint32_t>(board.channels.size()))),
      queue_(nCapacity_, static_cast<uint32_t>(board.channels.size())), acquirer_(board_, &queue_, UINT64_MAX, owner_->messages()) {
    nMark_ = owner_->messages().mark();
    if (acquirer_.start() != 0) {
        bStopped_ = true;
        throw owner_->messages().errorSince(nMark_, ErrorKind::Error, "the acquisition did not start");
    }
    clock_ = qacq::ScanClock(acquirer_.firstScanMicros(), board_.nSampleDelay, board_.rate);
    thread_ = std::thread([this] { run(); });
}

AcquisitionSession::~AcquisitionSession() { stop(); }

void AcquisitionSession::run() {
    // Ctrl-C belongs to the interpreter's main thread.
    BlockStopSignals();
    std::unique_lock<std::mutex> lock(mutex_);
    while (!bStopping_) {
        wake_.wait_for(lock, std::chrono::milliseconds(acquirer_.pollIntervalMs()), [this] { return bStopping_; });
        if (bStopping_) break;
        lock.unlock();
        bool bGoOn = false;
        {
            DriverLock driver;
            bGoOn = acquirer_.poll();
        }
        lock.lock();
        if (!bGoOn) {
            bEnded_ = true;
            if (acquirer_.failed()) sFailure_ = owner_->messages().errorSince(nMark_, ErrorKind::Error, "the acquisition failed").what();
            break;
        }
        ready_.notify_all();
    }
    bEnded_ = true;
    ready_.notify_all();
}

void AcquisitionSession::stop() {
    if (!inDriverProcess()) return;  // the parent's acquisition
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (bStopped_) return;
        bStopped_ = true;
        bStopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    DriverLock driver;
    // What the driver has delivered by now is the scan's: one last read before the stop.
    if (!acquirer_.failed()) acquirer_.poll();
    qacq::reportDriver(owner_->messages(), board_.sPath + ": stopping the acquisition",
                       KiVoSetParam_i32(board_.nBoardId, ParamStopAcq, 0));
    acquirer_.finish();
    std::lock_guard<std::mutex> lock(mutex_);
    ready_.notify_all();
}

std::string AcquisitionSession::failure() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sFailure_;
}

AcquisitionSession::State AcquisitionSession::wait(int nTimeoutMs) {
    qacq::GapRecord gap;
    const auto readable = [&] { return queue_.readable() > 0 || queue_.peekGap(&gap); };
    std::unique_lock<std::mutex> lock(mutex_);
    if (ready_.wait_for(lock, std::chrono::milliseconds(nTimeoutMs), [&] { return readable() || bEnded_; })) {
        // Ended, but scans are left: they are read first.
        return readable() ? State::Ready : State::Ended;
    }
    return State::Waiting;
}

AcquisitionSession::Piece AcquisitionSession::next(uint64_t nMax) {
    Piece piece;
    const uint64_t nConsumed = queue_.consumed();
    qacq::GapRecord gap;
    const bool bGapAhead = queue_.peekGap(&gap);
    if (bGapAhead && gap.nQueuedBefore <= nConsumed) {
        piece.bGap = true;
        piece.gap = gap;
        return piece;
    }
    uint64_t nScans = queue_.contiguousReadable();
    if (bGapAhead && gap.nQueuedBefore - nConsumed < nScans) nScans = gap.nQueuedBefore - nConsumed;
    piece.nScans = nScans < nMax ? nScans : nMax;
    piece.pCounts = queue_.readSlot();
    piece.nFirstScan = nNextScan_;
    return piece;
}

void AcquisitionSession::take(const Piece& piece) {
    if (piece.bGap) {
        queue_.popGap();
        nNextScan_ = piece.gap.nNextScan;
        nLost_ += piece.gap.nLost;
        ++nGaps_;
    } else {
        queue_.consume(piece.nScans);
        nNextScan_ += piece.nScans;
    }
}

}  // namespace qpy
