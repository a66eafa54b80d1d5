#include "board_setup.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <functional>

#include "board_queries.h"
#include "kivo_api.h"
#include "messages.h"
#include "stop_signals.h"

namespace qacq {

namespace {

constexpr size_t kTextSize = 256;

// The caller's sink, with the last message and driver result kept for the outcome.
class SetupMessages : public MessageSink {
public:
    explicit SetupMessages(MessageSink& next) : next_(next) {}
    void say(const std::string& sText, int32_t nResult) override {
        sLast_ = sText;
        if (nResult != 0) nLastCode_ = nResult;
        next_.say(sText, nResult);
    }
    SetupOutcome outcome(SetupResult result, const std::string& sOffered = "") const {
        SetupOutcome outcome;
        outcome.result = result;
        outcome.nCode = nLastCode_;
        outcome.sText = sLast_;
        outcome.sOffered = sOffered;
        return outcome;
    }

private:
    MessageSink& next_;
    std::string sLast_;
    int32_t nLastCode_ = 0;
};

std::string readText(MessageSink& messages, const std::string& sPath, const char* sProperty) {
    char sBuffer[kTextSize] = {0};
    reportDriver(messages, sPath + ": reading " + sProperty,
                 KiVoGetParamStruct_str(sPath.c_str(), sProperty, sBuffer, sizeof(sBuffer)));
    sBuffer[sizeof(sBuffer) - 1] = '\0';
    return sBuffer;
}

// A refused write ends the setup with the driver's own words and, where the board lists them, what
// it takes instead; a warning is shown and accepted.
// *psOffered gets what the board offers instead of a refused value.
bool writeText(MessageSink& messages, const std::string& sPath, const std::string& sProperty, const std::string& sValue,
               std::string* psOffered, const std::function<std::string()>& offered = nullptr) {
    int32_t nResult = KiVoSetParamStruct_str(sPath.c_str(), sProperty.c_str(), sValue.c_str());
    if (nResult == 0) return true;
    *psOffered = nResult > 0 && offered ? offered() : "";
    messages.say(sPath + ": " + sProperty + "=\"" + sValue + "\": " + driverText(nResult) +
                     (psOffered->empty() ? "" : "; " + *psOffered),
                 nResult);
    return nResult < 0;
}

// An attribute of a mode's setting from the board's description, "" where it has none.
std::string settingAttribute(int32_t nBoardId, int32_t nChannel, const std::string& sMode, const std::string& sProperty,
                             const char* sAttribute) {
    for (char c : sMode + sProperty) {
        if (c == '\'' || c == '"' || c == '/' || c == '[' || c == ']') return "";
    }
    char sBase[64];
    snprintf(sBase, sizeof(sBase), "BoardID%d/BoardProperties", static_cast<int>(nBoardId));
    const std::string sQuery = "string(ChannelProperties/AI" + std::to_string(nChannel) + "/Mode[@Mode='" + sMode + "']/" +
                               sProperty + "/@" + sAttribute + ")";
    char sAnswer[kTextSize + 1] = {};
    if (KiVoGetParamXML_str(sBase, sQuery.c_str(), sAnswer, kTextSize) != 0) return "";
    return trimmed(sAnswer);
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
    if (entries.empty() && !sMode.empty()) {
        // A number between limits rather than a list.
        const std::string sMin = settingAttribute(board.nBoardId, request.nChannel, sMode, sProperty, "Min");
        const std::string sMax = settingAttribute(board.nBoardId, request.nChannel, sMode, sProperty, "Max");
        const std::string sUnit = settingAttribute(board.nBoardId, request.nChannel, sMode, sProperty, "Unit");
        if (sMin.empty() || sMax.empty()) return "";
        return "the mode takes " + sProperty + " from " + sMin + " to " + sMax + (sUnit.empty() ? "" : " " + sUnit);
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
int32_t boardWithSerial(MessageSink& messages, const std::string& sSerial, int32_t nBoardCount) {
    std::string sSeen;
    for (int32_t nId = 0; nId < nBoardCount && nId < 1024; ++nId) {
        const std::string sHis = readText(messages, "BoardID" + std::to_string(nId), "SerialNumber");
        if (sHis == sSerial) return nId;
        sSeen += (sSeen.empty() ? "" : ", ") + sHis;
    }
    messages.say(textf("no board with serial %s (the driver's boards have: %s)", sSerial.c_str(), sSeen.c_str()), 0);
    return -1;
}

SetupOutcome failSetup(const BoardSetup& board, SetupMessages& messages, SetupResult result, const std::string& sOffered = "") {
    closeBoard(board, false, messages);
    return messages.outcome(result, sOffered);
}

bool configureChannel(const BoardSetup& board, MessageSink& messages, const ChannelRequest& request, LoggedChannel* pChannel,
                      std::string* psOffered) {
    pChannel->nChannel = request.nChannel;
    pChannel->sPath = board.sPath + "/AI" + std::to_string(request.nChannel);
    for (const PropertyWrite& write : request.writes) {
        if (!writeText(messages, pChannel->sPath, write.first, write.second, psOffered,
                       [&] { return offeredFor(board, request, write.first); })) {
            return false;
        }
    }
    return true;
}

// The two numbers of a range text ("-5..5", "-10.000000..10.000000 V"); false when it has none.
bool rangeNumbers(const std::string& sRange, double* pdLow, double* pdHigh) {
    const size_t nDots = sRange.find("..");
    if (nDots == std::string::npos) return false;
    const std::string sLow = sRange.substr(0, nDots);  // "-5." would eat a dot of ".." otherwise
    char* pEnd = nullptr;
    *pdLow = strtod(sLow.c_str(), &pEnd);
    if (sLow.empty() || *pEnd != '\0') return false;
    const char* sHigh = sRange.c_str() + nDots + 2;
    *pdHigh = strtod(sHigh, &pEnd);
    return pEnd != sHigh;
}

void readBackChannel(const BoardSetup& board, MessageSink& messages, const ChannelRequest& request, LoggedChannel* pChannel) {
    pChannel->sMode = readText(messages, pChannel->sPath, "Mode");
    pChannel->sRange = readText(messages, pChannel->sPath, "Range");
    pChannel->sUnit = unitOfRange(pChannel->sRange);
    for (const PropertyWrite& write : request.writes) {
        if (write.first == "Range") {
            // The driver settles a range on one the board has: a wider one costs resolution, so it is said.
            double dAsked[2], dSettled[2];
            if (rangeNumbers(write.second, &dAsked[0], &dAsked[1]) && rangeNumbers(pChannel->sRange, &dSettled[0], &dSettled[1]) &&
                (fabs(dAsked[0] - dSettled[0]) > 1e-9 * fabs(dSettled[0]) + 1e-12 ||
                 fabs(dAsked[1] - dSettled[1]) > 1e-9 * fabs(dSettled[1]) + 1e-12) &&
                request.bRangeGiven) {
                messages.say(pChannel->sPath + ": Range \"" + write.second + "\" settled on " + pChannel->sRange, 0);
            }
        }
        if (write.first == "Mode" || write.first == "Used" || write.first == "Range") continue;
        pChannel->settled.emplace_back(write.first, readText(messages, pChannel->sPath, write.first.c_str()));
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

void closeBoard(const BoardSetup& board, bool bStop, MessageSink& messages) {
    if (bStop) reportDriver(messages, board.sPath + ": stopping the acquisition", KiVoSetParam_i32(board.nBoardId, ParamStopAcq, 0));
    reportDriver(messages, board.sPath + ": closing the board", KiVoSetParam_i32(board.nBoardId, ParamCloseBoard, 0));
}

SetupOutcome findBoards(std::vector<BoardConfig>* pConfigs, MessageSink& sink) {
    SetupMessages messages(sink);
    int32_t nBoardCount = 0;
    const int32_t nInit = KiVoDriverInit(&nBoardCount);
    if (nInit > 0) {
        messages.say("the driver could not be initialised: " + driverText(nInit), nInit);
        return messages.outcome(SetupResult::DriverFailure);
    }
    if (nBoardCount < 0) nBoardCount = nBoardCount == INT32_MIN ? INT32_MAX : -nBoardCount;
    for (BoardConfig& config : *pConfigs) {
        if (!config.sBoardSerial.empty()) {
            config.nBoardId = boardWithSerial(messages, config.sBoardSerial, nBoardCount);
            if (config.nBoardId < 0) return messages.outcome(SetupResult::NoBoard);
        } else if (config.nBoardId >= nBoardCount) {
            messages.say(textf("no board %d: the driver reports %d board%s", static_cast<int>(config.nBoardId),
                               static_cast<int>(nBoardCount), nBoardCount == 1 ? "" : "s"),
                         0);
            return messages.outcome(SetupResult::NoBoard);
        }
    }
    return messages.outcome(SetupResult::Done);
}

SetupOutcome setupBoard(const BoardConfig& config, MessageSink& messages, BoardSetup* pBoard) {
    const SetupOutcome opened = openBoard(config, messages, pBoard);
    return opened.done() ? configureBoard(config, messages, pBoard) : opened;
}

SetupOutcome openBoard(const BoardConfig& config, MessageSink& sink, BoardSetup* pBoard) {
    SetupMessages messages(sink);
    BoardSetup& board = *pBoard;
    int32_t nBoardCount = 0;
    // A failed initialisation is said once, in the driver's words; a warning is shown and passed.
    const int32_t nInit = KiVoDriverInit(&nBoardCount);
    if (nInit > 0) {
        messages.say("the driver could not be initialised: " + driverText(nInit), nInit);
        return messages.outcome(SetupResult::DriverFailure);
    }
    reportDriver(messages, "initialising the driver", nInit);
    if (nBoardCount < 0) nBoardCount = nBoardCount == INT32_MIN ? INT32_MAX : -nBoardCount;
    if (nBoardCount == 0) {
        messages.say("the driver finds no QUENO board", 0);
        return messages.outcome(SetupResult::NoBoard);
    }
    board.nBoardId = config.sBoardSerial.empty() ? config.nBoardId : boardWithSerial(messages, config.sBoardSerial, nBoardCount);
    if (board.nBoardId < 0) return messages.outcome(SetupResult::NoBoard);
    if (board.nBoardId >= nBoardCount) {
        messages.say(textf("no board %d: the driver reports %d board%s", static_cast<int>(board.nBoardId),
                           static_cast<int>(nBoardCount), nBoardCount == 1 ? "" : "s"),
                     0);
        return messages.outcome(SetupResult::NoBoard);
    }
    board.sPath = "BoardID" + std::to_string(board.nBoardId);

    // A board that does not open is no board to acquire from.
    if (reportDriver(messages, board.sPath + ": opening the board", KiVoSetParam_i32(board.nBoardId, ParamOpenBoard, 0)) > 0) {
        return messages.outcome(SetupResult::DriverFailure);
    }
    reportDriver(messages, board.sPath + ": resetting the board", KiVoSetParam_i32(board.nBoardId, ParamResetBoard, 0));
    board.sName = readText(messages, board.sPath, "BoardName");
    board.sSerial = readText(messages, board.sPath, "SerialNumber");
    int32_t nResolution = QUENO_AcqProp_GetResolutionAI(board.nBoardId, 0);
    board.nResolution = nResolution == 16 ? 16 : 24;
    board.nShift = board.nResolution == 16 ? 16 : 8;
    board.nFullScale = board.nResolution == 16 ? 32767 : 8388607;
    return messages.outcome(SetupResult::Done);
}

SetupOutcome configureBoard(const BoardConfig& config, MessageSink& sink, BoardSetup* pBoard) {
    SetupMessages messages(sink);
    BoardSetup& board = *pBoard;
    board.channels.clear();
    int32_t nInputs = QUENO_GetNrOfChannelsAI(board.nBoardId);
    for (const ChannelRequest& request : config.channels) {
        if (request.nChannel >= nInputs) {
            messages.say(textf("board %d has no AI%d (its analogue inputs: %d)", static_cast<int>(board.nBoardId),
                               static_cast<int>(request.nChannel), static_cast<int>(nInputs)),
                         0);
            return failSetup(board, messages, SetupResult::Refused);
        }
    }

    const ScanRate asked = scanRateOf(config.dRate);
    const std::string sAcqPath = board.sPath + "/AcqProp";
    const auto rates = [&] {
        return "the board takes " + std::to_string(QUENO_AcqProp_GetMinSampleRate(board.nBoardId)) + " to " +
               std::to_string(QUENO_AcqProp_GetMaxSampleRate(board.nBoardId)) + " scans/s";
    };
    std::string sOffered;
    if (!writeText(messages, sAcqPath, "Samplerate", asked.sText, &sOffered, rates)) {
        return failSetup(board, messages, SetupResult::Refused, sOffered);
    }
    for (const ChannelRequest& request : config.channels) {
        // A stop between two settings is taken there: a slow driver does not hold it for every input.
        if (StopSignalReceived() != 0) return failSetup(board, messages, SetupResult::Stopped);
        board.channels.emplace_back();
        if (!configureChannel(board, messages, request, &board.channels.back(), &sOffered)) {
            return failSetup(board, messages, SetupResult::Refused, sOffered);
        }
    }
    int32_t nApply = KiVoSetParam_i32(board.nBoardId, ParamApplySettings, 0);
    if (nApply > 0) {
        messages.say(board.sPath + ": the settings were not applied: " + driverText(nApply), nApply);
        return failSetup(board, messages, SetupResult::Refused);
    }

    // The rate the driver settled on is the one every time is computed from, exactly as it says it.
    const std::string sSettled = readText(messages, sAcqPath, "Samplerate");
    if (!parseScanRate(trimmed(sSettled), &board.rate)) board.rate = asked;
    board.dRate = board.rate.value();
    if (board.rate.nNumerator != asked.nNumerator || board.rate.nDenominator != asked.nDenominator) {
        messages.say(textf("%s: the board settled the rate on %s scans/s (asked for %s)", board.sPath.c_str(),
                           board.rate.sText.c_str(), asked.sText.c_str()),
                     0);
    }
    for (size_t i = 0; i < config.channels.size(); ++i) readBackChannel(board, messages, config.channels[i], &board.channels[i]);
    reportDriver(messages, board.sPath + ": reading the sample delay",
                 KiVoGetParam_i32(board.nBoardId, ParamSampleDelay, &board.nSampleDelay));
    reportDriver(messages, board.sPath + ": reading the scan size", KiVoGetParam_i32(board.nBoardId, ParamScanSize, &board.nScanSize));
    if (board.nSampleDelay < 0) board.nSampleDelay = 0;
    const int64_t nNeeded = static_cast<int64_t>(board.channels.size()) * 4;
    if (board.nScanSize < nNeeded) {
        messages.say(textf("the driver's scan of %d bytes cannot hold the %d inputs asked for", static_cast<int>(board.nScanSize),
                           static_cast<int>(board.channels.size())),
                     0);
        return failSetup(board, messages, SetupResult::DriverFailure);
    }
    if (StopSignalReceived() != 0) return failSetup(board, messages, SetupResult::Stopped);
    return messages.outcome(SetupResult::Done);
}

}  // namespace qacq
