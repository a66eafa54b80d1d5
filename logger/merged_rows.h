// Several boards' CSV files of one run as one CSV: one row per row of the first board, one column
// per channel of every board (named <board>/<channel>), another board's value taken from its row
// nearest in time within half of its row period, and empty where it has none (at its gaps). The
// files are read as streams: a recording of a day needs no more memory than one of a minute.
//
//   time,0/AI0 [degC],0/AI1 [degC],1/AI0 [V]
//   2026-12-09T21:37:03.486312Z,22.50712,22.49906,0.000001
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

namespace qlog {

// "2026-12-09T21:37:03.486312Z" (6 decimals or none) as microseconds since the epoch; false for
// anything else.
bool parseUtcText(const char* s, size_t n, int64_t* pnMicros);

// Merges the CSV files (the first board first) into pOut. False with *pError when one is not a
// queno_log CSV file.
bool mergeBoardFiles(const std::vector<std::string>& paths, const std::vector<std::string>& names, FILE* pOut, std::string* pError);

}  // namespace qlog
