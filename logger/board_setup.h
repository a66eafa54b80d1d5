// The board as the logger uses it: found, opened, its inputs configured, and what the driver
// settled on read back, since the scaling and the file's header must describe what was measured.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "channel_request.h"
#include "driver_report.h"
#include "log_options.h"
#include "scaling.h"

namespace qlog {

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
    double dRate = 0;                     // scans per second, as the driver settled it
    int32_t nSampleDelay = 0;
    int32_t nScanSize = 0;
    std::vector<LoggedChannel> channels;  // in scan order
};

// Initialises the driver, opens and resets the board, writes the rate and every channel's
// properties, applies them and reads back what was settled. Returns 0, or the exit status with
// the reason already printed: 1 no board or a driver that cannot serve, 2 a refused setting.
// On a non-zero result the board is closed again when it was opened.
int setupBoard(const LogOptions& options, BoardSetup* pBoard);
// Its two halves: the driver initialised and the board opened and reset (1 on failure, nothing
// left open); then the rate and channels written, applied and read back (the board closed on
// failure).
int openBoard(const LogOptions& options, BoardSetup* pBoard);
int configureBoard(const LogOptions& options, BoardSetup* pBoard);

// Stops the acquisition (when bStop) and closes the board.
void closeBoard(const BoardSetup& board, bool bStop);

// A count at the limit of its range is no measurement: the sensor is open or shorted, or the input
// is over range. +1 at the upper limit, -1 at the lower one, 0 within.
inline int limitSide(int32_t nCount, int32_t nFullScale) {
    return nCount >= nFullScale ? 1 : (nCount <= -nFullScale ? -1 : 0);
}

// Decimals that resolve one count of a scale: 1.8e-5 per count needs 5.
int decimalsFor(double dScale);

}  // namespace qlog
