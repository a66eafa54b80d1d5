// The status line on a terminal's standard error, at most four times a second: elapsed time (a
// progress bar when the run has an end), scans written, queue fill, each channel's latest value,
// gaps. Nothing of it when standard error is not a terminal or with --quiet.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "acquisition_core.h"

namespace qlog {

struct StatusFacts {
    double dElapsed = 0;       // seconds of scan time
    double dFraction = -1;     // of the run done, or -1 without an end
    uint64_t nWritten = 0;
    uint32_t nQueuePerMille = 0;
    uint64_t nGaps = 0;
    uint64_t nLost = 0;
    bool bMqtt = false;        // publishing: rows waiting for the broker, rows dropped
    uint64_t nSpooled = 0;
    uint64_t nDropped = 0;
};

class StatusLine {
public:
    StatusLine(const BoardSetup& board, bool bQuiet);
    bool enabled() const { return bEnabled_; }
    // Redraws when a quarter second has passed since the last time (or when bForce).
    void update(const StatusFacts& facts, const std::vector<int32_t>& latest, bool bForce = false);
    // A line made by the caller (several boards), drawn by the same rules.
    void show(const std::string& sText, bool bForce = false);
    // Leaves the line, so later messages start on their own.
    void finish();

private:
    const BoardSetup& board_;
    bool bEnabled_ = false;
    bool bShown_ = false;
    int64_t nLastDraw_ = 0;
};

// Clears a status line on the terminal, if one is shown, so that a message starts on a line of
// its own; the next update draws it again.
void clearStatusLine();

// " [#####...............]  25%": how much of a run with an end is done.
std::string progressText(double dFraction);

// "1d 02:03:04" or "02:03:04".
std::string formatElapsed(double dSeconds);

}  // namespace qlog
