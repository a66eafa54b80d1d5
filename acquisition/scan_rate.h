// A scan rate as the driver states it, kept exact: a decimal text such as "333.3333333" is the
// fraction 3333333333/10000000, not the nearest double. Scan times computed from it do not drift,
// however long the run (a rate rounded to 0.001 S/s is 83 ms a day off at 333.3333333 S/s).
#pragma once

#include <stdint.h>

#include <string>

namespace qacq {

struct ScanRate {
    uint64_t nNumerator = 1000;   // scans ...
    uint64_t nDenominator = 1;    // ... per this many seconds; the fraction is reduced
    std::string sText = "1000";   // its exact decimal ("333.3333333", "0.5"), a valid JSON number

    double value() const { return static_cast<double>(nNumerator) / static_cast<double>(nDenominator); }
};

// A positive decimal ("1000", "333.3333333", "0.5", "1e3") into *pRate. False for anything else,
// and for a rate outside 1e-6 .. 1e12 scans/s or with more than 18 significant digits.
bool parseScanRate(const std::string& sText, ScanRate* pRate);

// A rate given as a number: its shortest decimal of up to 15 significant digits ("%.15g").
ScanRate scanRateOf(double dRate);

// floor(a * b / c) without overflow for any 64-bit a and b (c > 0); the result must fit 64 bits.
uint64_t mulDivFloor(uint64_t a, uint64_t b, uint64_t c);

}  // namespace qacq
