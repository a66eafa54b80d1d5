// The simulated RTD behind an analogue input: room temperature with a slow drift and noise.
#pragma once

#include <stdint.h>

namespace qsim {

struct SensorModel {
    double dTemperature = 22.5;  // degC
    double dDrift = 0.4;         // amplitude of the slow drift, degC
    double dDriftPeriod = 600;   // seconds
    double dNoise = 0.02;        // standard deviation, degC
    uint32_t nSeed = 1;
};

}  // namespace qsim
