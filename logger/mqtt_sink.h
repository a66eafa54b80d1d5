// The broker as a sink: one message per row (JSON or line protocol), through the publisher and
// its spool. A value that is no measurement is null in JSON and left out of the line protocol.
#pragma once

#include <vector>

#include "acquisition_core.h"
#include "mqtt_messages.h"
#include "mqtt_publisher.h"
#include "sink.h"

namespace qlog {

class MqttSink : public Sink {
public:
    MqttSink(const BoardSetup& board, const ScanClock& clock, MqttPublisher* pPublisher, bool bInflux, bool bKeepLimits);

    bool begin() override { return true; }
    void rows(const RowBlock& block) override;
    void gap(const GapRecord&) override {}
    void limit(const LimitChange&) override {}
    void alarm(const AlarmEvent& event) override;
    // Waits for the broker to take what is left; what it did not counts as dropped.
    int64_t settle() override;
    void end(const RunTotals&) override {}

private:
    const BoardSetup& board_;
    const ScanClock clock_;
    MqttPublisher* pPublisher_;
    RowMessage messages_;
    const bool bKeepLimits_;
    std::vector<double> values_;
};

}  // namespace qlog
