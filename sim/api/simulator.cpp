#include "simulator.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kivo_codes.h"
#include "network_enumeration.h"
#include "xml_query.h"

namespace qsim {

Simulator& simulator() {
    static Simulator instance;
    return instance;
}

Simulator::~Simulator() { boards_.clear(); }

void Simulator::configureOnce() {
    if (bConfigured_) return;
    bConfigured_ = true;
    const char* sTrace = getenv("QUENO_SIM_TRACE");
    std::string sError;
    if (!trace.open(sTrace, &sError)) {
        fprintf(stderr, "queno-sim: cannot open trace file %s: %s; the run goes on without a trace\n", sTrace,
                sError.c_str());
        fflush(stderr);
    }
    if (!faults.parse(getenv("QUENO_SIM_FAULTS"), &sError)) sFaultError_ = "QUENO_SIM_FAULTS: " + sError;
    const char* sScript = getenv("QUENO_SIM_SCRIPT");
    if (sScript != nullptr && sScript[0] != '\0') {
        bScripted_ = true;
        if (!AcquisitionScript::parse(sScript, &script_, &sError)) sFaultError_ = "QUENO_SIM_SCRIPT: " + sError;
    }
    const char* sStatistics = getenv("QUENO_SIM_STATS");
    bStatistics_ = sStatistics != nullptr && sStatistics[0] != '\0' && sStatistics[0] != '0';
}

int32_t Simulator::init(int32_t* pnBoardCount) {
    if (pnBoardCount == nullptr) return ResultNullArgument;
    if (!sFaultError_.empty()) {
        fprintf(stderr, "queno-sim: %s\n", sFaultError_.c_str());
        fflush(stderr);
        return ResultInvalidValue;
    }
    if (!bInitialised_) {
        const char* sPath = getenv("QUENO_SIM_SYSTEM");
        if (sPath != nullptr && sPath[0] == '\0') sPath = nullptr;
        std::string sError;
        std::unique_ptr<SystemDescription> system = SystemDescription::load(sPath, &sError);
        if (system == nullptr) {
            fprintf(stderr, "queno-sim: system description %s: %s\n", sPath != nullptr ? sPath : "(built in)",
                    sError.c_str());
            fflush(stderr);
            return ResultSystemDescriptionInvalid;
        }
        system_ = std::move(system);
        epoch_ = HostEpoch();
        for (const BoardDescription& board : system_->boards()) {
            boards_.emplace_back(new BoardState(board, bScripted_ ? &script_ : nullptr, &epoch_));
        }
        bInitialised_ = true;
    }
    int32_t nCount = static_cast<int32_t>(boards_.size());
    faults.boardCount(&nCount);
    *pnBoardCount = nCount;
    return ResultOk;
}

int32_t Simulator::deinit() {
    if (!bInitialised_) return ResultNotInitialized;
    reportStatistics();
    boards_.clear();
    system_.reset();
    bInitialised_ = false;
    return ResultOk;
}

bool Simulator::scenarioFailure(const char* sEntryPoint, int32_t* pnResult) const {
    for (const auto& pBoard : boards_) {
        if (pBoard->timedFailure(sEntryPoint, pnResult)) return true;
    }
    return false;
}

BoardState* Simulator::boardById(int32_t nBoardId) {
    if (nBoardId < 0 || static_cast<size_t>(nBoardId) >= boards_.size()) return nullptr;
    return boards_[static_cast<size_t>(nBoardId)].get();
}

int32_t Simulator::setParam(int32_t nBoardId, int32_t nCommand, int64_t nValue) {
    if (!bInitialised_) return ResultNotInitialized;
    BoardState* pBoard = boardById(nBoardId);
    if (pBoard == nullptr) return ResultInvalidBoard;
    return pBoard->command(nCommand, nValue);
}

int32_t Simulator::getParam(int32_t nBoardId, int32_t nCommand, int64_t* pnValue) {
    if (pnValue == nullptr) return ResultNullArgument;
    if (!bInitialised_) return ResultNotInitialized;
    BoardState* pBoard = boardById(nBoardId);
    if (pBoard == nullptr) return ResultInvalidBoard;
    return pBoard->read(nCommand, pnValue);
}

int32_t Simulator::findBoard(const std::string& sTarget, BoardState** ppBoard, std::string* pNode) {
    int32_t nBoardId = 0;
    if (!parseBoardTarget(sTarget, &nBoardId, pNode)) return ResultUnknownTarget;
    *ppBoard = boardById(nBoardId);
    return *ppBoard != nullptr ? ResultOk : ResultInvalidBoard;
}

int32_t Simulator::setProperty(const char* sTarget, const char* sProperty, const char* sValue) {
    if (sTarget == nullptr || sProperty == nullptr || sValue == nullptr) return ResultNullArgument;
    if (!bInitialised_) return ResultNotInitialized;
    std::string sIgnored;
    if (getProperty(sTarget, sProperty, &sIgnored) == ResultOk && std::string(sTarget).compare(0, 7, "BoardID") != 0) {
        return ResultReadOnlyProperty;  // system paths and the enumeration
    }
    BoardState* pBoard = nullptr;
    std::string sNode;
    int32_t nResult = findBoard(sTarget, &pBoard, &sNode);
    if (nResult != ResultOk) return nResult;
    return pBoard->setProperty(sNode, sProperty, sValue);
}

// The system nodes and their defaults, which the description's <SystemPaths> may override.
int32_t Simulator::getSystemProperty(const std::string& sNode, const std::string& sProperty, std::string* pValue) {
    static const struct {
        const char* sNode;
        const char* sDefault;
    } kDefaults[] = {{"config", "/etc/queno/config"},
                     {"log", "/var/log/queno"},
                     {"systemxml", "/etc/queno/system.xml"},
                     {"testresults", "/var/lib/queno/testresults"},
                     {"backup", "/var/lib/queno/backup"}};
    std::string sPath;
    bool bKnown = system_->systemPath(sNode, &sPath);
    for (const auto& entry : kDefaults) {
        if (!bKnown && sNode == entry.sNode) {
            sPath = entry.sDefault;
            bKnown = true;
        }
    }
    if (!bKnown) return ResultUnknownTarget;
    if (sProperty != "Path") return ResultUnknownProperty;
    *pValue = sPath;
    return ResultOk;
}

int32_t Simulator::getProperty(const char* sTarget, const char* sProperty, std::string* pValue) {
    if (sTarget == nullptr || sProperty == nullptr) return ResultNullArgument;
    if (!bInitialised_) return ResultNotInitialized;
    const std::string sSystemPrefix = "System/";
    if (std::string(sTarget).compare(0, sSystemPrefix.size(), sSystemPrefix) == 0) {
        return getSystemProperty(sTarget + sSystemPrefix.size(), sProperty, pValue);
    }
    if (std::string(sTarget) == "quenoetapi") {
        if (std::string(sProperty) != "Network/Enumerate") return ResultUnknownProperty;
        *pValue = enumerateNetworkInterfaces();
        return ResultOk;
    }
    BoardState* pBoard = nullptr;
    std::string sNode;
    int32_t nResult = findBoard(sTarget, &pBoard, &sNode);
    if (nResult != ResultOk) return nResult;
    return pBoard->getProperty(sNode, sProperty, pValue);
}

int32_t Simulator::query(const char* sBase, const char* sQuery, std::string* pAnswer) {
    if (!bInitialised_) return ResultNotInitialized;
    return evaluateQuery(*system_, sBase, sQuery, pAnswer);
}

// What a user needs to size a buffer, for every board that acquired: on standard error and in the
// trace, when QUENO_SIM_STATS is set.
void Simulator::reportStatistics() {
    if (!bStatistics_) return;
    for (size_t i = 0; i < boards_.size(); ++i) {
        BoardState& board = *boards_[i];
        board.command(ParamStopAcq, 0);  // an acquisition still running counts too
        const AcquisitionStats& stats = board.stats();
        if (stats.nRuns == 0) continue;
        char sLine[256];
        snprintf(sLine, sizeof(sLine),
                 "board %zu: produced %llu scans, released %llu, largest backlog %llu of %u, overflows %llu",
                 i, static_cast<unsigned long long>(stats.nProduced), static_cast<unsigned long long>(stats.nReleased),
                 static_cast<unsigned long long>(stats.nLargestBacklog), board.bufferCapacity(),
                 static_cast<unsigned long long>(stats.nOverflows));
        fprintf(stderr, "queno-sim: %s\n", sLine);
        fflush(stderr);
        trace.writeLine(std::string("# ") + sLine);
    }
}

// Ring-buffer addresses appear relative to the buffer's start, so that traces are the same from
// run to run.
std::string Simulator::describeValue(int32_t nBoardId, int32_t nCommand, int64_t nValue) const {
    bool bAddress = nCommand == ParamBufferQuery32 || nCommand == ParamBufferEnd || nCommand == ParamReadPosition;
    const BoardState* pBoard =
        nBoardId >= 0 && static_cast<size_t>(nBoardId) < boards_.size() ? boards_[static_cast<size_t>(nBoardId)].get()
                                                                          : nullptr;
    const RingBuffer* pRing = pBoard != nullptr ? pBoard->buffer() : nullptr;
    if (!bAddress || pRing == nullptr) return std::to_string(nValue);
    int64_t nOffset = static_cast<int64_t>(static_cast<uint64_t>(nValue) - static_cast<uint64_t>(pRing->beginAddress()));
    if (nOffset < -(int64_t{1} << 32) || nOffset > (int64_t{1} << 32)) {
        char sHex[32];
        snprintf(sHex, sizeof(sHex), "0x%llx", static_cast<unsigned long long>(nValue));
        return sHex;
    }
    return nOffset >= 0 ? "buffer+" + std::to_string(nOffset) : "buffer-" + std::to_string(-nOffset);
}

}  // namespace qsim
