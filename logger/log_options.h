// queno_log's command line: what to record, how fast, for how long, and where to.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "acquisition_core.h"
#include "alarms.h"
#include "config_file.h"

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
    std::string sClientSuffix;  // several boards: each board's client is one of its own
};

// "mqtt://broker:1883", "mqtts://[::1]" -> host, port, TLS. False with *pError for anything else.
bool parseMqttUrl(const std::string& sUrl, std::string* pHost, int* pnPort, bool* pbTls, std::string* pError);

// What may go of a rotated series so that months of it do not fill the disk; 0: no such bound.
struct RetentionOptions {
    uint64_t nKeepFiles = 0;       // --keep-files: the newest N files of the series stay
    double dKeepForSeconds = 0;    // --keep-for: files older than this go
    uint64_t nMaxTotalBytes = 0;   // --max-total: the series' files together
    uint64_t nMinFreeBytes = 0;    // --min-free SIZE: free space kept on the file system
    double dMinFreePercent = 0;    // --min-free N%
    bool any() const { return nKeepFiles > 0 || dKeepForSeconds > 0 || nMaxTotalBytes > 0 || nMinFreeBytes > 0 || dMinFreePercent > 0; }
};

struct LogOptions {
    BoardConfig board;             // -b, -r and the CHANNEL arguments: what the core acquires
    std::vector<BoardConfig> boards;  // channels that name several boards: each board, in the order named
                                      // (board is the first of them then)
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
    RetentionOptions retention;
    std::vector<AlarmSpec> alarms;       // --alarm, one per channel
    std::vector<std::string> alarmTexts;  // as given
    std::string sOnAlarm;                // --on-alarm: run for every alarm event
    bool bCapture = false;               // --capture PRE,POST: every scan around each alarm event
    double dCapturePreSeconds = 0, dCapturePostSeconds = 0;
    std::string sConfigPath;       // --config: the file read before the command line
    bool bCheckConfig = false;     // --check-config: say the effective settings and exit
    bool bService = false;         // --service: run under systemd (notify, priorities, SIGHUP reloads)
    bool bFormatGiven = false;     // -O was given (otherwise a SigMF name chooses the format)
    std::vector<std::string> channelTexts;                   // the channels as given
    std::vector<std::pair<std::string, std::string>> given;  // each option's text as last given
};

// A SigMF recording's name without the extension of either of its files.
std::string sigmfBase(const std::string& sName);

// The board as default names show it: its id, or its serial number when it was chosen by one
// (only letters, digits, '.', '-' and '_' kept).
std::string boardLabel(const LogOptions& options);

enum class ParseOutcome { Run, Help, Version, Error, ConfigError };

// The configuration file's status for a file that cannot be used (sysexits' EX_CONFIG): the unit
// tells systemd not to restart on it.
constexpr int kConfigErrorStatus = 78;

// Reads the configuration file (--config) and then argv into *pOptions; the command line wins.
// On Error the reason is in *pError (without the program's name); on ConfigError it names the file
// and, where it can, the line.
ParseOutcome parseLogOptions(int argc, char** argv, LogOptions* pOptions, std::string* pError);

// --http's [HOST:]PORT ("8080", "0.0.0.0:8080", "[::1]:8080"); the host defaults to 127.0.0.1.
bool parseHttpAddress(const std::string& sText, std::string* pHost, int* pnPort, std::string* pError);

// "30s", "10m", "24h", "7d", "250ms", or plain seconds. False when the text is none of these.
bool parseDuration(const std::string& sText, double* pdSeconds);
// "200K", "100M", "1G" (powers of 1024), or plain bytes.
bool parseSize(const std::string& sText, uint64_t* pnBytes);

// The keys a configuration file may hold: every long option but help, version, config, check-config
// and service, and "channels".
std::vector<ConfigKey> configKeys();

// The settings in effect, one "key = value" a line in the file's syntax: what was given, from the
// file or the command line, and the defaults of the rest.
std::string effectiveSettings(const LogOptions& options);

extern const char kLogUsage[];
// The long options queno_log takes, for a check that the usage names each of them.
std::vector<std::string> logOptionNames();
extern const char kLogVersion[];

}  // namespace qlog
