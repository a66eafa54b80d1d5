// --on-alarm PROGRAM: the program run for every alarm event, without a shell (nothing of a value
// reaches one), with the event in its environment:
//   QUENO_ALARM_CHANNEL, QUENO_ALARM_STATE, QUENO_ALARM_PREVIOUS, QUENO_ALARM_SCAN, QUENO_ALARM_TIME,
//   QUENO_ALARM_VALUE (empty for a fault), QUENO_ALARM_UNIT, QUENO_BOARD, QUENO_SERIAL.
// It runs on a thread of its own, one at a time, in the order of the events: a hook never delays a
// scan. One that runs longer than 30 s is killed; events beyond 1000 waiting are counted, not run
// (an hour of a flapping alarm is no fork bomb). A failure is said once, with the count at the end.
#pragma once

#include <stdint.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sink.h"

namespace qlog {

class AlarmHook : public Sink {
public:
    static constexpr int kTimeoutSeconds = 30;
    static constexpr size_t kMaxWaiting = 1000;

    AlarmHook(std::string sProgram, const BoardSetup& board, const ScanClock& clock);
    ~AlarmHook() override;
    AlarmHook(const AlarmHook&) = delete;
    AlarmHook& operator=(const AlarmHook&) = delete;

    bool begin() override;
    void rows(const RowBlock&) override {}
    void gap(const GapRecord&) override {}
    void limit(const LimitChange&) override {}
    void alarm(const AlarmEvent& event) override;
    // The hook running now gets a few seconds more; the events still waiting are counted.
    void end(const RunTotals& totals) override;

private:
    void run();
    void runOne(const std::vector<std::string>& environment);
    std::vector<std::string> environmentOf(const AlarmEvent& event) const;
    void stopThread();

    const std::string sProgram_;
    const BoardSetup& board_;
    const ScanClock clock_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::vector<std::string>> waiting_;
    bool bEnding_ = false;
    bool bRunning_ = false;
    uint64_t nNotRun_ = 0;
    uint64_t nFailed_ = 0;
    int64_t nDeadlineMicros_ = INT64_MAX;  // at the end: the running hook is killed after it
    std::thread thread_;
};

}  // namespace qlog
