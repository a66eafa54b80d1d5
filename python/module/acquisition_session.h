// One acquisition of a board from Python (what queno.Board.scan() starts): it runs on a thread of its own exactly as in
// queno_log (the ring buffer read in place, handed back at once, the scans kept in a queue with
// their gaps), and the Python side takes what the queue holds, as runs of whole scans.
#pragma once

#include <stdint.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "acquirer.h"
#include "board_setup.h"
#include "scan_clock.h"
#include "scan_queue.h"

namespace qpy {

class BoardSession;

class AcquisitionSession {
public:
    // Starts the acquisition of a configured board; throws SessionError when the driver refuses.
    AcquisitionSession(std::shared_ptr<BoardSession> owner, const qacq::BoardSetup& board, bool bKeepLimits, bool bRaiseOnGap);
    ~AcquisitionSession();
    AcquisitionSession(const AcquisitionSession&) = delete;
    AcquisitionSession& operator=(const AcquisitionSession&) = delete;

    // Stops the acquisition; what the queue holds can still be read. Called again, nothing happens.
    void stop();
    bool stopped() const { return bStopped_; }

    const qacq::BoardSetup& board() const { return board_; }
    const qacq::ScanClock& clock() const { return clock_; }
    bool keepLimits() const { return bKeepLimits_; }
    bool raiseOnGap() const { return bRaiseOnGap_; }

    // The reading side, for one reader at a time (the caller holds readerMutex()).
    enum class State { Ready, Waiting, Ended };
    // Waits at most nTimeoutMs for scans or a gap to read.
    State wait(int nTimeoutMs);
    // What comes next: a gap, or up to nMax scans that lie in one run of the queue's memory.
    struct Piece {
        bool bGap = false;
        qacq::GapRecord gap;
        const int32_t* pCounts = nullptr;  // nScans x channels
        uint64_t nScans = 0;
        uint64_t nFirstScan = 0;
    };
    Piece next(uint64_t nMax);
    void take(const Piece& piece);
    std::mutex& readerMutex() { return readerMutex_; }

    // Why the acquisition ended by itself ("" while it runs or when it was stopped).
    std::string failure() const;
    uint64_t gaps() const { return nGaps_; }
    uint64_t lost() const { return nLost_; }
    uint64_t queueCapacity() const { return nCapacity_; }
    uint32_t queueFillPerMille() const { return queue_.fillPerMille(); }

private:
    void run();

    std::shared_ptr<BoardSession> owner_;  // the board stays open while a scan of it lives
    const qacq::BoardSetup board_;
    const bool bKeepLimits_;
    const bool bRaiseOnGap_;
    const uint64_t nCapacity_;
    qacq::ScanQueue queue_;
    qacq::Acquirer acquirer_;
    qacq::ScanClock clock_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;   // the acquisition: stop now
    std::condition_variable ready_;  // the reader: scans, a gap or the end
    bool bStopping_ = false;
    bool bEnded_ = false;
    bool bStopped_ = false;
    std::string sFailure_;
    size_t nMark_ = 0;
    std::thread thread_;

    std::mutex readerMutex_;
    uint64_t nNextScan_ = 0;
    uint64_t nGaps_ = 0;
    uint64_t nLost_ = 0;
};

}  // namespace qpy
