// What a system description may hold: sizes far above any real system and far below what would
// hurt the machine, and the meaning-bound limits of every number the simulator reads from it.
#pragma once

#include <libxml/tree.h>
#include <stddef.h>
#include <stdint.h>

#include <string>

namespace qsim {

struct DescriptionLimits {
    static constexpr size_t kMaxFileBytes = 1 << 20;         // the description file
    static constexpr size_t kMaxElements = 100000;           // elements in the document as written
    static constexpr size_t kMaxChannelElements = 100000;    // elements made by copying modes to channels
    static constexpr size_t kMaxBoards = 64;
    static constexpr int32_t kMaxChannelsPerKind = 256;
    static constexpr size_t kMaxModesPerChannel = 32;
    static constexpr size_t kMaxListEntries = 256;
    static constexpr int64_t kMaxBufferBytes = 64ll << 20;   // ring buffers of all boards together
    static constexpr double kMaxSampleRate = 10e6;           // scans per second
    static constexpr double kMaxMagnitude = 1e12;            // limits, defaults and range ends of a mode
    static constexpr double kMinTemperature = -273.15, kMaxTemperature = 5000;  // degC
    static constexpr double kMaxDrift = 1000, kMaxNoise = 1000;                 // degC
    static constexpr double kMinDriftPeriod = 0.001, kMaxDriftPeriod = 1e9;     // seconds
};

// A number attribute that must be finite and within [dMin, dMax]; absent leaves *pdValue as it is.
// The message names the line, the element, the attribute and the value.
bool readLimitedNumber(xmlNodePtr pNode, const char* sName, double dMin, double dMax, double* pdValue,
                       std::string* pError);
// The elements below pNode, pNode included, counted up to nLimit + 1.
size_t countElements(xmlNodePtr pNode, size_t nLimit);
// The sample-rate limits of <SampleRate ProgMin ProgMax Default>, when present.
bool checkSampleRate(xmlNodePtr pSampleRate, std::string* pError);
// The modes of one channel node: their number, their lists' lengths and ranges, and every
// Min/Max/Default limit.
bool checkChannelModes(xmlNodePtr pChannel, std::string* pError);
// "line N: <Element>" for messages.
std::string describeElement(xmlNodePtr pNode);

}  // namespace qsim
