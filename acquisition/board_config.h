// What to acquire from one board: which board, how fast, and which inputs with which settings.
// Programs fill it from their own options (a command line, a config file, a Python call).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "channel_request.h"

namespace qacq {

struct BoardConfig {
    int32_t nBoardId = 0;
    std::string sBoardSerial;              // not empty: the board is found by its serial number
    double dRate = 1000;                   // scans per second asked of the driver
    std::vector<ChannelRequest> channels;  // ascending by channel number
};

// How a setup ended. A program maps it to its exit status, the Python module to an exception.
enum class SetupResult {
    Done,
    NoDriver,       // the driver library could not be loaded
    NoBoard,        // no board, or none of that id or serial number
    Refused,        // a setting the board does not take (sOffered says what it takes instead)
    DriverFailure,  // a driver call failed (nCode, sText)
    Stopped,        // a stop was asked for while the setup ran
};

struct SetupOutcome {
    SetupResult result = SetupResult::Done;
    int32_t nCode = 0;     // the driver's result, where one failed
    std::string sText;     // what was said last, as the message sink got it
    std::string sOffered;  // Refused: what the board offers instead, where it lists it

    bool done() const { return result == SetupResult::Done; }
};

}  // namespace qacq
