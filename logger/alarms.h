// Alarms: a channel's state against limits in its unit, decided scan by scan on the writer's thread.
//
//   --alarm 'AI0:hi=-15,hihi=-10,deadband=0.5,delay=30s,clear-delay=60s'
//
// hi holds from the scan at which the value has been above hi for `delay` (the first scan beyond
// it when the delay is 0) and clears at the scan at which it has been below hi - deadband for
// `clear-delay`; hihi likewise above hihi (clearing to hi while the value is still above hi), and
// lo and lolo mirrored below. A sample at a limit of its range (an open or shorted sensor, an input
// over range) is `fault` at once, never hi or lo. A gap restarts the counting of both delays: the
// scans it lost are not known to have been beyond a limit or back within it.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "acquisition_core.h"

namespace qlog {

enum class AlarmState { Normal, Lo, LoLo, Hi, HiHi, Fault };

const char* alarmStateName(AlarmState state);
// "normal", "lo", ... to the state; false for anything else.
bool alarmStateOf(const std::string& sName, AlarmState* pState);

struct AlarmSpec {
    int32_t nChannel = -1;  // k of AI<k>
    bool bLoLo = false, bLo = false, bHi = false, bHiHi = false;
    double dLoLo = 0, dLo = 0, dHi = 0, dHiHi = 0;
    double dDeadband = 0;
    double dDelaySeconds = 0, dClearDelaySeconds = 0;
};

// --capture's ring: the bytes that keep PRE seconds of scans of nChannels inputs at dRate, and the most
// it may take.
constexpr uint64_t kMaxCaptureRingBytes = 256ull << 20;
uint64_t captureRingBytes(double dPreSeconds, double dRate, size_t nChannels);

// One --alarm argument. False with *pWhy (without the option's name).
bool parseAlarmSpec(const std::string& sText, AlarmSpec* pSpec, std::string* pWhy);

// A change of a channel's state.
struct AlarmEvent {
    size_t nChannel = 0;        // index among the recorded channels
    AlarmState previous = AlarmState::Normal;
    AlarmState state = AlarmState::Normal;
    uint64_t nScan = 0;
    double dValue = 0;          // NaN for a fault
    double dLimit = 0;          // the limit passed into the state; NaN for normal and fault
};

// "hi at scan 31234 (-14.93 degC > -15)": the event as the CSV's comment line and SigMF's comment
// say it, after "alarm AI0: ".
std::string alarmEventText(const AlarmEvent& event, const LoggedChannel& channel);

class AlarmTracker {
public:
    AlarmTracker(const std::vector<AlarmSpec>& specs, const BoardSetup& board);

    bool empty() const { return watches_.empty(); }
    // One scan, the counts of every recorded channel: true when a state changes with it (the events
    // appended to *pEvents in the order of the channels).
    bool step(const int32_t* pScan, uint64_t nScan, std::vector<AlarmEvent>* pEvents);
    void gap();
    // Per recorded channel: the events so far.
    const std::vector<uint64_t>& eventCounts() const { return counts_; }
    const std::vector<AlarmSpec>& specs() const { return specs_; }

private:
    struct Watch {
        size_t nChannel;
        AlarmSpec limits;
        double dScale, dOffset;
        uint64_t nDelay, nClearDelay;  // in scans
        // Counts strictly between these are within every limit: a normal channel with nothing
        // counting stays normal without a value computed (the common scan, kept cheap).
        int64_t nQuietLow = INT64_MAX, nQuietHigh = INT64_MIN;
        AlarmState state = AlarmState::Normal;
        // Consecutive scans beyond each limit, and back within it by the deadband.
        uint64_t nAboveHi = 0, nAboveHiHi = 0, nBelowLo = 0, nBelowLoLo = 0;
        uint64_t nClearHi = 0, nClearHiHi = 0, nClearLo = 0, nClearLoLo = 0;
    };
    AlarmState next(Watch& watch, double dValue) const;
    static void restart(Watch& watch);  // the delays count from the next scan

    int32_t nFullScale_;
    std::vector<AlarmSpec> specs_;
    std::vector<Watch> watches_;
    std::vector<uint64_t> counts_;
};

}  // namespace qlog
