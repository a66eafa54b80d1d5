// One simulated board: open/closed, its settings, its channels and its acquisition.
#pragma once

#include <stdint.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>

#include "acquisition.h"
#include "channel_settings.h"
#include "system_description.h"

namespace qsim {

// What a user needs to size a buffer: accumulated over every acquisition since initialisation.
struct AcquisitionStats {
    uint64_t nRuns = 0;
    uint64_t nProduced = 0;
    uint64_t nReleased = 0;
    uint64_t nLargestBacklog = 0;
    uint64_t nOverflows = 0;
};

// Host time's zero for every board of one initialisation: the start of the first acquisition.
struct HostEpoch {
    bool bBegun = false;
    std::chrono::steady_clock::time_point start;
};

class BoardState {
public:
    // pScript, when not null, replaces the real-time producer of every acquisition. The boards of
    // one initialisation share pEpoch.
    BoardState(const BoardDescription& description, const AcquisitionScript* pScript, HostEpoch* pEpoch);
    ~BoardState();

    // KiVoSetParam_i32 and KiVoGetParam_i32/_i64 for this board.
    int32_t command(int32_t nCommand, int64_t nValue);
    int32_t read(int32_t nCommand, int64_t* pnValue);

    // String properties of "BoardID<n>" (sNode empty), "BoardID<n>/AcqProp", a channel group
    // ("AI") or a channel ("AI3").
    int32_t setProperty(const std::string& sNode, const std::string& sProperty, const std::string& sValue);
    int32_t getProperty(const std::string& sNode, const std::string& sProperty, std::string* pValue) const;

    // The running acquisition's buffer, or null.
    const RingBuffer* buffer() const { return acquisition_ ? &acquisition_->buffer() : nullptr; }
    uint32_t bufferCapacity() const { return static_cast<uint32_t>(description_.nBufferScans); }
    const AcquisitionStats& stats() const { return stats_; }
    // A scenario's fail event that covers this moment of the running acquisition (its produced
    // scans / rate) and names the entry point: the result it must return.
    bool timedFailure(const char* sEntryPoint, int32_t* pnResult) const;

private:
    void resetSettings();
    void stopAcquisition();
    int32_t startAcquisition();
    int32_t scanSize() const;
    int32_t sampleDelay() const;
    // The channel node name, when sNode names a channel of this board ("AI3" -> settings).
    ChannelSettings* findChannel(const std::string& sNode);
    const ChannelSettings* findChannel(const std::string& sNode) const;
    int32_t writeSampleRate(const std::string& sValue);
    void addScenario(int32_t nChannel, const ScenarioClock& clock, InputEncoding* pInput) const;
    ScenarioClock worldClock();

    const BoardDescription& description_;
    bool bOpen_ = false;
    bool bApplied_ = false;
    const AcquisitionScript* pScript_;
    HostEpoch* pEpoch_;
    // The board's world: begun at its first acquisition, it runs on across restarts.
    bool bWorldBegun_ = false;
    std::chrono::steady_clock::time_point worldStart_;
    uint64_t nScriptedScans_ = 0;  // scripted runs have no time: their scans go on from the last
    ScenarioClock clock_;          // the running acquisition's
    std::unique_ptr<Acquisition> acquisition_;
    AcquisitionStats stats_;
    double dSampleRate_ = 0;
    int32_t nSetting258_ = 0;
    int32_t nSetting263_ = 0;
    std::map<std::string, ChannelSettings> channels_;
};

}  // namespace qsim
