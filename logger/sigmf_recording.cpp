#include "sigmf_recording.h"

#include <errno.h>
#include <math.h>
#include <string.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>

namespace qlog {

namespace {

using Json = nlohmann::ordered_json;

// What the metadata lacks or holds wrongly, said with the field's name.
struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

const Json& field(const Json& object, const char* sName) {
    if (!object.is_object() || !object.contains(sName)) throw Refusal(std::string("no \"") + sName + "\"");
    return object[sName];
}

std::string text(const Json& object, const char* sName) {
    const Json& value = field(object, sName);
    if (!value.is_string()) throw Refusal(std::string("\"") + sName + "\" is not a text");
    return value.get<std::string>();
}

int64_t whole(const Json& object, const char* sName, int64_t nMin, int64_t nMax) {
    const Json& value = field(object, sName);
    if (!value.is_number_integer() || value.get<int64_t>() < nMin || value.get<int64_t>() > nMax) {
        throw Refusal(std::string("\"") + sName + "\" is not a whole number from " + std::to_string(nMin) + " to " +
                      std::to_string(nMax));
    }
    return value.get<int64_t>();
}

uint64_t count(const Json& object, const char* sName) { return static_cast<uint64_t>(whole(object, sName, 0, INT64_MAX)); }

double real(const Json& object, const char* sName) {
    const Json& value = field(object, sName);
    if (!value.is_number() || !isfinite(value.get<double>())) throw Refusal(std::string("\"") + sName + "\" is not a number");
    return value.get<double>();
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
    if (!(board.dRate >= 0.001)) throw Refusal("the rate is below 0.001 scans/s");
    board.rate = scanRateOf(board.dRate);  // the decimal the recorder wrote, exact again
    r.nStartMicros = whole(global, "queno:started_us", 0, INT64_MAX);
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
    for (const Json& open : field(global, "queno:limits_at_start")) {
        r.stretchesAtStart[channelIndex(board, text(open, "channel"))] = {side(open), count(open, "from_scan")};
    }
    if (global.contains("queno:next")) r.sNext = text(global, "queno:next");
    if (global.contains("queno:end")) {
        const Json& end = global["queno:end"];
        r.bEnded = true;
        r.totals.nScans = count(end, "scans");
        r.totals.nGaps = count(end, "gaps");
        r.totals.nLost = count(end, "lost");
        r.totals.nRowsDropped = end.contains("rows_dropped") ? whole(end, "rows_dropped", 0, INT64_MAX) : -1;
        r.totals.nEndMicros = whole(end, "time_us", 0, INT64_MAX);
        const Json& outOfRange = field(end, "out_of_range");
        if (!outOfRange.is_array() || outOfRange.size() != board.channels.size()) throw Refusal("\"out_of_range\" does not list every input");
        for (const Json& n : outOfRange) {
            if (!n.is_number_unsigned()) throw Refusal("\"out_of_range\" holds a count that is no count");
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


}  // namespace

bool readSigmfRecording(const std::string& sName, SigmfRecording* pRecording, std::string* pError) {
    SigmfRecording& r = *pRecording;
    const std::string sBase = sigmfBase(sName);
    r.sMetaPath = sBase + ".sigmf-meta";
    r.sDataPath = sBase + ".sigmf-data";
    std::ifstream in(r.sMetaPath, std::ios::binary);
    if (!in) {
        *pError = "cannot read " + r.sMetaPath + ": " + strerror(errno);
        return false;
    }
    std::stringstream contents;
    contents << in.rdbuf();
    const Json meta = Json::parse(contents.str(), nullptr, false);
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
        for (const Json& capture : field(meta, "captures")) {
            r.captures.push_back({count(capture, "core:sample_start"), count(capture, "core:global_index")});
        }
        if (r.captures.empty() || r.captures[0].nPosition != 0) throw Refusal("no capture at the first sample");
        std::vector<LimitChange> changes;
        for (const Json& annotation : field(meta, "annotations")) {
            if (annotation.contains("queno:gap")) {
                const Json& gap = annotation["queno:gap"];
                SigmfRecording::Gap entry;
                entry.nPosition = count(annotation, "core:sample_start");
                entry.record.nLost = count(gap, "lost");
                entry.record.nNextScan = count(gap, "next_scan");
                entry.record.cause = cause(text(gap, "cause"));
                entry.record.nRestartMicros = whole(gap, "restart_us", INT64_MIN, INT64_MAX);
                r.gaps.push_back(entry);
            } else if (annotation.contains("queno:limit")) {
                readStretches(annotation, &r, &changes);
            }
        }
        mergeChanges(changes, &r.limitChanges);
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
    r.nRowBytes = r.board.channels.size() * (r.bMeans ? sizeof(double) : sizeof(int32_t));
    r.nRows = static_cast<uint64_t>(info.st_size) / r.nRowBytes;  // a torn last scan is left out
    return true;
}

}  // namespace qlog
