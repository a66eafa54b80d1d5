#include "board_setup.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <functional>

#include "board_queries.h"
#include "driver_report.h"
#include "kivo_api.h"

namespace qlog {

namespace {

constexpr size_t kTextSize = 256;

std::string readText(const std::string& sPath, const char* sProperty) {
    char sBuffer[kTextSize] = {0};
    reportDriver(sPath + ": reading " + sProperty, KiVoGetParamStruct_str(sPath.c_str(), sProperty, sBuffer, sizeof(sBuffer)));
    sBuffer[sizeof(sBuffer) - 1] = '\0';
    return sBuffer;
}

// A refused write ends the setup with the driver's own words and, where the board lists them, what
// it takes instead; a warning is shown and accepted.
bool writeText(const std::string& sPath, const std::string& sProperty, const std::string& sValue,
               const std::function<std::string()>& offered = nullptr) {
    int32_t nResult = KiVoSetParamStruct_str(sPath.c_str(), sProperty.c_str(), sValue.c_str());
    if (nResult == 0) return true;
    const std::string sOffered = nResult > 0 && offered ? offered() : "";
    sayLine(sPath + ": " + sProperty + "=\"" + sValue + "\": " + driverText(nResult) + (sOffered.empty() ? "" : "; " + sOffered),
            nResult);
    return nResult < 0;
}

// What a channel offers for a property, as queno_info lists it: its modes, or the entries of the
// property's list in the mode asked for. "" when there is no list to offer.
std::string offeredFor(const BoardSetup& board, const ChannelRequest& request, const std::string& sProperty) {
    constexpr uint32_t kEntrySize = 256;
    std::vector<std::string> entries;
    const std::string sMode = request.writes.empty() || request.writes[0].first != "Mode" ? "" : request.writes[0].second;
    if (sProperty == "Mode") {
        const int32_t nModes = QUENO_ChanProp_GetNumModesAI(board.nBoardId, request.nChannel);
        for (int32_t m = 0; m < nModes && m < 64; ++m) {
            char sEntry[kEntrySize] = {0};
            QUENO_ChanProp_GetModeNameAI(board.nBoardId, request.nChannel, m, sEntry, kEntrySize - 1);
            entries.emplace_back(sEntry);
        }
    } else if (!sMode.empty()) {
        const int32_t nEntries = QUENO_ChanProp_GetNum(board.nBoardId, request.nChannel, "AI", sMode.c_str(), sProperty.c_str());
        for (int32_t e = 0; e < nEntries && e < 64; ++e) {
            char sEntry[kEntrySize] = {0};
            QUENO_ChanProp_GetEntry(board.nBoardId, request.nChannel, "AI", sMode.c_str(), sProperty.c_str(), e, sEntry,
                                    kEntrySize - 1);
            entries.emplace_back(sEntry);
        }
    }
    if (entries.empty()) return "";
    std::string s = sProperty == "Mode" ? "the input offers the modes " : "the mode offers ";
    for (size_t i = 0; i < entries.size(); ++i) s += (i == 0 ? "\"" : ", \"") + entries[i] + "\"";
    return s;
}

// "-100.000000..200.000000 degC" -> "degC"; the unit follows the second number.
std::string unitOfRange(const std::string& sRange) {
    size_t nDots = sRange.find("..");
    const char* sAfter = sRange.c_str() + (nDots == std::string::npos ? 0 : nDots + 2);
    char* pEnd = nullptr;
    strtod(sAfter, &pEnd);
    return trimmed(pEnd);
}

// The id of the board with this serial number, or -1 after saying which serials there are.
int32_t boardWithSerial(const std::string& sSerial, int32_t nBoardCount) {
    std::string sSeen;
    for (int32_t nId = 0; nId < nBoardCount && nId < 1024; ++nId) {
        const std::string sHis = readText("BoardID" + std::to_string(nId), "SerialNumber");
        if (sHis == sSerial) return nId;
        sSeen += (sSeen.empty() ? "" : ", ") + sHis;
    }
    sayLine(textf("no board with serial %s (the driver's boards have: %s)", sSerial.c_str(), sSeen.c_str()));
    return -1;
}

int failSetup(const BoardSetup& board, int nStatus) {
    closeBoard(board, false);
    return nStatus;
}

bool configureChannel(const BoardSetup& board, const ChannelRequest& request, LoggedChannel* pChannel) {
    pChannel->nChannel = request.nChannel;
    pChannel->sPath = board.sPath + "/AI" + std::to_string(request.nChannel);
    for (const PropertyWrite& write : request.writes) {
        if (!writeText(pChannel->sPath, write.first, write.second, [&] { return offeredFor(board, request, write.first); })) {
            return false;
        }
    }
    return true;
}

void readBackChannel(const BoardSetup& board, const ChannelRequest& request, LoggedChannel* pChannel) {
    pChannel->sMode = readText(pChannel->sPath, "Mode");
    pChannel->sRange = readText(pChannel->sPath, "Range");
    pChannel->sUnit = unitOfRange(pChannel->sRange);
    for (const PropertyWrite& write : request.writes) {
        if (write.first == "Mode" || write.first == "Used" || write.first == "Range") continue;
        pChannel->settled.emplace_back(write.first, readText(pChannel->sPath, write.first.c_str()));
    }
    // The scaling follows the range the driver settled on, as the example's does.
    GetAdjustedRange(pChannel->sPath.c_str(), pChannel->dRange);
    CalcScaling(&pChannel->scale, board.nResolution, pChannel->dRange[0], pChannel->dRange[1]);
    pChannel->nDecimals = decimalsFor(pChannel->scale.scale);
}

}  // namespace

int decimalsFor(double dScale) {
    double dStep = fabs(dScale);
    if (!(dStep > 0) || !isfinite(dStep)) return 0;
    int nDecimals = static_cast<int>(ceil(-log10(dStep) - 1e-9));
    return nDecimals < 0 ? 0 : (nDecimals > 9 ? 9 : nDecimals);
}

void closeBoard(const BoardSetup& board, bool bStop) {
    if (bStop) reportDriver(board.sPath + ": stopping the acquisition", KiVoSetParam_i32(board.nBoardId, ParamStopAcq, 0));
    reportDriver(board.sPath + ": closing the board", KiVoSetParam_i32(board.nBoardId, ParamCloseBoard, 0));
}

int setupBoard(const LogOptions& options, BoardSetup* pBoard) {
    const int nStatus = openBoard(options, pBoard);
    return nStatus != 0 ? nStatus : configureBoard(options, pBoard);
}

int openBoard(const LogOptions& options, BoardSetup* pBoard) {
    BoardSetup& board = *pBoard;
    int32_t nBoardCount = 0;
    // A failed initialisation is said once, in the driver's words; a warning is shown and passed.
    const int32_t nInit = KiVoDriverInit(&nBoardCount);
    if (nInit > 0) {
        sayLine("the driver could not be initialised: " + driverText(nInit), nInit);
        return 1;
    }
    reportDriver("initialising the driver", nInit);
    if (nBoardCount < 0) nBoardCount = nBoardCount == INT32_MIN ? INT32_MAX : -nBoardCount;
    if (nBoardCount == 0) {
        sayLine("the driver finds no QUENO board");
        return 1;
    }
    board.nBoardId = options.sBoardSerial.empty() ? options.nBoardId : boardWithSerial(options.sBoardSerial, nBoardCount);
    if (board.nBoardId < 0) return 1;
    if (board.nBoardId >= nBoardCount) {
        sayLine(textf("no board %d: the driver reports %d board%s", static_cast<int>(board.nBoardId),
                static_cast<int>(nBoardCount), nBoardCount == 1 ? "" : "s"));
        return 1;
    }
    board.sPath = "BoardID" + std::to_string(board.nBoardId);

    // A board that does not open is no board to record from.
    if (reportDriver(board.sPath + ": opening the board", KiVoSetParam_i32(board.nBoardId, ParamOpenBoard, 0)) > 0) return 1;
    reportDriver(board.sPath + ": resetting the board", KiVoSetParam_i32(board.nBoardId, ParamResetBoard, 0));
    board.sName = readText(board.sPath, "BoardName");
    board.sSerial = readText(board.sPath, "SerialNumber");
    int32_t nResolution = QUENO_AcqProp_GetResolutionAI(board.nBoardId, 0);
    board.nResolution = nResolution == 16 ? 16 : 24;
    board.nShift = board.nResolution == 16 ? 16 : 8;
    board.nFullScale = board.nResolution == 16 ? 32767 : 8388607;
    return 0;
}

int configureBoard(const LogOptions& options, BoardSetup* pBoard) {
    BoardSetup& board = *pBoard;
    board.channels.clear();
    int32_t nInputs = QUENO_GetNrOfChannelsAI(board.nBoardId);
    for (const ChannelRequest& request : options.channels) {
        if (request.nChannel >= nInputs) {
            sayLine(textf("board %d has no AI%d (its analogue inputs: %d)", static_cast<int>(board.nBoardId),
                    static_cast<int>(request.nChannel), static_cast<int>(nInputs)));
            return failSetup(board, 2);
        }
    }

    char sRate[64];
    snprintf(sRate, sizeof(sRate), "%.15g", options.dRate);
    const std::string sAcqPath = board.sPath + "/AcqProp";
    const auto rates = [&] {
        return "the board takes " + std::to_string(QUENO_AcqProp_GetMinSampleRate(board.nBoardId)) + " to " +
               std::to_string(QUENO_AcqProp_GetMaxSampleRate(board.nBoardId)) + " scans/s";
    };
    if (!writeText(sAcqPath, "Samplerate", sRate, rates)) return failSetup(board, 2);
    for (const ChannelRequest& request : options.channels) {
        board.channels.emplace_back();
        if (!configureChannel(board, request, &board.channels.back())) return failSetup(board, 2);
    }
    int32_t nApply = KiVoSetParam_i32(board.nBoardId, ParamApplySettings, 0);
    if (nApply > 0) {
        sayLine(board.sPath + ": the settings were not applied: " + driverText(nApply), nApply);
        return failSetup(board, 2);
    }

    double dRate = strtod(readText(sAcqPath, "Samplerate").c_str(), nullptr);
    board.dRate = isfinite(dRate) && dRate >= 0.001 ? nearbyint(dRate * 1000) / 1000 : options.dRate;
    for (size_t i = 0; i < options.channels.size(); ++i) readBackChannel(board, options.channels[i], &board.channels[i]);
    reportDriver(board.sPath + ": reading the sample delay", KiVoGetParam_i32(board.nBoardId, ParamSampleDelay, &board.nSampleDelay));
    reportDriver(board.sPath + ": reading the scan size", KiVoGetParam_i32(board.nBoardId, ParamScanSize, &board.nScanSize));
    if (board.nSampleDelay < 0) board.nSampleDelay = 0;
    const int64_t nNeeded = static_cast<int64_t>(board.channels.size()) * 4;
    if (board.nScanSize < nNeeded) {
        sayLine(textf("the driver's scan of %d bytes cannot hold the %d inputs asked for",
                static_cast<int>(board.nScanSize), static_cast<int>(board.channels.size())));
        return failSetup(board, 1);
    }
    return 0;
}

}  // namespace qlog
