// The JSON that says what a recording is, one function per object, through nlohmann-json: the
// board, a channel, the scan clock, a gap, a stretch at a limit. The MQTT meta message (the live
// view's /meta), the live view's /status and the SigMF metadata are made of the same objects, so
// a channel's facts read the same wherever they are found. (A row's JSON for the broker is the hot
// path and stays a formatter of its own, in mqtt_messages.)
#pragma once

#include <stdint.h>

#include <string>

#include <nlohmann/json.hpp>

#include "acquisition_core.h"
#include "alarms.h"

namespace qlog {

using Json = nlohmann::ordered_json;

// board, model, serial, resolution, full_scale, rate (the exact decimal the driver settled on).
Json boardJson(const BoardSetup& board);
// name, mode, range (as the driver settled it), unit, low, high, scale, offset (value = count x
// scale - offset), decimals, settings ([[property, value], ...] as read back).
Json channelJson(const LoggedChannel& channel);
Json channelsJson(const BoardSetup& board);
// started, started_us, delay_scans: scan n was measured at started + (delay + n) / rate.
Json clockJson(const ScanClock& clock);
// lost, next_scan, cause, restart_us.
Json gapJson(const GapRecord& gap);
// channel, state, previous, scan, value (null for a fault), limit (null for normal and fault).
Json alarmJson(const AlarmEvent& event, const std::string& sChannel);

// The text of a JSON value, compact (or indented by nIndent); text that is no UTF-8 (a driver's
// hostile strings) is replaced, never thrown over.
std::string jsonDump(const Json& json, int nIndent = -1);
// A string as JSON, quotes included.
std::string jsonText(const std::string& s);

}  // namespace qlog
