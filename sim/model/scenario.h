// A board's scenario: what each analogue input measures over scan time, and timed sensor and board
// events. Everything is a function of the scan index and the seeds, never of when the producer woke
// up, so a scenario repeats bit for bit.
//
// Scenario time is the board's world: it begins at the board's first acquisition and runs on across
// restarts, the scans lost in between included. Scan time is world scan / rate (the board's own
// clock); host time (timebase="host") is the host's seconds since the first acquisition of any
// board, so that boards with clocks of their own see one process at one true moment.
//
//   <Signal channels="AI4" kind="ramp" from="20" to="90" duration="60s" then="hold"/>
//   <Event at="12.5s" channels="AI3" kind="open" duration="5s"/>
#pragma once

#include <math.h>
#include <stdint.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qsim {

// A recording to play back: the scans of one column of a queno_log file, in scan order.
struct ReplayData {
    double dRate = 0;                // scans per second of the recording
    std::vector<uint64_t> scans;     // ascending; gaps where the recording lost scans
    std::vector<double> values;
};

enum class SignalKind { Constant, Ramp, Sine, Steps, Replay };

struct ScenarioSignal {
    SignalKind kind = SignalKind::Constant;
    double dValue = 0;                       // constant
    double dFrom = 0, dTo = 0;               // ramp
    double dDuration = 1;                    // ramp, seconds
    bool bRepeat = false;                    // ramp (then="repeat"), steps (repeat="true")
    double dOffset = 0, dAmplitude = 0;      // sine
    double dPeriod = 1;                      // sine, seconds
    std::vector<double> steps;               // steps
    double dEvery = 1;                       // steps, seconds
    std::shared_ptr<const ReplayData> replay;
    double dSpeed = 1;                       // replay
    bool bLoop = false;                      // replay
    double dNoise = 0;                       // standard deviation, in the channel's unit
    uint32_t nSeed = 0;
    bool bHostTime = false;                  // timebase="host"
};

enum class EventKind { Open, Short, Overrange, Stall, Overflow, Fail };

struct ScenarioEvent {
    EventKind kind = EventKind::Open;
    double dAt = 0;                          // seconds of scan time
    double dDuration = INFINITY;             // to the end of the run when not given
    std::vector<int32_t> channels;           // AI indexes, for open, short, overrange
    std::vector<std::string> calls;          // entry points, for fail
    int32_t nResult = 0;                     // for fail
    bool bHostTime = false;                  // timebase="host"
};

struct Scenario {
    std::map<int32_t, ScenarioSignal> signals;   // by AI index
    std::vector<ScenarioEvent> events;
    bool empty() const { return signals.empty() && events.empty(); }
};

// Where the scans of one acquisition stand in the board's world.
struct ScenarioClock {
    double dRate = 1;       // scans per second of the board's own clock
    double dHostRate = 1;   // scans per second of the host's clock: the rate with the board's error
    double dHostLead = 0;   // host seconds from the first acquisition of any board to this board's first
    uint64_t nOffset = 0;   // the world scan of this acquisition's first scan

    double seconds(uint64_t nWorldScan, bool bHostTime) const;
    // The first world scan at or after dSeconds (UINT64_MAX for an infinite time).
    uint64_t firstWorldScanAt(double dSeconds, bool bHostTime) const;
    // The same in this acquisition's scans: 0 when it lies before the acquisition began.
    uint64_t firstScanAt(double dSeconds, bool bHostTime) const;
};

// The value a signal has at world scan nScan, noise included.
double signalValue(const ScenarioSignal& signal, const ScenarioClock& clock, uint64_t nScan, int32_t nChannel);

// Scan nScan's place in [first scan at or after dAt, first scan at or after dAt + dDuration).
uint64_t firstScanAt(double dSeconds, double dRate);

}  // namespace qsim
