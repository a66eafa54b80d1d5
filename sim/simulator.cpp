#include "simulator.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kivo_codes.h"

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
    if (!trace.open(sTrace)) {
        fprintf(stderr, "queno-sim: cannot open trace file %s: %s\n", sTrace, strerror(errno));
        fflush(stderr);
    }
    std::string sError;
    if (!faults.parse(getenv("QUENO_SIM_FAULTS"), &sError)) sFaultError_ = sError;
}

int32_t Simulator::init(int32_t* pnBoardCount) {
    if (pnBoardCount == nullptr) return ResultNullArgument;
    if (!sFaultError_.empty()) {
        fprintf(stderr, "queno-sim: QUENO_SIM_FAULTS: %s\n", sFaultError_.c_str());
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
        for (const BoardDescription& board : system_->boards()) boards_.emplace_back(new BoardState(board));
        bInitialised_ = true;
    }
    int32_t nCount = static_cast<int32_t>(boards_.size());
    faults.boardCount(&nCount);
    *pnBoardCount = nCount;
    return ResultOk;
}

int32_t Simulator::deinit() {
    if (!bInitialised_) return ResultNotInitialized;
    boards_.clear();
    system_.reset();
    bInitialised_ = false;
    return ResultOk;
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
    static const char kPrefix[] = "BoardID";
    const size_t nPrefix = sizeof(kPrefix) - 1;
    if (sTarget.compare(0, nPrefix, kPrefix) != 0) return ResultUnknownTarget;
    size_t nDigitsEnd = nPrefix;
    while (nDigitsEnd < sTarget.size() && sTarget[nDigitsEnd] >= '0' && sTarget[nDigitsEnd] <= '9') ++nDigitsEnd;
    if (nDigitsEnd == nPrefix || nDigitsEnd - nPrefix > 9) return ResultUnknownTarget;
    if (nDigitsEnd < sTarget.size() && sTarget[nDigitsEnd] != '/') return ResultUnknownTarget;
    int32_t nBoardId = static_cast<int32_t>(strtol(sTarget.c_str() + nPrefix, nullptr, 10));
    *ppBoard = boardById(nBoardId);
    if (*ppBoard == nullptr) return ResultInvalidBoard;
    *pNode = nDigitsEnd < sTarget.size() ? sTarget.substr(nDigitsEnd + 1) : "";
    return ResultOk;
}

int32_t Simulator::setProperty(const char* sTarget, const char* sProperty, const char* sValue) {
    if (sTarget == nullptr || sProperty == nullptr || sValue == nullptr) return ResultNullArgument;
    if (!bInitialised_) return ResultNotInitialized;
    BoardState* pBoard = nullptr;
    std::string sNode;
    int32_t nResult = findBoard(sTarget, &pBoard, &sNode);
    if (nResult != ResultOk) return nResult;
    return pBoard->setProperty(sNode, sProperty, sValue);
}

int32_t Simulator::getProperty(const char* sTarget, const char* sProperty, std::string* pValue) {
    if (sTarget == nullptr || sProperty == nullptr) return ResultNullArgument;
    if (!bInitialised_) return ResultNotInitialized;
    BoardState* pBoard = nullptr;
    std::string sNode;
    int32_t nResult = findBoard(sTarget, &pBoard, &sNode);
    if (nResult != ResultOk) return nResult;
    return pBoard->getProperty(sNode, sProperty, pValue);
}

std::string Simulator::describeValue(int32_t /*nBoardId*/, int32_t /*nCommand*/, int64_t nValue) const {
    return std::to_string(nValue);
}

}  // namespace qsim
