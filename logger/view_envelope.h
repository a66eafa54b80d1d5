// What the live view shows of a recording: for each channel, the minimum and maximum of every
// column of a time grid, at four widths (about 1000 columns for each of the windows of 10 s,
// 1 min, 10 min and 1 h), each in a ring of fixed size, so that a browser gets at most a few
// thousand points per channel whatever the rate, and every spike of a full-rate signal shows.
// Also the latest value of each channel, the recent gaps and the recent stretches at a limit.
//
// The writer thread adds rows; viewers' threads take copies. Either holds the lock only for
// moments (a block's rows folded in; a level's columns copied out), and a viewer never holds it
// while it formats or sends, so a slow viewer never holds up the recording.
#pragma once

#include <stdint.h>

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "acquisition_core.h"
#include "alarms.h"
#include "sink.h"

namespace qlog {

class ViewEnvelope {
public:
    static constexpr int kLevels = 4;
    static constexpr uint32_t kRingColumns = 1200;  // a window's 1000 and some to spare
    static constexpr double kWindowSeconds[kLevels] = {10, 60, 600, 3600};

    ViewEnvelope(const BoardSetup& board, const ScanClock& clock);

    // The writer thread's side.
    void add(const RowBlock& block);
    void addGap(const GapRecord& gap);
    void addLimit(const LimitChange& change);
    void addAlarm(const AlarmEvent& event);
    void end();  // the last columns published; the run has ended

    // A viewer's side: the columns of a level published after sequence number nAfter (all that
    // the ring holds when nAfter is 0 or too old: then *pbReset is set) as JSON
    // [[unix seconds, min AI.., max AI.., ...], ...] in each channel's unit, null where there was
    // no measurement; *pnLast is the last sequence number given.
    std::string columnsJson(int nLevel, uint64_t nAfter, uint64_t* pnLast, bool* pbReset) const;
    // {"AI0":{"value":22.5,"unit":"degC","decimals":5},...}: the latest values (null at a limit).
    std::string latestJson() const;
    // The gaps seen (the last 100), [{"from":s,"to":s,"lost":n,"text":"gap: ..."}], and how many.
    std::string gapsJson(uint64_t* pnCount) const;
    // The stretches at a limit (the last 100, open ones included), [{"channel":"AI0","side":"over
    // range","from":s,"to":s or null while open,"from_scan":n,"scans":n or null}], and how often
    // they changed.
    std::string limitsJson(uint64_t* pnChanges) const;
    // The alarms that hold: [{"channel":"AI0","state":"hi","since_scan":n,"since":s,"value":v or null}].
    std::string alarmsJson() const;
    bool ended() const;
    double columnSeconds(int nLevel) const { return levels_[nLevel].dColumnSeconds; }
    // Bytes the rings hold: fixed at the start.
    size_t ringBytes() const;

private:
    struct Column {
        uint64_t nIndex = 0;  // scan / scans per column
        std::vector<float> mins, maxs;  // per channel; NaN where no measurement
        bool bEmpty = true;
    };
    struct Level {
        uint64_t nScansPerColumn = 1;
        double dColumnSeconds = 0;
        Column current;  // being filled (the writer's own)
        // Published columns, slot = sequence % kRingColumns, flat so that a viewer copies a
        // run of them in one go: each slot's index, and its channels' minima and maxima.
        std::vector<uint64_t> ringIndex;
        std::vector<float> ringMins, ringMaxs;
        uint64_t nPublished = 0;  // sequence number of the last published column
    };

    void resetColumn(Column* pColumn, uint64_t nIndex) const;
    void fold(int nLevel, const Column& from);
    void publish(int nLevel);
    void takeRow(uint64_t nScan);

    const BoardSetup& board_;
    const ScanClock clock_;
    const size_t nChannels_;
    Level levels_[kLevels];
    std::vector<double> row_;         // one row in counts
    std::vector<uint8_t> rowLimited_;

    mutable std::mutex mutex_;        // guards what follows and every level's ring
    std::vector<double> latest_;      // counts; NaN at a limit
    bool bHaveLatest_ = false;
    std::deque<std::string> gaps_;
    uint64_t nGaps_ = 0;
    struct Stretch {
        size_t nChannel = 0;
        int nSide = 0;
        uint64_t nFrom = 0;
        uint64_t nScans = 0;
        bool bOpen = true;
    };
    std::deque<Stretch> stretches_;
    uint64_t nLimitChanges_ = 0;
    std::vector<AlarmEvent> alarms_;  // per channel: the event that put it in its state
    bool bEnded_ = false;
};

}  // namespace qlog
