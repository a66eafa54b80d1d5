// The simulated driver's state behind the entry points: the system, its boards, the fault rules and
// the call trace. One instance per process; every entry point holds its mutex for the whole call.
#pragma once

#include <stdint.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board_state.h"
#include "call_trace.h"
#include "fault_injection.h"
#include "system_description.h"

namespace qsim {

class Simulator {
public:
    ~Simulator();

    std::mutex mutex;
    CallTrace trace;
    FaultSet faults;

    // Reads QUENO_SIM_TRACE and QUENO_SIM_FAULTS on the first call of any entry point.
    void configureOnce();

    int32_t init(int32_t* pnBoardCount);
    int32_t deinit();
    int32_t setParam(int32_t nBoardId, int32_t nCommand, int64_t nValue);
    int32_t getParam(int32_t nBoardId, int32_t nCommand, int64_t* pnValue);
    int32_t setProperty(const char* sTarget, const char* sProperty, const char* sValue);
    int32_t getProperty(const char* sTarget, const char* sProperty, std::string* pValue);
    int32_t query(const char* sBase, const char* sQuery, std::string* pAnswer);

    // A fail event of a board's scenario that covers this moment of its acquisition.
    bool scenarioFailure(const char* sEntryPoint, int32_t* pnResult) const;

    // How a value read with a command appears in the trace.
    std::string describeValue(int32_t nBoardId, int32_t nCommand, int64_t nValue) const;

private:
    // "BoardID<n>[/<node>]": the board and the node below it.
    int32_t findBoard(const std::string& sTarget, BoardState** ppBoard, std::string* pNode);
    BoardState* boardById(int32_t nBoardId);
    int32_t getSystemProperty(const std::string& sNode, const std::string& sProperty, std::string* pValue);

    void reportStatistics();

    bool bConfigured_ = false;
    bool bStatistics_ = false;
    bool bScripted_ = false;
    AcquisitionScript script_;
    std::string sFaultError_;
    bool bInitialised_ = false;
    std::unique_ptr<SystemDescription> system_;
    HostEpoch epoch_;  // host time's zero for the boards below
    std::vector<std::unique_ptr<BoardState>> boards_;
};

Simulator& simulator();

}  // namespace qsim
