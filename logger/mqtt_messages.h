// What goes to the broker: one message per written row, as JSON or InfluxDB line protocol, and
// the retained meta message with what the CSV header says.
//
//   {"time":"2026-12-08T15:20:01.123456Z","scan":1000,"AI0":22.50712,"AI1":22.49906}
//   queno,host=h,board=0 scan=1000i,AI0=22.50712,AI1=22.49906 1796743201123456000
#pragma once

#include <stdint.h>

#include <string>

#include "acquisition_core.h"
#include "log_options.h"
#include "value_text.h"

namespace qlog {

class RowMessage {
public:
    RowMessage(const BoardSetup& board, bool bInflux);
    // The message of a row: its first scan's time and number and the channels' values.
    std::string format(int64_t nMicros, uint64_t nScan, const double* pdValues);

private:
    const BoardSetup& board_;
    bool bInflux_;
    std::string sInfluxPrefix_;  // "queno,host=h,board=0 "
    TimeText time_;
};

// {"board":0,"model":...,"rate":1000,"channels":[{"name":"AI0","mode":...,"range":...,"unit":...}]}
std::string metaMessage(const BoardSetup& board, const LogOptions& options, const ScanClock& clock);

// queno/<hostname>/board<N>
std::string defaultTopic(const std::string& sBoard);

}  // namespace qlog
