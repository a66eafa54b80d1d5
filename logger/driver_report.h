// How queno_log says that a driver call failed: on standard error, the status line cleared first,
// "queno_log: <the step>: <the driver's text>" (a warning in the same words). The caller gets the
// result back and decides what it means for the run.
#pragma once

#include <stdint.h>

#include <string>

namespace qlog {

// The driver's text for a result, or the number where it has none.
std::string driverText(int32_t nResult);

// Says a non-zero result; returns it.
int32_t reportDriver(const std::string& sStep, int32_t nResult);

}  // namespace qlog
