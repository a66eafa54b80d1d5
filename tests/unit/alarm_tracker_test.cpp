// Alarms decided scan by scan: limits, deadband, delays, faults, gaps, as one table of value
// sequences and the events they must give.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alarms.h"

namespace {

using namespace qlog;

constexpr int32_t kFullScale = 1000;
constexpr int32_t kGap = INT32_MIN;  // in a sequence: the scans of a gap, not a value

struct TrackerCase {
    const char* sName;
    const char* sAlarm;
    std::vector<int32_t> values;  // one scan each at 1 scan/s, the count its value (scale 1)
    const char* sEvents;          // "state@scan ..."
};

const TrackerCase kCases[] = {
    {"AboveAndBack", "AI0:hi=10,deadband=2", {0, 11, 12, 9, 5}, "hi@1 normal@4"},
    {"NoiseWithinTheDeadband", "AI0:hi=10,deadband=2", {11, 9, 11, 9, 11}, "hi@0"},
    {"DelayCountsScansBeyond", "AI0:hi=10,delay=2s", {11, 11, 9, 11, 11, 11}, "hi@5"},
    {"ClearDelayCountsScansBack", "AI0:hi=10,clear-delay=1s", {11, 9, 11, 9, 9}, "hi@0 normal@4"},
    {"HiHiClearsToHi", "AI0:hi=10,hihi=20,deadband=1", {25, 15, 5}, "hihi@0 hi@1 normal@2"},
    {"HiRisesToHiHi", "AI0:hi=10,hihi=20", {15, 25, 15}, "hi@0 hihi@1 hi@2"},
    {"LowSideMirrored", "AI0:lolo=-20,lo=-10", {-25, -15, 0}, "lolo@0 lo@1 normal@2"},
    {"OnlyHiHi", "AI0:hihi=20,deadband=1", {25, 19, 18}, "hihi@0 normal@2"},
    {"AFaultIsNeverHi", "AI0:hi=10", {11, kFullScale, -kFullScale, 11}, "hi@0 fault@1 hi@3"},
    {"AFaultLeftWithADelay", "AI0:hi=10,delay=1s", {kFullScale, 11, 11}, "fault@0 normal@1 hi@2"},
    {"AGapRestartsTheDelay", "AI0:hi=10,delay=2s", {11, 11, kGap, 11, 11, 11}, "hi@5"},
    {"AGapKeepsTheState", "AI0:hi=10", {11, kGap, 11, 0}, "hi@0 normal@3"},
};

std::string run(const TrackerCase& c) {
    AlarmSpec asked;
    std::string sWhy;
    if (!parseAlarmSpec(c.sAlarm, &asked, &sWhy)) return "refused: " + sWhy;
    BoardSetup board;
    board.dRate = 1;
    board.nFullScale = kFullScale;
    LoggedChannel channel;
    channel.nChannel = 0;
    channel.scale.scale = 1;
    board.channels.push_back(channel);
    AlarmTracker tracker({asked}, board);
    std::vector<AlarmEvent> events;
    uint64_t nScan = 0;
    for (int32_t nValue : c.values) {
        if (nValue == kGap) {
            tracker.gap();
        } else {
            tracker.step(&nValue, nScan, &events);
        }
        ++nScan;  // a gap's scan is lost: the numbers go on past it
    }
    std::string s;
    for (const AlarmEvent& e : events) s += std::string(s.empty() ? "" : " ") + alarmStateName(e.state) + "@" + std::to_string(e.nScan);
    return s;
}

TEST(AlarmTracker, EventsAtTheirScans) {
    for (const TrackerCase& c : kCases) EXPECT_EQ(run(c), c.sEvents) << c.sName;
}

}  // namespace
