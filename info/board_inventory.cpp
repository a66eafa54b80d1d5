// Reading the inventory. Counts, limits, resolutions, modes and list entries come from the
// utility library; the names of a mode's child elements and their attributes, which it has no
// query for, come from XPath 1.0 expressions on "BoardID<n>/BoardProperties".
#include "board_inventory.h"

#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "adapter_table.h"
#include "board_queries.h"
#include "kivo_api.h"
#include "system_info.h"

namespace info {

namespace {

constexpr uint32_t kTextSize = 4096;

struct KindQueries {
    const char* sKind;
    int32_t (*count)(int32_t);
    int32_t (*numModes)(int32_t, int32_t);
    int32_t (*modeName)(int32_t, int32_t, int32_t, char*, uint32_t);
};

const KindQueries kKinds[] = {
    {"AI", QUENO_GetNrOfChannelsAI, QUENO_ChanProp_GetNumModesAI, QUENO_ChanProp_GetModeNameAI},
    {"CNT", QUENO_GetNrOfChannelsCNT, QUENO_ChanProp_GetNumModesCNT, QUENO_ChanProp_GetModeNameCNT},
    {"Discret", QUENO_GetNrOfChannelsDI, QUENO_ChanProp_GetNumModesDI, QUENO_ChanProp_GetModeNameDI},
    {"BoardCNT", QUENO_GetNrOfChannelsBoardCNT, QUENO_ChanProp_GetNumModesBoardCNT, QUENO_ChanProp_GetModeNameBoardCNT},
    {"UART", QUENO_GetNrOfChannelsUART, nullptr, nullptr},
};

// The answer of an XPath expression relative to the board's properties; "" when the query failed
// (reported by CheckError).
std::string xpathText(int32_t nBoardId, const std::string& sQuery) {
    char sBase[64];
    snprintf(sBase, sizeof(sBase), "BoardID%d/BoardProperties", static_cast<int>(nBoardId));
    char sAnswer[kTextSize + 1] = {};  // one byte more than the driver is told: always terminated
    int32_t nResult = KiVoGetParamXML_str(sBase, sQuery.c_str(), sAnswer, kTextSize);
    CheckError(nResult);
    return nResult > 0 ? std::string() : std::string(sAnswer);
}

// A count from the driver that no board has: listing it would run for hours. It is cut to a size
// any board has, said on standard error and counted as a failed read.
constexpr int32_t kMostListed = 4096;

int32_t bounded(int32_t nCount, int32_t nBoardId, const char* sWhat) {
    if (nCount <= kMostListed) return nCount;
    char sText[200];
    snprintf(sText, sizeof(sText), "board %d: the driver reports %d %s; only the first %d are listed", static_cast<int>(nBoardId),
             static_cast<int>(nCount), sWhat, static_cast<int>(kMostListed));
    sayInventoryNote(sText);
    noteFailedRead();
    return kMostListed;
}

int32_t xpathCount(int32_t nBoardId, const std::string& sQuery) {
    return static_cast<int32_t>(strtol(xpathText(nBoardId, "count(" + sQuery + ")").c_str(), nullptr, 10));
}

// The child elements of a mode: lists (with ID<n> children) by their entries, the others by their
// attributes.
void readModeContents(int32_t nBoardId, const KindQueries& kind, int32_t nChannel, int32_t nMode, ModeInfo* pMode) {
    const std::string sMode = "ChannelProperties/" + std::string(kind.sKind) + std::to_string(nChannel) + "/Mode[" +
                              std::to_string(nMode + 1) + "]";
    int32_t nChildren = bounded(xpathCount(nBoardId, sMode + "/*"), nBoardId, "settings of a mode");
    for (int32_t k = 1; k <= nChildren; ++k) {
        const std::string sChild = sMode + "/*[" + std::to_string(k) + "]";
        std::string sName = xpathText(nBoardId, "name(" + sChild + ")");
        if (sName.empty()) continue;
        if (xpathCount(nBoardId, sChild + "/*[starts-with(local-name(), 'ID')]") > 0) {
            std::vector<std::string> entries;
            int32_t nEntries = bounded(
                QUENO_ChanProp_GetNum(nBoardId, nChannel, kind.sKind, pMode->sName.c_str(), sName.c_str()), nBoardId,
                "entries of a list");
            for (int32_t e = 0; e < nEntries; ++e) {
                char sEntry[kTextSize + 1] = {};
                QUENO_ChanProp_GetEntry(nBoardId, nChannel, kind.sKind, pMode->sName.c_str(), sName.c_str(), e, sEntry,
                                        kTextSize);
                entries.emplace_back(sEntry);
            }
            pMode->lists.emplace_back(sName, std::move(entries));
            continue;
        }
        Attributes attributes;
        int32_t nAttributes = bounded(xpathCount(nBoardId, sChild + "/@*"), nBoardId, "attributes of a setting");
        for (int32_t a = 1; a <= nAttributes; ++a) {
            const std::string sAttribute = sChild + "/@*[" + std::to_string(a) + "]";
            attributes.emplace_back(xpathText(nBoardId, "name(" + sAttribute + ")"),
                                    xpathText(nBoardId, "string(" + sAttribute + ")"));
        }
        pMode->settings.emplace_back(sName, std::move(attributes));
    }
}

ChannelInfo readChannel(int32_t nBoardId, const KindQueries& kind, int32_t nChannel) {
    ChannelInfo channel;
    channel.nChannel = nChannel;
    int32_t nModes = bounded(kind.numModes(nBoardId, nChannel), nBoardId, "modes of a channel");
    for (int32_t m = 0; m < nModes; ++m) {
        ModeInfo mode;
        char sName[kTextSize + 1] = {};
        kind.modeName(nBoardId, nChannel, m, sName, kTextSize);
        mode.sName = sName;
        readModeContents(nBoardId, kind, nChannel, m, &mode);
        channel.modes.push_back(std::move(mode));
    }
    return channel;
}

}  // namespace

BoardInfo readBoard(int32_t nBoardId) {
    BoardInfo board;
    board.nBoardId = nBoardId;
    char sName[kTextSize + 1] = {};
    QUENO_GetBoardName(nBoardId, sName, kTextSize);
    board.sName = sName;
    char sSerial[kTextSize + 1] = {};
    char sTarget[32];
    snprintf(sTarget, sizeof(sTarget), "BoardID%d", static_cast<int>(nBoardId));
    CheckError(KiVoGetParamStruct_str(sTarget, "SerialNumber", sSerial, kTextSize));
    board.sSerial = sSerial;
    board.nMinSampleRate = QUENO_AcqProp_GetMinSampleRate(nBoardId);
    board.nMaxSampleRate = QUENO_AcqProp_GetMaxSampleRate(nBoardId);
    int32_t nResolutions = bounded(QUENO_AcqProp_GetNumResolutionAI(nBoardId), nBoardId, "AI resolutions");
    for (int32_t i = 0; i < nResolutions; ++i) board.resolutionsAI.push_back(QUENO_AcqProp_GetResolutionAI(nBoardId, i));
    for (const KindQueries& kind : kKinds) {
        ChannelKindInfo info;
        info.sKind = kind.sKind;
        info.nCount = bounded(kind.count(nBoardId), nBoardId, (std::string(kind.sKind) + " channels").c_str());
        info.bHasModes = kind.numModes != nullptr;
        for (int32_t c = 0; c < info.nCount; ++c) {
            if (info.bHasModes) {
                info.channels.push_back(readChannel(nBoardId, kind, c));
            } else {
                info.channels.emplace_back();
                info.channels.back().nChannel = c;
            }
        }
        board.kinds.push_back(std::move(info));
    }
    return board;
}

std::vector<std::pair<std::string, std::string>> readSystemPaths() {
    std::vector<std::pair<std::string, std::string>> paths;
    for (const ApiPathEntry& entry : sApiPathTable) {
        char sPath[kTextSize + 1] = {};
        int32_t nResult = GetApiPath(entry.nKey, sPath, kTextSize);
        if (nResult != 0) {
            fprintf(stderr, "queno_info: the system path \"%s\" could not be read (result %d)\n", entry.sNode,
                    static_cast<int>(nResult));
            fflush(stderr);
        }
        paths.emplace_back(entry.sNode, sPath);
    }
    return paths;
}

std::string readNetworkEnumeration() {
    uint32_t nLength = 0;
    if (KiVoGetParamStruct_strLEN == nullptr ||
        CheckError(KiVoGetParamStruct_strLEN("quenoetapi", "Network/Enumerate", &nLength)) != 0) {
        return "";
    }
    std::vector<char> answer(static_cast<size_t>(nLength) + 2, '\0');
    int32_t nResult = KiVoGetParamStruct_str("quenoetapi", "Network/Enumerate", answer.data(),
                                             static_cast<uint32_t>(answer.size() - 1));
    CheckError(nResult);
    return nResult > 0 ? std::string() : std::string(answer.data());
}

std::vector<AdapterInfo> readAdapters() {
    std::vector<AdapterInfo> adapters;
    for (const RukAdapter& adapter : sRukAdapterTable) {
        adapters.push_back({adapter.sModel, RUK_GetMinRange(adapter.sModel), RUK_GetMaxRange(adapter.sModel),
                            RUK_GetMaxRangeUnit(adapter.sModel)});
    }
    return adapters;
}

}  // namespace info
