// queno_log's command line: what to record, how fast, for how long, and where to.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "acquisition_core.h"

namespace qlog {

// Publishing to an MQTT broker beside the file (or instead of it, with -o none).
struct MqttOptions {
    std::string sHost;          // from mqtt://host[:port] or mqtts://host[:port]
    int nPort = 1883;
    bool bTls = false;
    std::string sTopic;         // default queno/<hostname>/board<N>
    bool bInflux = false;       // InfluxDB line protocol instead of JSON
    int nQos = 1;
    uint64_t nSpoolRows = 0;    // 0: at least an hour of rows
    std::string sUser;
    std::string sPasswordFile;
    std::string sCaFile, sCert, sKey;
};

// "mqtt://broker:1883", "mqtts://[::1]" -> host, port, TLS. False with *pError for anything else.
bool parseMqttUrl(const std::string& sUrl, std::string* pHost, int* pnPort, bool* pbTls, std::string* pError);

struct LogOptions {
    BoardConfig board;             // -b, -r and the CHANNEL arguments: what the core acquires
    double dDurationSeconds = 0;   // 0: until stopped
    uint64_t nScans = 0;           // 0: no limit
    std::string sOutput;           // "" the default name, "-" standard output
    uint32_t nAverage = 1;         // scans per written row
    double dRotateSeconds = 0;     // 0: no rotation by time
    uint64_t nRotateBytes = 0;     // 0: no rotation by size
    double dSyncSeconds = 1;
    bool bRaw = false;
    bool bSigmf = false;           // a SigMF pair (counts or means, binary) instead of CSV
    bool bKeepLimits = false;      // a sample at its range's limit written as that value, not left empty
    bool bQuiet = false;
    bool bMqtt = false;
    MqttOptions mqtt;
    bool bHttp = false;            // --http: the live view
    std::string sHttpHost = "127.0.0.1";
    int nHttpPort = 0;
};

// A SigMF recording's name without the extension of either of its files.
std::string sigmfBase(const std::string& sName);

// The board as default names show it: its id, or its serial number when it was chosen by one
// (only letters, digits, '.', '-' and '_' kept).
std::string boardLabel(const LogOptions& options);

enum class ParseOutcome { Run, Help, Version, Error };

// Reads argv into *pOptions. On Error the reason is in *pError (without the program's name).
ParseOutcome parseLogOptions(int argc, char** argv, LogOptions* pOptions, std::string* pError);

// --http's [HOST:]PORT ("8080", "0.0.0.0:8080", "[::1]:8080"); the host defaults to 127.0.0.1.
bool parseHttpAddress(const std::string& sText, std::string* pHost, int* pnPort, std::string* pError);

// "30s", "10m", "24h", "7d", "250ms", or plain seconds. False when the text is none of these.
bool parseDuration(const std::string& sText, double* pdSeconds);
// "200K", "100M", "1G" (powers of 1024), or plain bytes.
bool parseSize(const std::string& sText, uint64_t* pnBytes);

extern const char kLogUsage[];
// The long options queno_log takes, for a check that the usage names each of them.
std::vector<std::string> logOptionNames();
extern const char kLogVersion[];

}  // namespace qlog
