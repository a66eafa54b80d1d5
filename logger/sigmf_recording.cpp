#include "sigmf_recording.h"

#include <errno.h>
#include <math.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "regular_file.h"

namespace qlog {

namespace {

using Json = nlohmann::ordered_json;

// What the metadata lacks or holds wrongly, said with the field's name.
struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A recording's times lie between 1970 and the end of the year 9999, its scan numbers below 2^62,
// its metadata within 32 MiB (a recording of queno_log reaches that only with some hundred thousand
// gaps or stretches at a limit in one file). Whatever lies outside is refused before any arithmetic
// on it can overflow, or any reading of it exhaust the memory.
constexpr int64_t kLatestMicros = 253402300799999999;  // 9999-12-31T23:59:59.999999Z
constexpr int64_t kMaxScan = int64_t(1) << 62;
constexpr size_t kMaxMetadataBytes = 32u << 20;

const Json& field(const Json& object, const char* sName) {
    if (!object.is_object() || !object.contains(sName)) throw Refusal(std::string("no \"") + sName + "\"");
    return object[sName];
}

std::string text(const Json& object, const char* sName) {
    const Json& value = field(object, sName);
    if (!value.is_string()) throw Refusal(std::string("\"") + sName + "\" is not a text");
    const std::string s = value.get<std::string>();
    // A line break would forge lines of the CSV it is converted to.
    for (const unsigned char c : s) {
        if (c < 0x20 || c == 0x7f) throw Refusal(std::string("\"") + sName + "\" holds a line break or another control character");
    }
    return s;
}

int64_t whole(const Json& object, const char* sName, int64_t nMin, int64_t nMax) {
    const Json& value = field(object, sName);
    const bool bTooLarge = value.is_number_unsigned() && value.get<uint64_t>() > static_cast<uint64_t>(INT64_MAX);
    if (!value.is_number_integer() || bTooLarge || value.get<int64_t>() < nMin || value.get<int64_t>() > nMax) {
        throw Refusal(std::string("\"") + sName + "\" is not a whole number from " + std::to_string(nMin) + " to " +
                      std::to_string(nMax));
    }
    return value.get<int64_t>();
}

const Json& list(const Json& object, const char* sName) {
    const Json& value = field(object, sName);
    if (!value.is_array()) throw Refusal(std::string("\"") + sName + "\" is not a list");
    return value;
}

uint64_t count(const Json& object, const char* sName) { return static_cast<uint64_t>(whole(object, sName, 0, kMaxScan)); }

int64_t utcMicros(const Json& object, const char* sName) { return whole(object, sName, 0, kLatestMicros); }

double real(const Json& object, const char* sName) {
    const Json& value = field(object, sName);
    if (!value.is_number() || !isfinite(value.get<double>())) throw Refusal(std::string("\"") + sName + "\" is not a number");
    return value.get<double>();
}

AlarmState alarmState(const Json& object, const char* sName) {
    const std::string sState = text(object, sName);
    AlarmState state = AlarmState::Normal;
    if (!alarmStateOf(sState, &state)) throw Refusal("an alarm's state is \"" + sState + "\"");
    return state;
}

// A number, or null where there is none (a fault's value).
double numberOrNone(const Json& object, const char* sName) {
    const Json& value = field(object, sName);
    return value.is_null() ? NAN : real(object, sName);
}

int side(const Json& object) {
    const std::string sSide = text(object, "side");
    if (sSide != "over" && sSide != "under") throw Refusal("a limit's side is \"" + sSide + "\", not over or under");
    return sSide == "over" ? 1 : -1;
}

size_t channelIndex(const BoardSetup& board, const std::string& sName) {
    for (size_t c = 0; c < board.channels.size(); ++c) {
        if (sName == "AI" + std::to_string(board.channels[c].nChannel)) return c;
    }
    throw Refusal("an annotation names " + sName + ", which the recording does not hold");
}

GapCause cause(const std::string& sName) {
    static const std::pair<const char*, GapCause> kCauses[] = {
        {"queue_full", GapCause::QueueFull},         {"overflow", GapCause::Overflow},
        {"release_failed", GapCause::ReleaseFailed}, {"driver_failing", GapCause::DriverFailing},
        {"undelivered", GapCause::Undelivered}};
    for (const auto& entry : kCauses) {
        if (sName == entry.first) return entry.second;
    }
    throw Refusal("a gap's cause is \"" + sName + "\"");
}

void readGlobal(const Json& global, SigmfRecording* pRecording) {
    SigmfRecording& r = *pRecording;
    const std::string sRecorder = text(global, "core:recorder");
    if (sRecorder.compare(0, 10, "queno_log ") != 0) throw Refusal("recorded by \"" + sRecorder + "\", not by queno_log");
    r.sRecorder = sRecorder;
    const std::string sType = text(global, "core:datatype");
    if (sType != "ri32_le" && sType != "rf64_le") throw Refusal("the data type is " + sType + ", not ri32_le or rf64_le");
    r.bMeans = sType == "rf64_le";
    r.options.nAverage = static_cast<uint32_t>(whole(global, "queno:average", 1, 10000000));
    if (r.bMeans != (r.options.nAverage > 1)) throw Refusal("the data type does not fit the average length");
    r.options.bKeepLimits = field(global, "queno:keep_limits").is_boolean() && global["queno:keep_limits"].get<bool>();
    BoardSetup& board = r.board;
    board.nBoardId = static_cast<int32_t>(whole(global, "queno:board", 0, INT32_MAX));
    board.sName = text(global, "queno:model");
    board.sSerial = text(global, "queno:serial");
    board.nResolution = static_cast<int>(whole(global, "queno:resolution", 16, 24));
    board.nFullScale = static_cast<int32_t>(whole(global, "queno:full_scale", 1, INT32_MAX));
    board.dRate = real(global, "queno:rate");
    if (!(board.dRate >= 0.001 && board.dRate <= 1e9)) throw Refusal("the rate is not from 0.001 to 10^9 scans/s");
    board.rate = scanRateOf(board.dRate);  // the decimal the recorder wrote, exact again
    r.nStartMicros = utcMicros(global, "queno:started_us");
    r.nDelayScans = static_cast<int32_t>(whole(global, "queno:delay_scans", 0, 1 << 20));
    board.nSampleDelay = r.nDelayScans;
    r.nFile = static_cast<int>(whole(global, "queno:file", 1, 9999999));
    r.nFirstScan = count(global, "queno:first_scan");
    const Json& channels = field(global, "queno:channels");
    if (!channels.is_array() || channels.empty() || channels.size() > 4096) throw Refusal("\"queno:channels\" lists no inputs");
    if (whole(global, "core:num_channels", 1, 4096) != static_cast<int64_t>(channels.size())) {
        throw Refusal("\"core:num_channels\" differs from the inputs listed");
    }
    for (const Json& entry : channels) {
        LoggedChannel channel;
        const std::string sName = text(entry, "name");
        char* pEnd = nullptr;
        const long n = sName.compare(0, 2, "AI") == 0 ? strtol(sName.c_str() + 2, &pEnd, 10) : -1;
        if (n < 0 || n > 4095 || pEnd == nullptr || *pEnd != '\0' || sName.size() < 3) throw Refusal("an input is named \"" + sName + "\"");
        channel.nChannel = static_cast<int32_t>(n);
        channel.sMode = text(entry, "mode");
        channel.sRange = text(entry, "range");
        channel.sUnit = text(entry, "unit");
        channel.scale.scale = real(entry, "scale");
        channel.scale.offset = real(entry, "offset");
        channel.nDecimals = static_cast<int>(whole(entry, "decimals", 0, 9));
        const Json& settings = field(entry, "settings");
        if (!settings.is_array()) throw Refusal("an input's \"settings\" are not a list");
        for (const Json& setting : settings) {
            if (!setting.is_array() || setting.size() != 2 || !setting[0].is_string() || !setting[1].is_string()) {
                throw Refusal("an input's setting is not a pair of texts");
            }
            channel.settled.emplace_back(setting[0].get<std::string>(), setting[1].get<std::string>());
        }
        board.channels.push_back(channel);
    }
    r.stretchesAtStart.assign(board.channels.size(), {0, 0});
    for (const Json& open : list(global, "queno:limits_at_start")) {
        r.stretchesAtStart[channelIndex(board, text(open, "channel"))] = {side(open), count(open, "from_scan")};
    }
    r.alarmsAtStart.assign(board.channels.size(), {AlarmState::Normal, 0});
    if (global.contains("queno:alarms_at_start")) {
        for (const Json& held : list(global, "queno:alarms_at_start")) {
            r.alarmsAtStart[channelIndex(board, text(held, "channel"))] = {alarmState(held, "state"), count(held, "since_scan")};
        }
    }
    if (global.contains("queno:next")) r.sNext = text(global, "queno:next");
    if (global.contains("queno:end")) {
        const Json& end = global["queno:end"];
        r.bEnded = true;
        r.totals.nScans = count(end, "scans");
        r.totals.nGaps = count(end, "gaps");
        r.totals.nLost = count(end, "lost");
        r.totals.nRowsDropped = end.contains("rows_dropped") ? static_cast<int64_t>(count(end, "rows_dropped")) : -1;
        r.totals.nEndMicros = utcMicros(end, "time_us");
        if (end.contains("alarm_events")) {
            for (const Json& events : list(end, "alarm_events")) {
                r.totals.alarmEvents.emplace_back(channelIndex(board, text(events, "channel")), count(events, "events"));
            }
        }
        const Json& outOfRange = field(end, "out_of_range");
        if (!outOfRange.is_array() || outOfRange.size() != board.channels.size()) throw Refusal("\"out_of_range\" does not list every input");
        for (const Json& n : outOfRange) {
            if (!n.is_number_unsigned() || n.get<uint64_t>() > static_cast<uint64_t>(kMaxScan)) {
                throw Refusal("\"out_of_range\" holds a count that is no count");
            }
            r.totals.outOfRange.push_back(n.get<uint64_t>());
        }
    }
}

// Stretches at a limit become the changes the writer saw: one where a stretch begins in this file,
// one where it ends; an end and a begin of one input at one scan are one change.
void readStretches(const Json& annotation, SigmfRecording* pRecording, std::vector<LimitChange>* pChanges) {
    const Json& limit = annotation["queno:limit"];
    const size_t nChannel = channelIndex(pRecording->board, text(limit, "channel"));
    const int nSide = side(limit);
    const uint64_t nFrom = count(limit, "from_scan"), nEnd = count(limit, "end_scan"), nScans = count(limit, "scans");
    const std::string sHow = text(limit, "how");
    if (sHow != "ended" && sHow != "continues" && sHow != "to_end") throw Refusal("a stretch at a limit ends \"" + sHow + "\"");
    if (nFrom >= pRecording->nFirstScan) {
        LimitChange begin;
        begin.nChannel = nChannel;
        begin.nNewSide = nSide;
        begin.nScan = nFrom;
        pChanges->push_back(begin);
    }
    LimitChange end;
    end.nChannel = nChannel;
    end.nOldSide = nSide;
    end.nOldFrom = nFrom;
    end.nOldScans = nScans;
    end.nScan = nEnd;
    if (sHow == "ended") pChanges->push_back(end);
    if (sHow == "to_end") pRecording->totals.openStretches.push_back(end);
}

void mergeChanges(std::vector<LimitChange> changes, std::vector<LimitChange>* pMerged) {
    std::stable_sort(changes.begin(), changes.end(), [](const LimitChange& a, const LimitChange& b) {
        return a.nScan != b.nScan ? a.nScan < b.nScan : a.nChannel < b.nChannel;
    });
    for (const LimitChange& change : changes) {
        if (!pMerged->empty() && pMerged->back().nScan == change.nScan && pMerged->back().nChannel == change.nChannel) {
            LimitChange& both = pMerged->back();
            if (change.nOldSide != 0) {
                both.nOldSide = change.nOldSide;
                both.nOldFrom = change.nOldFrom;
                both.nOldScans = change.nOldScans;
            }
            if (change.nNewSide != 0) both.nNewSide = change.nNewSide;
            continue;
        }
        pMerged->push_back(change);
    }
}


// The metadata's text: a regular file of at most kMaxMetadataBytes.
bool readMetadata(const std::string& sPath, std::string* pContents, std::string* pError) {
    int nErrno = 0;
    switch (readRegularFile(sPath, kMaxMetadataBytes, pContents, &nErrno)) {
        case FileRead::Done: return true;
        case FileRead::CannotOpen:
        case FileRead::ReadFailed: *pError = "cannot read " + sPath + ": " + strerror(nErrno); return false;
        case FileRead::NotRegular: *pError = "cannot read " + sPath + ": not a regular file"; return false;
        case FileRead::TooLarge: *pError = sPath + ": more than 32 MiB: not the metadata of a SigMF recording of queno_log"; return false;
    }
    return false;
}

// Every scan the recording names has a time before the year 10000; and a recording that has its
// end holds the scans that end counts (a data file cut short after it was ended does not).
void checkScans(SigmfRecording* pRecording) {
    SigmfRecording& r = *pRecording;
    uint64_t nLast = r.nFirstScan;
    for (size_t i = 0; i < r.captures.size(); ++i) {
        const uint64_t nEnd = i + 1 < r.captures.size() ? r.captures[i + 1].nPosition : std::max(r.nRows, r.captures[i].nPosition);
        if (nEnd < r.captures[i].nPosition) throw Refusal("the captures are not in the order of their samples");
        const long double dLast = static_cast<long double>(r.captures[i].nScan) +
                                  static_cast<long double>(nEnd - r.captures[i].nPosition) * r.options.nAverage;
        if (dLast > static_cast<long double>(kMaxScan)) throw Refusal("a capture's scans run past scan 2^62");
        nLast = std::max<uint64_t>(nLast, static_cast<uint64_t>(dLast));
    }
    for (const SigmfRecording::Gap& gap : r.gaps) nLast = std::max(nLast, gap.record.nNextScan);
    for (const LimitChange& change : r.limitChanges) nLast = std::max(nLast, change.nScan);
    for (const AlarmEvent& event : r.alarmEvents) nLast = std::max(nLast, event.nScan);
    const long double dMicros = static_cast<long double>(r.nStartMicros) +
                                (static_cast<long double>(nLast) + r.nDelayScans) * 1e6L / r.board.dRate;
    if (dMicros > static_cast<long double>(kLatestMicros)) throw Refusal("its scans run past the year 9999");
    if (!r.bEnded) return;
    long double dTrailingLost = 0;
    for (const SigmfRecording::Gap& gap : r.gaps) {
        if (gap.nPosition >= r.nRows) dTrailingLost += gap.record.nLost;
    }
    uint64_t nCovered = r.nFirstScan;  // the scan after the last the data holds
    if (r.nRows > 0) {
        const SigmfRecording::Capture* pLast = &r.captures.front();
        for (const SigmfRecording::Capture& capture : r.captures) {
            if (capture.nPosition < r.nRows) pLast = &capture;
        }
        nCovered = pLast->nScan + (r.nRows - pLast->nPosition) * r.options.nAverage;
    }
    r.bDataShort = nCovered + dTrailingLost < static_cast<long double>(r.totals.nScans) + r.totals.nLost;
}

}  // namespace

bool readSigmfRecording(const std::string& sName, SigmfRecording* pRecording, std::string* pError) {
    SigmfRecording& r = *pRecording;
    const std::string sBase = sigmfBase(sName);
    r.sMetaPath = sBase + ".sigmf-meta";
    r.sDataPath = sBase + ".sigmf-data";
    std::string sContents;
    if (!readMetadata(r.sMetaPath, &sContents, pError)) return false;
    const Json meta = Json::parse(sContents, nullptr, false);
    if (meta.is_discarded()) {
        *pError = r.sMetaPath + " is not JSON: not the metadata of a SigMF recording";
        return false;
    }
    if (!meta.is_object()) {
        *pError = r.sMetaPath + " is JSON, but not a SigMF metadata object";
        return false;
    }
    try {
        readGlobal(field(meta, "global"), &r);
        const Json& global = field(meta, "global");
        r.bFittedClock = global.contains("queno:clock");
        if (r.bFittedClock) {
            const Json& clock = field(global, "queno:clock");
            r.clockFit.dRate = real(clock, "fitted_rate");
            r.clockFit.dBoundMicros = real(clock, "error_bound_us");
            r.clockFit.nAnchors = count(clock, "anchors");
            if (!(r.clockFit.dBoundMicros >= 0 && r.clockFit.dBoundMicros < 1e12)) throw Refusal("the clock's error bound is out of bounds");
        }
        for (const Json& capture : list(meta, "captures")) {
            r.captures.push_back({count(capture, "core:sample_start"), count(capture, "core:global_index")});
            if (r.bFittedClock) {
                r.captures.back().nMicros = utcMicros(capture, "queno:datetime_us");
                r.captures.back().dRate = real(capture, "queno:rate");
                const double dNominal = r.board.dRate;
                if (!(r.captures.back().dRate >= dNominal * 0.99 && r.captures.back().dRate <= dNominal * 1.01)) {
                    throw Refusal("a capture's fitted rate is not within 1 % of the rate");
                }
            }
        }
        if (r.captures.empty() || r.captures[0].nPosition != 0) throw Refusal("no capture at the first sample");
        std::vector<LimitChange> changes;
        for (const Json& annotation : list(meta, "annotations")) {
            if (annotation.contains("queno:gap")) {
                const Json& gap = annotation["queno:gap"];
                SigmfRecording::Gap entry;
                entry.nPosition = count(annotation, "core:sample_start");
                entry.record.nLost = count(gap, "lost");
                entry.record.nNextScan = count(gap, "next_scan");
                entry.record.cause = cause(text(gap, "cause"));
                entry.record.nRestartMicros = utcMicros(gap, "restart_us");
                r.gaps.push_back(entry);
            } else if (annotation.contains("queno:limit")) {
                readStretches(annotation, &r, &changes);
            } else if (annotation.contains("queno:alarm")) {
                const Json& alarm = annotation["queno:alarm"];
                AlarmEvent event;
                event.nChannel = channelIndex(r.board, text(alarm, "channel"));
                event.state = alarmState(alarm, "state");
                event.previous = alarmState(alarm, "previous");
                event.nScan = count(alarm, "scan");
                event.dValue = numberOrNone(alarm, "value");
                event.dLimit = numberOrNone(alarm, "limit");
                r.alarmEvents.push_back(event);
            }
        }
        mergeChanges(changes, &r.limitChanges);
        std::stable_sort(r.alarmEvents.begin(), r.alarmEvents.end(),
                         [](const AlarmEvent& a, const AlarmEvent& b) { return a.nScan < b.nScan; });
    } catch (const Refusal& refusal) {
        *pError = r.sMetaPath + ": " + refusal.what() + ": not a SigMF recording of queno_log";
        return false;
    } catch (const nlohmann::json::exception& refusal) {
        *pError = r.sMetaPath + ": " + refusal.what() + ": not a SigMF recording of queno_log";
        return false;
    }
    struct stat info = {};
    if (stat(r.sDataPath.c_str(), &info) != 0) {
        *pError = "cannot read " + r.sDataPath + ": " + strerror(errno);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        *pError = "cannot read " + r.sDataPath + ": not a regular file";
        return false;
    }
    r.nRowBytes = r.board.channels.size() * (r.bMeans ? sizeof(double) : sizeof(int32_t));
    r.nRows = static_cast<uint64_t>(info.st_size) / r.nRowBytes;  // a torn last scan is left out
    try {
        checkScans(&r);
    } catch (const Refusal& refusal) {
        *pError = r.sMetaPath + ": " + refusal.what() + ": not a SigMF recording of queno_log";
        return false;
    }
    return true;
}

}  // namespace qlog
