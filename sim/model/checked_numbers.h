// Conversions from floating point that are defined for every input: NaN gives 0, values beyond
// the target's range give its nearest limit. A plain cast of such a value is undefined behaviour.
#pragma once

#include <math.h>
#include <stdint.h>

namespace qsim {

inline int32_t saturatingInt32(double d) {
    if (isnan(d)) return 0;
    if (d <= static_cast<double>(INT32_MIN)) return INT32_MIN;
    if (d >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    return static_cast<int32_t>(d);
}

inline uint64_t saturatingUint64(double d) {
    if (isnan(d) || d <= 0) return 0;
    if (d >= 18446744073709551616.0) return UINT64_MAX;  // 2^64
    return static_cast<uint64_t>(d);
}

}  // namespace qsim
