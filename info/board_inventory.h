// What queno_info reads from the driver: boards, their channels, modes, lists and settings, the
// system paths, the network enumeration and the sensor adapters.
#pragma once

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace info {

using Attributes = std::vector<std::pair<std::string, std::string>>;

struct ModeInfo {
    std::string sName;
    std::vector<std::pair<std::string, std::vector<std::string>>> lists;  // name, entries in order
    std::vector<std::pair<std::string, Attributes>> settings;            // child elements that are no lists
    bool operator==(const ModeInfo& other) const {
        return sName == other.sName && lists == other.lists && settings == other.settings;
    }
};

struct ChannelInfo {
    int32_t nChannel = 0;
    std::vector<ModeInfo> modes;
};

struct ChannelKindInfo {
    std::string sKind;  // AI, CNT, Discret, BoardCNT, UART
    int32_t nCount = 0;
    bool bHasModes = false;  // UART channels have no modes: listed by number only
    std::vector<ChannelInfo> channels;
};

struct BoardInfo {
    int32_t nBoardId = 0;
    std::string sName;
    std::string sSerial;     // what tells two boards of one model apart
    int32_t nMinSampleRate = 0;
    int32_t nMaxSampleRate = 0;
    std::vector<int32_t> resolutionsAI;
    std::vector<ChannelKindInfo> kinds;
};

struct AdapterInfo {
    std::string sModel;
    double dMin = 0;
    double dMax = 0;
    std::string sUnit;
};

// Everything about one board, through the utility library's queries and, for what it has no query
// for, XPath expressions on the board's properties.
BoardInfo readBoard(int32_t nBoardId);

// What the inventory has to say beside a failed read (a list cut because the driver reports more
// entries than any board has). Like CheckError, each program provides it: queno_info prints it,
// the Python module keeps it.
void sayInventoryNote(const std::string& sText);
// The driver's system paths by name: config, log, systemxml, testresults, backup.
std::vector<std::pair<std::string, std::string>> readSystemPaths();
// The driver's network enumeration as the XML text it answers.
std::string readNetworkEnumeration();
std::vector<AdapterInfo> readAdapters();

// Driver reads that failed with an error since the driver was bound; each was reported already.
void countFailedReads();
// Counts a failure the tool found itself (a count no board has).
void noteFailedRead();
int failedReads();

}  // namespace info
