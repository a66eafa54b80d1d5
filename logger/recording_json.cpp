#include "recording_json.h"

#include <cmath>

#include "host_clock.h"

namespace qlog {

namespace {

// A rate is written as the exact decimal it is: a JSON number parsed from that text.
Json rateJson(const ScanRate& rate) { return Json::parse(rate.sText); }

const char* causeName(GapCause cause) {
    switch (cause) {
        case GapCause::QueueFull: return "queue_full";
        case GapCause::Overflow: return "overflow";
        case GapCause::ReleaseFailed: return "release_failed";
        case GapCause::DriverFailing: return "driver_failing";
        case GapCause::Undelivered: return "undelivered";
    }
    return "unknown";
}

}  // namespace

Json boardJson(const BoardSetup& board) {
    return Json{{"board", board.nBoardId},       {"model", board.sName},          {"serial", board.sSerial},
                {"resolution", board.nResolution}, {"full_scale", board.nFullScale}, {"rate", rateJson(board.rate)}};
}

Json channelJson(const LoggedChannel& channel) {
    Json settings = Json::array();
    for (const PropertyWrite& setting : channel.settled) settings.push_back(Json::array({setting.first, setting.second}));
    return Json{{"name", "AI" + std::to_string(channel.nChannel)},
                {"mode", channel.sMode},
                {"range", channel.sRange},
                {"unit", channel.sUnit},
                {"low", channel.dRange[0]},
                {"high", channel.dRange[1]},
                {"scale", channel.scale.scale},
                {"offset", channel.scale.offset},
                {"decimals", channel.nDecimals},
                {"settings", settings}};
}

Json channelsJson(const BoardSetup& board) {
    Json channels = Json::array();
    for (const LoggedChannel& channel : board.channels) channels.push_back(channelJson(channel));
    return channels;
}

Json clockJson(const ScanClock& clock) {
    return Json{{"started", utcText(clock.startMicros())}, {"started_us", clock.startMicros()}, {"delay_scans", clock.delayScans()}};
}

Json gapJson(const GapRecord& gap) {
    return Json{{"lost", gap.nLost}, {"next_scan", gap.nNextScan}, {"cause", causeName(gap.cause)}, {"restart_us", gap.nRestartMicros}};
}

Json alarmJson(const AlarmEvent& event, const std::string& sChannel) {
    auto number = [](double d) { return std::isnan(d) ? Json(nullptr) : Json(d); };
    return Json{{"channel", sChannel},
                {"state", alarmStateName(event.state)},
                {"previous", alarmStateName(event.previous)},
                {"scan", event.nScan},
                {"value", number(event.dValue)},
                {"limit", number(event.dLimit)}};
}

std::string jsonDump(const Json& json, int nIndent) { return json.dump(nIndent, ' ', false, Json::error_handler_t::replace); }

std::string jsonText(const std::string& s) { return jsonDump(Json(s)); }

}  // namespace qlog
