// One board as an acquisition uses it: found, opened, its inputs configured, and what the driver
// settled on read back, since the scaling and a recording's header must describe what was measured.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "board_config.h"
#include "channel_request.h"
#include "messages.h"
#include "scan_rate.h"
#include "scaling.h"

namespace qacq {

struct LoggedChannel {
    int32_t nChannel = 0;
    std::string sPath;                    // "BoardID<n>/AI<k>"
    std::string sMode;
    std::string sRange;                   // as the driver settled it, unit included
    std::string sUnit;                    // what follows the range's numbers
    std::vector<PropertyWrite> settled;   // the other written properties, read back
    double dRange[2] = {0, 0};
    ScaleInfo scale = {0, 0, 0, 0};       // value = raw * scale - offset
    int nDecimals = 0;                    // enough to resolve one count
};

struct BoardSetup {
    int32_t nBoardId = 0;
    std::string sPath;                    // "BoardID<n>"
    std::string sName;
    std::string sSerial;
    int nResolution = 24;                 // bits of a sample
    int nShift = 8;                       // the sample sits in the upper bits of its word
    int32_t nFullScale = 8388607;         // the largest count; its negative is the lowest
    ScanRate rate;                        // scans per second, exactly as the driver settled it
    double dRate = 0;                     // the same as a number, for what needs no exactness
    int32_t nSampleDelay = 0;
    int32_t nScanSize = 0;
    std::vector<LoggedChannel> channels;  // in scan order
};

// Initialises the driver, opens and resets the board, writes the rate and every channel's
// properties, applies them and reads back what was settled. Every failure is said to the sink
// (in the driver's words, with what the board offers instead where it lists it) and returned typed.
// When the setup fails, the board is closed again if it was opened.
SetupOutcome setupBoard(const BoardConfig& config, MessageSink& messages, BoardSetup* pBoard);
// Its two halves: the driver initialised and the board opened and reset (nothing left open on
// failure); then the rate and channels written, applied and read back (the board closed on
// failure). A stop signal between two settings ends the setup as Stopped.
SetupOutcome openBoard(const BoardConfig& config, MessageSink& messages, BoardSetup* pBoard);
SetupOutcome configureBoard(const BoardConfig& config, MessageSink& messages, BoardSetup* pBoard);

// Several boards: initialises the driver and finds every board named, its id for one named by
// serial number, before any board is opened. NoBoard (said) for one the driver does not have.
SetupOutcome findBoards(std::vector<BoardConfig>* pConfigs, MessageSink& messages);

// Stops the acquisition (when bStop) and closes the board.
void closeBoard(const BoardSetup& board, bool bStop, MessageSink& messages);

// A count at the limit of its range is no measurement: the sensor is open or shorted, or the input
// is over range. +1 at the upper limit, -1 at the lower one, 0 within.
inline int limitSide(int32_t nCount, int32_t nFullScale) {
    return nCount >= nFullScale ? 1 : (nCount <= -nFullScale ? -1 : 0);
}

// Decimals that resolve one count of a scale: 1.8e-5 per count needs 5.
int decimalsFor(double dScale);

}  // namespace qacq
