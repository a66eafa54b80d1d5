// A channel as the user names it on the command line: AI<k>[:<preset>][,<Property>=<value>]...
// A preset expands into the driver's own property names and values; further pairs follow it (or
// replace a preset's value of the same property), and are written in that order.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace qacq {

using PropertyWrite = std::pair<std::string, std::string>;

struct ChannelRequest {
    int32_t nChannel = 0;                // k of AI<k>
    std::string sPreset;                 // "" when none was named
    std::vector<PropertyWrite> writes;   // Mode first (when known), then the rest, Used included
    bool bRangeGiven = false;            // the user named a Range (not only the preset's)
};

// Parses one CHANNEL argument. On failure *pError says why.
bool parseChannelRequest(const std::string& sText, ChannelRequest* pRequest, std::string* pError);

// Parses CHANNEL arguments into *pChannels, ascending by input number as the scan carries them.
// An input named twice is refused. On failure *pError says why.
bool addChannelRequests(const std::vector<std::string>& texts, std::vector<ChannelRequest>* pChannels, std::string* pError);

// A channel that names its board: "1/AI0:pt100", "serial:32H-00781/AI5:voltage". Without a
// board in front, *pnBoardId is -1 and *psSerial empty. *psChannel is what follows the board.
// False, with *pError, for a board that is neither a number nor serial:<number>.
bool splitBoardOfChannel(const std::string& sText, int32_t* pnBoardId, std::string* psSerial, std::string* psChannel,
                         std::string* pError);

// The text without the spaces and tabs around it.
std::string trimmed(const std::string& s);

// The preset names, for the usage and for messages.
std::string presetNames();

}  // namespace qacq
