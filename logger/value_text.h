// Text for the CSV, written straight into the writer's buffer: fixed-point values, integers and
// ISO-8601 UTC times. Formatting a value is the hot path (millions a second): it is an integer
// of the value's last decimal with the point placed, not a printf.
#pragma once

#include <stdint.h>

namespace qlog {

// Room a value, an integer or a time needs at most.
constexpr int kMaxNumberText = 40;

// dValue with nDecimals decimals (0..9), rounded half away from zero; "-0" never appears.
// Returns the end of what was written.
char* writeFixed(char* p, double dValue, int nDecimals);
char* writeUnsigned(char* p, uint64_t n);
char* writeSigned(char* p, int64_t n);

// "2026-12-08T15:20:01.123456Z" for microseconds since the epoch. Keeps the text of the last
// second it formatted, so successive times of one second cost only their microseconds.
class TimeText {
public:
    char* write(char* p, int64_t nMicros);

private:
    int64_t nSecond_ = INT64_MIN;
    char sSecond_[24] = {0};  // "2026-12-08T15:20:01."
    int nSecondLength_ = 0;
};

// The same as one text, for header lines.
void formatUtcMicros(int64_t nMicros, char* sText, int nSize);

}  // namespace qlog
