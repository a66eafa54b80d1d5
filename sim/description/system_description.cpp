#include "system_description.h"

#include <errno.h>
#include <fcntl.h>
#include <libxml/parser.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "description_limits.h"
#include "regular_file.h"
#include "scenario_description.h"
#include "xml_util.h"

namespace qsim {

extern const char kDefaultSystemXml[];

const char* const SystemDescription::kChannelKinds[] = {"AI", "CNT", "Discret", "BoardCNT", "UART", nullptr};

namespace {

constexpr int kParseOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOBLANKS;

std::string where(xmlNodePtr pNode) { return "line " + std::to_string(xmlGetLineNo(pNode)) + ": "; }

// An integer attribute within limits; absent leaves the value as it is.
bool readInteger(xmlNodePtr pNode, const char* sName, int64_t nMin, int64_t nMax, int32_t* pnValue,
                 std::string* pError) {
    if (!hasAttribute(pNode, sName)) return true;
    std::string sText = attribute(pNode, sName);
    errno = 0;
    char* pEnd = nullptr;
    long long n = strtoll(sText.c_str(), &pEnd, 10);
    if (sText.empty() || *pEnd != '\0' || errno != 0 || n < nMin || n > nMax) {
        *pError = where(pNode) + "attribute " + sName + "=\"" + sText + "\" must be a whole number from " +
                  std::to_string(nMin) + " to " + std::to_string(nMax);
        return false;
    }
    *pnValue = static_cast<int32_t>(n);
    return true;
}

bool isChannelKind(const std::string& sKind) {
    for (const char* const* p = SystemDescription::kChannelKinds; *p != nullptr; ++p) {
        if (sKind == *p) return true;
    }
    return false;
}

std::string tooLarge() { return "larger than " + std::to_string(DescriptionLimits::kMaxFileBytes) + " bytes"; }

xmlNodePtr childOrNew(xmlNodePtr pParent, const char* sName) {
    xmlNodePtr pChild = firstChildElement(pParent, sName);
    if (pChild == nullptr) pChild = xmlNewChild(pParent, nullptr, reinterpret_cast<const xmlChar*>(sName), nullptr);
    return pChild;
}

}  // namespace

bool parseBoardTarget(const std::string& sTarget, int32_t* pnBoardId, std::string* pRest) {
    static const char kPrefix[] = "BoardID";
    const size_t nPrefix = sizeof(kPrefix) - 1;
    if (sTarget.compare(0, nPrefix, kPrefix) != 0) return false;
    size_t nDigitsEnd = nPrefix;
    while (nDigitsEnd < sTarget.size() && sTarget[nDigitsEnd] >= '0' && sTarget[nDigitsEnd] <= '9') ++nDigitsEnd;
    if (nDigitsEnd == nPrefix || nDigitsEnd - nPrefix > 9) return false;
    if (nDigitsEnd < sTarget.size() && sTarget[nDigitsEnd] != '/') return false;
    *pnBoardId = static_cast<int32_t>(strtol(sTarget.c_str() + nPrefix, nullptr, 10));
    *pRest = nDigitsEnd < sTarget.size() ? sTarget.substr(nDigitsEnd + 1) : "";
    return true;
}

SystemDescription::~SystemDescription() {
    if (pDoc_ != nullptr) xmlFreeDoc(pDoc_);
}

std::unique_ptr<SystemDescription> SystemDescription::load(const char* sPath, std::string* pError) {
    std::string sText;
    if (sPath != nullptr && !readRegularFile(sPath, DescriptionLimits::kMaxFileBytes, &sText, pError)) return nullptr;
    const char* pText = sPath != nullptr ? sText.data() : kDefaultSystemXml;
    size_t nText = sPath != nullptr ? sText.size() : strlen(kDefaultSystemXml);
    return parse(pText, nText, sPath != nullptr ? sPath : "default system", pError);
}

std::unique_ptr<SystemDescription> SystemDescription::parse(const char* pText, size_t nText, const char* sName,
                                                           std::string* pError) {
    if (nText > DescriptionLimits::kMaxFileBytes) {
        *pError = tooLarge();
        return nullptr;
    }
    xmlResetLastError();
    xmlDocPtr pDoc = xmlReadMemory(pText, static_cast<int>(nText), sName, nullptr, kParseOptions);
    if (pDoc == nullptr) {
        const xmlError* pLast = xmlGetLastError();
        if (pLast != nullptr && pLast->message != nullptr) {
            std::string sMessage = trimWhiteSpace(pLast->message);
            *pError = pLast->line > 0 ? "line " + std::to_string(pLast->line) + ": " + sMessage : sMessage;
        } else {
            *pError = "cannot be read";
        }
        return nullptr;
    }
    const std::string sSource = sName != nullptr ? sName : "";
    const size_t nSlash = sSource.rfind('/');
    std::unique_ptr<SystemDescription> pSystem(
        new SystemDescription(pDoc, nSlash == std::string::npos ? "" : sSource.substr(0, nSlash == 0 ? 1 : nSlash)));
    // Entities are expanded wherever a node's text is read; without a document type there are none
    // but the five predefined ones, so no text can grow beyond what the file holds.
    if (pDoc->intSubset != nullptr || pDoc->extSubset != nullptr) {
        *pError = "a document type declaration (<!DOCTYPE ...>) is not accepted";
        return nullptr;
    }
    if (countElements(xmlDocGetRootElement(pDoc), DescriptionLimits::kMaxElements) > DescriptionLimits::kMaxElements) {
        *pError = "more than " + std::to_string(DescriptionLimits::kMaxElements) + " elements";
        return nullptr;
    }
    if (!pSystem->build(pError)) return nullptr;
    return pSystem;
}

bool SystemDescription::build(std::string* pError) {
    xmlNodePtr pRoot = xmlDocGetRootElement(pDoc_);
    if (pRoot == nullptr || elementName(pRoot) != "QuenoSimSystem") {
        *pError = "the root element must be <QuenoSimSystem>";
        return false;
    }
    for (xmlNodePtr pPath : childElements(firstChildElement(pRoot, "SystemPaths"), "Path")) {
        std::string sNode = attribute(pPath, "node");
        if (sNode.empty()) {
            *pError = where(pPath) + "<Path> needs a node attribute";
            return false;
        }
        systemPaths_[sNode] = trimmedText(pPath);
    }
    std::vector<xmlNodePtr> boards = childElements(pRoot, "Board");
    if (boards.size() > DescriptionLimits::kMaxBoards) {
        *pError = "more than " + std::to_string(DescriptionLimits::kMaxBoards) + " boards";
        return false;
    }
    int64_t nBufferBytes = 0;
    size_t nCopiedElements = 0;
    for (xmlNodePtr pBoard : boards) {
        if (!buildBoard(pBoard, &nCopiedElements, pError)) return false;
        const BoardDescription& board = boards_.back();
        auto ai = board.channelCounts.find("AI");
        nBufferBytes += static_cast<int64_t>(board.nBufferScans) * (ai == board.channelCounts.end() ? 0 : ai->second) * 4;
        if (nBufferBytes > DescriptionLimits::kMaxBufferBytes) {
            *pError = describeElement(pBoard) + ": the ring buffers (bufferScans x AI channels x 4 bytes) need more than " +
                      std::to_string(DescriptionLimits::kMaxBufferBytes) + " bytes together";
            return false;
        }
    }
    return true;
}

// clock="+250ppm": the board's sample clock error, from -1000 to +1000 ppm.
static bool readClockError(xmlNodePtr pBoard, double* pdPpm, std::string* pError) {
    if (!hasAttribute(pBoard, "clock")) return true;
    const std::string sText = attribute(pBoard, "clock");
    char* pEnd = nullptr;
    const double d = strtod(sText.c_str(), &pEnd);
    if (pEnd == sText.c_str() || strcmp(pEnd, "ppm") != 0 || !(d >= -1000 && d <= 1000)) {
        *pError = where(pBoard) + "attribute clock=\"" + sText + "\" must be the clock's error from -1000ppm to +1000ppm, such as +250ppm";
        return false;
    }
    *pdPpm = d;
    return true;
}

// The board's acquisition and simulated sensor, as the description sets them.
bool SystemDescription::readBoardSettings(xmlNodePtr pBoard, BoardDescription* pDescription, std::string* pError) {
    BoardDescription& board = *pDescription;
    if (!readClockError(pBoard, &board.dClockPpm, pError)) return false;
    if (xmlNodePtr pAcq = firstChildElement(pBoard, "Acquisition")) {
        if (!readInteger(pAcq, "bufferScans", 16, 1 << 24, &board.nBufferScans, pError) ||
            !readInteger(pAcq, "resolution", 16, 24, &board.nResolution, pError) ||
            !readInteger(pAcq, "sampleDelay", 0, 1 << 20, &board.nSampleDelay, pError)) {
            return false;
        }
        if (board.nResolution != 16 && board.nResolution != 24) {
            *pError = where(pAcq) + "resolution must be 16 or 24";
            return false;
        }
    }
    if (xmlNodePtr pSensor = firstChildElement(pBoard, "Sensor")) {
        int32_t nSeed = static_cast<int32_t>(board.sensor.nSeed);
        using L = DescriptionLimits;
        SensorModel& sensor = board.sensor;
        if (!readLimitedNumber(pSensor, "temperature", L::kMinTemperature, L::kMaxTemperature, &sensor.dTemperature, pError) ||
            !readLimitedNumber(pSensor, "drift", 0, L::kMaxDrift, &sensor.dDrift, pError) ||
            !readLimitedNumber(pSensor, "driftPeriod", L::kMinDriftPeriod, L::kMaxDriftPeriod, &sensor.dDriftPeriod, pError) ||
            !readLimitedNumber(pSensor, "noise", 0, L::kMaxNoise, &sensor.dNoise, pError) ||
            !readInteger(pSensor, "seed", 0, INT32_MAX, &nSeed, pError)) {
            return false;
        }
        board.sensor.nSeed = static_cast<uint32_t>(nSeed);
    }
    return true;
}

// Every board has a sample rate and a resolution: a description that leaves them out gets the
// ones a board of the family has, so that every tool finds them.
bool SystemDescription::addFamilyDefaults(const BoardDescription& board, std::string* pError) {
    xmlNodePtr pAcqProp = childOrNew(childOrNew(board.pBoardProperties, "AcquisitionProperties"), "AcqProp");
    if (firstChildElement(pAcqProp, "SampleRate") == nullptr) {
        xmlNodePtr pRate = xmlNewChild(pAcqProp, nullptr, reinterpret_cast<const xmlChar*>("SampleRate"), nullptr);
        for (const char* sLimit : {"ProgMin=1", "ProgMax=20000", "Default=1000"}) {
            const std::string sName(sLimit, strchr(sLimit, '=') - sLimit);
            xmlNewProp(pRate, reinterpret_cast<const xmlChar*>(sName.c_str()),
                       reinterpret_cast<const xmlChar*>(strchr(sLimit, '=') + 1));
        }
    }
    if (firstChildElement(pAcqProp, "ResolutionAI") == nullptr) {
        xmlNodePtr pResolutions = xmlNewChild(pAcqProp, nullptr, reinterpret_cast<const xmlChar*>("ResolutionAI"), nullptr);
        xmlNewTextChild(pResolutions, nullptr, reinterpret_cast<const xmlChar*>("ID0"),
                        reinterpret_cast<const xmlChar*>(std::to_string(board.nResolution).c_str()));
    }
    return checkSampleRate(firstChildElement(pAcqProp, "SampleRate"), pError);
}

// Each channel group's modes copied to every channel of it (a channel the description gives
// itself keeps its own), bounded before anything is built.
bool SystemDescription::copyChannelGroups(xmlNodePtr pBoard, BoardDescription* pDescription, size_t* pnCopiedElements,
                                          std::string* pError) {
    BoardDescription& board = *pDescription;
    xmlNodePtr pChannelProperties = childOrNew(board.pBoardProperties, "ChannelProperties");
    // Channels the description gives itself are checked as they stand; the copies below are
    // checked once, through their group.
    for (xmlNodePtr pChannel : childElements(pChannelProperties)) {
        if (!checkChannelModes(pChannel, pError)) return false;
    }
    for (xmlNodePtr pGroup : childElements(pBoard, "ChannelGroup")) {
        std::string sKind = attribute(pGroup, "kind");
        if (!isChannelKind(sKind)) {
            *pError = where(pGroup) + "kind=\"" + sKind + "\" is not one of AI, CNT, Discret, BoardCNT, UART";
            return false;
        }
        int32_t nCount = 0;
        if (!hasAttribute(pGroup, "count")) {
            *pError = where(pGroup) + "<ChannelGroup> needs a count attribute";
            return false;
        }
        if (!readInteger(pGroup, "count", 0, DescriptionLimits::kMaxChannelsPerKind, &nCount, pError) ||
            !checkChannelModes(pGroup, pError)) {
            return false;
        }
        // Copying the modes to every channel multiplies them: bound what that builds before building it.
        size_t nModeElements = 0;
        for (xmlNodePtr pMode : childElements(pGroup, "Mode")) {
            nModeElements += countElements(pMode, DescriptionLimits::kMaxChannelElements);
        }
        *pnCopiedElements += nModeElements * static_cast<size_t>(nCount);
        if (*pnCopiedElements > DescriptionLimits::kMaxChannelElements) {
            *pError = describeElement(pGroup) + ": copying the modes to every channel would make more than " +
                      std::to_string(DescriptionLimits::kMaxChannelElements) + " elements";
            return false;
        }
        board.channelCounts[sKind] = nCount;
        for (int32_t i = 0; i < nCount; ++i) {
            std::string sName = sKind + std::to_string(i);
            if (firstChildElement(pChannelProperties, sName.c_str()) != nullptr) continue;
            xmlNodePtr pChannel = xmlNewChild(pChannelProperties, nullptr,
                                              reinterpret_cast<const xmlChar*>(sName.c_str()), nullptr);
            for (xmlNodePtr pMode : childElements(pGroup, "Mode")) {
                if (attribute(pMode, "Mode").empty()) {
                    *pError = where(pMode) + "<Mode> needs a Mode attribute";
                    return false;
                }
                xmlAddChild(pChannel, xmlDocCopyNode(pMode, pDoc_, 1));
            }
        }
    }
    return true;
}

// A board that names its model and none of its channel groups is a board of the family as the
// built-in system has it: its inputs, its properties and its buffer, so that a scenario need not
// describe the whole board.
void SystemDescription::addFamilyBoard(xmlNodePtr pBoard) {
    if (firstChildElement(pBoard, "ChannelGroup") != nullptr) return;
    if (xmlNodePtr pProperties = firstChildElement(pBoard, "BoardProperties")) {
        if (firstChildElement(pProperties, "ChannelProperties") != nullptr) return;
    }
    static xmlDocPtr pFamily = xmlReadMemory(kDefaultSystemXml, static_cast<int>(strlen(kDefaultSystemXml)), "default system",
                                             nullptr, kParseOptions);
    if (pFamily == nullptr) return;
    const std::string sModel = attribute(pBoard, "model");
    for (xmlNodePtr pKnown : childElements(xmlDocGetRootElement(pFamily), "Board")) {
        if (attribute(pKnown, "model") != sModel) continue;
        for (xmlNodePtr pPart : childElements(pKnown)) {
            const std::string sName = elementName(pPart);
            const bool bGroup = sName == "ChannelGroup";
            if (!bGroup && (sName != "BoardProperties" && sName != "Acquisition")) continue;
            if (!bGroup && firstChildElement(pBoard, sName.c_str()) != nullptr) continue;
            xmlAddChild(pBoard, xmlDocCopyNode(pPart, pDoc_, 1));
        }
        return;
    }
}

bool SystemDescription::buildBoard(xmlNodePtr pBoard, size_t* pnCopiedElements, std::string* pError) {
    addFamilyBoard(pBoard);
    BoardDescription board;
    board.pNode = pBoard;
    board.sModel = attribute(pBoard, "model");
    board.sSerial = attribute(pBoard, "serial");
    if (board.sModel.empty()) {
        *pError = where(pBoard) + "<Board> needs a model attribute";
        return false;
    }
    board.sensor.nSeed = static_cast<uint32_t>(boards_.size() + 1);

    if (!readBoardSettings(pBoard, &board, pError)) return false;

    // Every channel gets a node of its own under ChannelProperties, a copy of its group's modes,
    // unless the description already gives that channel's node.
    board.pBoardProperties = childOrNew(pBoard, "BoardProperties");
    if (!addFamilyDefaults(board, pError) || !copyChannelGroups(pBoard, &board, pnCopiedElements, pError)) return false;
    auto ai = board.channelCounts.find("AI");
    if (!readScenario(pBoard, ai == board.channelCounts.end() ? 0 : ai->second, sBaseDir_, &board.scenario, pError)) {
        return false;
    }
    boards_.push_back(board);
    return true;
}

const BoardDescription* SystemDescription::board(int32_t nBoardId) const {
    if (nBoardId < 0 || static_cast<size_t>(nBoardId) >= boards_.size()) return nullptr;
    return &boards_[static_cast<size_t>(nBoardId)];
}

xmlNodePtr SystemDescription::channelNode(int32_t nBoardId, const std::string& sKindAndIndex) const {
    const BoardDescription* pBoard = board(nBoardId);
    if (pBoard == nullptr) return nullptr;
    return firstChildElement(firstChildElement(pBoard->pBoardProperties, "ChannelProperties"),
                             sKindAndIndex.c_str());
}

bool SystemDescription::systemPath(const std::string& sNode, std::string* pPath) const {
    auto it = systemPaths_.find(sNode);
    if (it == systemPaths_.end()) return false;
    *pPath = it->second;
    return true;
}

}  // namespace qsim
