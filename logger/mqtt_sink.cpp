#include "mqtt_sink.h"

#include <math.h>

#include <cmath>

#include "recording_json.h"

namespace qlog {

MqttSink::MqttSink(const BoardSetup& board, const ScanClock& clock, MqttPublisher* pPublisher, bool bInflux,
                   bool bKeepLimits)
    : board_(board), clock_(clock), pPublisher_(pPublisher), messages_(board, bInflux), bKeepLimits_(bKeepLimits),
      values_(board.channels.size(), 0.0) {}

void MqttSink::rows(const RowBlock& block) {
    const size_t nChannels = values_.size();
    for (size_t i = 0; i < block.nRows; ++i) {
        const uint64_t nScan = block.nFirstScan + i * block.nScansPerRow;
        for (size_t c = 0; c < nChannels; ++c) {
            const size_t n = i * nChannels + c;
            const double dCounts = block.pCounts != nullptr ? static_cast<double>(block.pCounts[n]) : block.pMeans[n];
            const bool bLimited = block.pCounts != nullptr ? limitSide(block.pCounts[n], board_.nFullScale) != 0 : block.pLimited[n] != 0;
            const ScaleInfo& scale = board_.channels[c].scale;
            values_[c] = bLimited && !bKeepLimits_ ? NAN : ScaleSample(&scale, dCounts);
        }
        pPublisher_->publish(messages_.format(clock_.micros(nScan), nScan, values_.data()));
    }
}

int64_t MqttSink::settle() {
    pPublisher_->finish();
    return static_cast<int64_t>(pPublisher_->dropped());
}

void MqttSink::alarm(const AlarmEvent& event) {
    const std::string sChannel = "AI" + std::to_string(board_.channels[event.nChannel].nChannel);
    const std::string sSince = utcText(clock_.micros(event.nScan));
    const Json value = std::isnan(event.dValue) ? Json(nullptr) : Json(event.dValue);
    const Json state{{"state", alarmStateName(event.state)}, {"since_scan", event.nScan}, {"since", sSince}, {"value", value}};
    Json message = alarmJson(event, sChannel);
    message["time"] = sSince;
    pPublisher_->publishAlarm(sChannel, jsonDump(state), jsonDump(message));
}

}  // namespace qlog
