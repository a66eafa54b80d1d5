// Reading a recording for replay: a file written by queno_log, its header for the rate, one column
// of values with the scan column beside it.
//
//   # rate 1000 S/s, first scan ...
//   time,scan,AI0 [degC],AI1 [degC]
//   2026-12-08T15:20:01.123456Z,0,22.50712,22.49906
//   # gap: 1234 scans lost after scan 567890 (...)
#pragma once

#include <stddef.h>

#include <string>

#include "scenario.h"

namespace qsim {

struct ReplayLimits {
    static constexpr size_t kMaxFileBytes = 256u << 20;  // a day at 100 scans/s of 16 inputs fits
    static constexpr size_t kMaxRows = 16u << 20;
};

// Reads column sColumn (the first whose name is it, or begins with it and a space: "AI0" takes
// "AI0 [degC]") of the regular file sPath. False with a message (naming the line) otherwise.
bool loadReplay(const std::string& sPath, const std::string& sColumn, ReplayData* pData, std::string* pError);

}  // namespace qsim
