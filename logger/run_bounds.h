// What bounds a run of queno_log, for one board or several: the scans the duration and count
// allow, the grace a driver that stops delivering gets, the broker's spool, and the driver itself.
#pragma once

#include <stdint.h>

#include "log_options.h"

namespace qlog {

// A duration is a bound in time too: a driver that stops delivering does not hold the run beyond it
// by more than this.
constexpr int64_t kDurationGraceMicros = 5000000;

// The scans -d and -n allow at dRate scans per second; UINT64_MAX without either.
uint64_t scanLimit(const LogOptions& options, double dRate);

// An hour of rows at the rate asked for, from 1000 to 4 million (a million rows of 16 values are
// about 300 MB of spool file); --spool when given.
uint64_t spoolRows(const LogOptions& options);

// Loads the driver; a missing one is said in the tools' words (standard output stays untouched).
bool loadDriver();

}  // namespace qlog
