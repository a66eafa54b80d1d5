// The host's clocks as the acquisition reads them: the system clock for when a start returned,
// the monotonic one for intervals and time-outs.
#pragma once

#include <stdint.h>

#include <string>

namespace qacq {

// Microseconds since the epoch, now, from the system clock.
int64_t utcMicrosNow();
// Microseconds from the monotonic clock, for intervals.
int64_t monotonicMicros();

// "2026-12-08T15:20:01.123456Z" for microseconds since the epoch.
std::string utcText(int64_t nMicros);

}  // namespace qacq
