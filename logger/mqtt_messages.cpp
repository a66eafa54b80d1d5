#include "mqtt_messages.h"

#include <math.h>
#include <stdio.h>
#include <unistd.h>

#include "recording_json.h"

namespace qlog {

namespace {

std::string hostName() {
    char sName[256] = {0};
    gethostname(sName, sizeof(sName) - 1);
    return sName[0] != '\0' ? sName : "localhost";
}

// Tag values of the line protocol escape commas, equals signs and spaces.
std::string influxTag(const std::string& s) {
    std::string sOut;
    for (char c : s) {
        if (c == ',' || c == '=' || c == ' ') sOut += '\\';
        sOut += c;
    }
    return sOut;
}

}  // namespace

std::string defaultTopic(const std::string& sBoard) { return "queno/" + hostName() + "/board" + sBoard; }

RowMessage::RowMessage(const BoardSetup& board, bool bInflux) : board_(board), bInflux_(bInflux) {
    sInfluxPrefix_ = "queno,host=" + influxTag(hostName()) + ",board=" + std::to_string(board.nBoardId) + " ";
}

std::string RowMessage::format(int64_t nMicros, uint64_t nScan, const double* pdValues) {
    char sNumber[kMaxNumberText + 1];
    std::string s;
    s.reserve(48 + board_.channels.size() * 24);
    if (bInflux_) {
        s = sInfluxPrefix_ + "scan=";
        s.append(sNumber, writeUnsigned(sNumber, nScan));
        s += 'i';
        for (size_t c = 0; c < board_.channels.size(); ++c) {
            if (isnan(pdValues[c])) continue;  // no measurement: the line protocol leaves the field out
            s += ",AI" + std::to_string(board_.channels[c].nChannel) + "=";
            s.append(sNumber, writeFixed(sNumber, pdValues[c], board_.channels[c].nDecimals));
        }
        s += ' ';
        s.append(sNumber, writeSigned(sNumber, nMicros * 1000));
        return s;
    }
    s = "{\"time\":\"";
    s.append(sNumber, time_.write(sNumber, nMicros));
    s += "\",\"scan\":";
    s.append(sNumber, writeUnsigned(sNumber, nScan));
    for (size_t c = 0; c < board_.channels.size(); ++c) {
        s += ",\"AI" + std::to_string(board_.channels[c].nChannel) + "\":";
        if (isnan(pdValues[c])) s += "null";  // no measurement
        else s.append(sNumber, writeFixed(sNumber, pdValues[c], board_.channels[c].nDecimals));
    }
    s += '}';
    return s;
}

std::string metaMessage(const BoardSetup& board, const LogOptions& options, const ScanClock& clock) {
    Json meta = boardJson(board);
    meta["average"] = options.nAverage;
    meta["started"] = utcText(clock.startMicros());
    meta["delayScans"] = clock.delayScans();
    meta["firstScan"] = utcText(clock.micros(0));
    meta["channels"] = channelsJson(board);
    return jsonDump(meta);
}

}  // namespace qlog
