// The simulated system: boards in id order, read from an XML description.
//
// The document stays loaded: channel modes and their property lists are read from it, and queries
// are evaluated against each board's BoardProperties node.
#pragma once

#include <libxml/tree.h>
#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "scenario.h"
#include "sensor_model.h"

namespace qsim {

struct BoardDescription {
    xmlNodePtr pNode = nullptr;             // <Board>
    xmlNodePtr pBoardProperties = nullptr;  // <BoardProperties>, the base of queries
    std::string sModel;
    std::string sSerial;
    int32_t nBufferScans = 8192;  // ring buffer capacity in scans
    int32_t nResolution = 24;     // bits of an analogue sample
    int32_t nSampleDelay = -1;    // fixed sample delay in scans, or -1 to derive it from the filter
    double dClockPpm = 0;         // how fast the board's sample clock runs against the host's
    std::map<std::string, int32_t> channelCounts;  // "AI" -> 8, ...
    SensorModel sensor;
    Scenario scenario;  // <Signals> and <Events>; empty when the board has none
};

// Splits a target "BoardID<n>" or "BoardID<n>/<rest>" into the board id and the rest; false for
// anything else (a sign, no digits, more than nine digits, no '/' after the digits).
bool parseBoardTarget(const std::string& sTarget, int32_t* pnBoardId, std::string* pRest);

class SystemDescription {
public:
    ~SystemDescription();
    SystemDescription(const SystemDescription&) = delete;
    SystemDescription& operator=(const SystemDescription&) = delete;

    // The compiled-in default system, or the file when sPath is not null. Null with a message on
    // failure.
    static std::unique_ptr<SystemDescription> load(const char* sPath, std::string* pError);
    // A description given as text; sName stands for it in messages.
    static std::unique_ptr<SystemDescription> parse(const char* pText, size_t nText, const char* sName,
                                                    std::string* pError);

    const std::vector<BoardDescription>& boards() const { return boards_; }
    const BoardDescription* board(int32_t nBoardId) const;
    // BoardProperties/ChannelProperties/<kind><index> of a board, or null.
    xmlNodePtr channelNode(int32_t nBoardId, const std::string& sKindAndIndex) const;
    // A system path ("config", "log", ...), empty when the description has none.
    bool systemPath(const std::string& sNode, std::string* pPath) const;
    xmlDocPtr document() const { return pDoc_; }

    static const char* const kChannelKinds[];

private:
    SystemDescription(xmlDocPtr pDoc, std::string sBaseDir) : pDoc_(pDoc), sBaseDir_(std::move(sBaseDir)) {}
    bool build(std::string* pError);
    // nCopiedElements counts the elements made by copying modes to channels, over all boards.
    bool buildBoard(xmlNodePtr pBoard, size_t* pnCopiedElements, std::string* pError);
    void addFamilyBoard(xmlNodePtr pBoard);
    bool readBoardSettings(xmlNodePtr pBoard, BoardDescription* pDescription, std::string* pError);
    bool addFamilyDefaults(const BoardDescription& board, std::string* pError);
    bool copyChannelGroups(xmlNodePtr pBoard, BoardDescription* pDescription, size_t* pnCopiedElements, std::string* pError);

    xmlDocPtr pDoc_;
    std::string sBaseDir_;  // the description's folder: replay files are relative to it
    std::vector<BoardDescription> boards_;
    std::map<std::string, std::string> systemPaths_;
};

}  // namespace qsim
