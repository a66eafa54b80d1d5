// A board's scenario: what each analogue input measures over scan time, and timed sensor and board
// events. Everything is a function of the scan index (time = scan / rate, counted from the start of
// each acquisition) and the seeds, never of when the producer woke up, so a scenario repeats bit
// for bit.
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
};

enum class EventKind { Open, Short, Overrange, Stall, Overflow, Fail };

struct ScenarioEvent {
    EventKind kind = EventKind::Open;
    double dAt = 0;                          // seconds of scan time
    double dDuration = INFINITY;             // to the end of the run when not given
    std::vector<int32_t> channels;           // AI indexes, for open, short, overrange
    std::vector<std::string> calls;          // entry points, for fail
    int32_t nResult = 0;                     // for fail
};

struct Scenario {
    std::map<int32_t, ScenarioSignal> signals;   // by AI index
    std::vector<ScenarioEvent> events;
    bool empty() const { return signals.empty() && events.empty(); }
};

// The value a signal has at scan nScan of an acquisition at dRate scans per second, noise included.
double signalValue(const ScenarioSignal& signal, uint64_t nScan, double dRate, int32_t nChannel);

// Scan nScan's place in [first scan at or after dAt, first scan at or after dAt + dDuration).
uint64_t firstScanAt(double dSeconds, double dRate);

}  // namespace qsim
