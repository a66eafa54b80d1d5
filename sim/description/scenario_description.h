// Reading a board's <Signals> and <Events> into its scenario, with the checks every description
// gets: finite numbers within limits, known kinds and entry points, existing channels, a bounded
// number of each, and a replay file that is a regular file of bounded size. Every refusal names
// the line, the element and the attribute.
#pragma once

#include <libxml/tree.h>
#include <stdint.h>

#include <string>

#include "scenario.h"

namespace qsim {

struct ScenarioLimits {
    static constexpr size_t kMaxSignals = 256;
    static constexpr size_t kMaxEvents = 256;
    static constexpr size_t kMaxSteps = 256;
    static constexpr double kMaxSeconds = 1e9;        // times and durations
    static constexpr double kMinPeriod = 1e-6;        // seconds: a sine, a step, a ramp
    static constexpr double kMaxValue = 1e12;         // values in the channel's unit
    static constexpr double kMaxNoise = 1e6;
    static constexpr double kMinSpeed = 1e-3, kMaxSpeed = 1e6;
};

// nInputs: the board's analogue inputs. sBaseDir: the folder replay files are relative to.
bool readScenario(xmlNodePtr pBoard, int32_t nInputs, const std::string& sBaseDir, Scenario* pScenario,
                  std::string* pError);

}  // namespace qsim
