#include "log_options.h"

#include <ctype.h>
#include <errno.h>
#include <getopt.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "config_file.h"
#include "host_port.h"

namespace qlog {

const char kLogVersion[] = "queno_log " QUENO_VERSION "\n";

const char kLogUsage[] =
    "Usage: queno_log [options] CHANNEL...\n"
    "Records every scan of the chosen analogue inputs of a QUENO board into a CSV file or a SigMF\n"
    "recording, to an MQTT broker, and live in a browser.\n"
    "\n"
    "  CHANNEL           [BOARD/]AI<k>[:<preset>][,<Property>=<value>]...\n"
    "                    presets: rtd (the example's settings: RTD-Temperature, PTX, 0.5 mA, 600 Ohm,\n"
    "                    -100..200 degC, filter 100), pt100, pt1000, tc-k, tc-j, voltage, bridge;\n"
    "                    each further Property=value is written to the channel as the driver names it,\n"
    "                    e.g.  AI0:pt100  AI1:tc-k  AI2:voltage,Range=-1..1 V  AI3:rtd,IIRFilter_VAL=0\n"
    "                    BOARD (an id, or serial:<number>) names the channel's board; channels of several\n"
    "                    boards record each board into <base>-board<id> on one time base\n"
    "  -b, --board N     board id (default 0), or serial:<number> for the board with that serial number\n"
    "  -r, --rate S/s    scans per second (default 1000)\n"
    "  -d, --duration T  stop after T (30s, 10m, 24h, 7d); default: until stopped\n"
    "  -n, --scans N     stop after N scans\n"
    "  -o, --output P    the file; '-' for standard output; default queno-<board>-<UTC start>.csv\n"
    "  -O, --output-format csv|sigmf\n"
    "                    sigmf: the counts as they come (int32, or float64 means) in NAME.sigmf-data, and\n"
    "                    what they mean in NAME.sigmf-meta (implied by -o NAME.sigmf-meta or .sigmf-data)\n"
    "      --average N   write the mean of every N scans (default 1: every scan)\n"
    "      --rotate X    a new file every T (30m, 1h, 1d) or every SIZE (200K, 100M, 1G; powers of 1024)\n"
    "      --sync T      how often the file is synced to the disk (default 1s)\n"
    "      --raw         a raw column beside each value: the signed sample, in decimal\n"
    "      --keep-limits write a sample at the limit of its range (an open or shorted sensor, an input\n"
    "                    over range) as the limit's value; by default its field is left empty\n"
    "      --mqtt URL    also publish every row to an MQTT broker: mqtt://host[:port], mqtts:// for TLS;\n"
    "                    -o none for no file. With it: --topic T (default queno/<host>/board<N>),\n"
    "                    --format json|influx, --qos 0|1 (default 1), --spool ROWS (default an hour, <= 4M),\n"
    "                    --user U --password-file F, --cafile CA [--cert C --key K]\n"
    "      --http [HOST:]PORT\n"
    "                    watch the run live in a browser at http://HOST:PORT/ (HOST default 127.0.0.1,\n"
    "                    the board itself; 0.0.0.0 for every network); -o none for no file;\n"
    "                    /status and /meta give its facts as JSON\n"
    "  -q, --quiet       no status line\n"
    "      --alarm 'AI<k>:KEY=VALUE,...'\n"
    "                    an alarm on a recorded channel: lolo, lo, hi, hihi (in its unit), deadband,\n"
    "                    delay, clear-delay (times); a sample at a limit of its range is a fault. Each\n"
    "                    change of state is a line in the CSV (an annotation in SigMF)\n"
    "      --on-alarm PROGRAM  run for every alarm event, without a shell, with QUENO_ALARM_* set\n"
    "      --capture PRE,POST  for every alarm event, every scan from PRE before it to POST after it\n"
    "                    in a SigMF recording <name>-alarm-<NNNN> beside the output (e.g. 10s,60s)\n"
    "      --keep-files N, --keep-for T, --max-total SIZE, --min-free SIZE|N%\n"
    "                    retention of a rotated series: its oldest files go after each new file and\n"
    "                    when free space runs short (only files of the series that queno_log wrote)\n"
    "      --config FILE read the options from a TOML file first (keys: the long options, channels = [...]);\n"
    "                    the command line wins\n"
    "      --check-config   check the options and the file, print the settings in effect, exit (0 or 78)\n"
    "      --service     run under systemd: messages with their priority, sd_notify (ready, status,\n"
    "                    watchdog), SIGHUP begins the next file of the series and reads the file again\n"
    "      --help, --version\n"
    "\n"
    "Ctrl-C, SIGTERM or SIGHUP end the run cleanly: the file is completed and synced (with --service\n"
    "SIGHUP is a reload).\n"
    "Exit status: 0 every scan written; 3 the run ended normally but scans were lost (the file's gap\n"
    "lines say where) or rows could not be published; 2 bad options or a setting the driver refused;\n"
    "1 no driver, no board, an output that cannot be written, a broker that refused the connection, or\n"
    "an --http port that cannot be had; 78 a configuration file that cannot be used.\n"
    "Without a board: queno-sim queno_log ...\n";

namespace {

enum LongOnly {
    kAverage = 1000, kFormatOut, kRotate, kSync, kRaw, kKeepLimits, kHelp, kVersion,
    kMqtt, kTopic, kFormat, kQos, kSpool, kUser, kPasswordFile, kCaFile, kCert, kKey, kHttp,
    kConfig, kCheckConfig, kService, kKeepFiles, kKeepFor, kMaxTotal, kMinFree, kAlarm, kOnAlarm, kCapture
};

const option kLongOptions[] = {
    {"board", required_argument, nullptr, 'b'},   {"rate", required_argument, nullptr, 'r'},
    {"duration", required_argument, nullptr, 'd'}, {"scans", required_argument, nullptr, 'n'},
    {"output", required_argument, nullptr, 'o'},  {"average", required_argument, nullptr, kAverage},
    {"output-format", required_argument, nullptr, 'O'},
    {"rotate", required_argument, nullptr, kRotate}, {"sync", required_argument, nullptr, kSync},
    {"raw", no_argument, nullptr, kRaw},          {"quiet", no_argument, nullptr, 'q'},
    {"keep-limits", no_argument, nullptr, kKeepLimits},
    {"help", no_argument, nullptr, kHelp},        {"version", no_argument, nullptr, kVersion},
    {"mqtt", required_argument, nullptr, kMqtt},  {"topic", required_argument, nullptr, kTopic},
    {"format", required_argument, nullptr, kFormat}, {"qos", required_argument, nullptr, kQos},
    {"spool", required_argument, nullptr, kSpool}, {"user", required_argument, nullptr, kUser},
    {"password-file", required_argument, nullptr, kPasswordFile}, {"cafile", required_argument, nullptr, kCaFile},
    {"cert", required_argument, nullptr, kCert},  {"key", required_argument, nullptr, kKey},
    {"http", required_argument, nullptr, kHttp},
    {"keep-files", required_argument, nullptr, kKeepFiles}, {"keep-for", required_argument, nullptr, kKeepFor},
    {"max-total", required_argument, nullptr, kMaxTotal}, {"min-free", required_argument, nullptr, kMinFree},
    {"config", required_argument, nullptr, kConfig}, {"check-config", no_argument, nullptr, kCheckConfig},
    {"service", no_argument, nullptr, kService},
    {"alarm", required_argument, nullptr, kAlarm}, {"on-alarm", required_argument, nullptr, kOnAlarm},
    {"capture", required_argument, nullptr, kCapture},
    {nullptr, 0, nullptr, 0},
};

// A whole decimal number from nMin to nMax; nothing else in the text.
bool parseWhole(const char* sText, uint64_t nMin, uint64_t nMax, uint64_t* pnValue) {
    if (sText == nullptr || *sText < '0' || *sText > '9') return false;
    errno = 0;
    char* pEnd = nullptr;
    unsigned long long n = strtoull(sText, &pEnd, 10);
    if (errno != 0 || *pEnd != '\0' || n < nMin || n > nMax) return false;
    *pnValue = n;
    return true;
}

// A finite number with an optional suffix; the suffix is returned.
bool parseNumberWithSuffix(const std::string& sText, double* pdValue, std::string* pSuffix) {
    if (sText.empty() || !(isdigit(static_cast<unsigned char>(sText[0])) || sText[0] == '.')) return false;
    char* pEnd = nullptr;
    double d = strtod(sText.c_str(), &pEnd);
    if (pEnd == sText.c_str() || !isfinite(d) || d < 0) return false;
    *pdValue = d;
    *pSuffix = pEnd;
    return true;
}

bool endsWith(const std::string& s, const char* sEnd) {
    const size_t n = strlen(sEnd);
    return s.size() >= n && s.compare(s.size() - n, n, sEnd) == 0;
}

bool hasControlCharacter(const std::string& s) {
    for (char c : s) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return true;
    }
    return false;
}

// Well-formed UTF-8: the broker drops the connection of a client that sends anything else.
bool isUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t nMore = 0;
        if (c >= 0xC2 && c <= 0xDF) nMore = 1;
        else if (c >= 0xE0 && c <= 0xEF) nMore = 2;
        else if (c >= 0xF0 && c <= 0xF4) nMore = 3;
        else if (c >= 0x80) return false;
        if (i + nMore >= s.size() && nMore > 0) return false;
        for (size_t k = 1; k <= nMore; ++k) {
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        }
        i += nMore + 1;
    }
    return true;
}

// A topic the broker takes for publishing, with room for the "/meta" and "/status" beside it:
// no wildcards, no $ topics (the broker's own), no control characters, UTF-8.
bool usableTopic(const std::string& s) {
    return !s.empty() && s.size() <= 60000 && s[0] != '$' && s.find_first_of("+#") == std::string::npos &&
           !hasControlCharacter(s) && isUtf8(s);
}

// A text for a message: control characters and bytes beyond ASCII as \xNN, cut after 80.
std::string printable(const std::string& s) {
    std::string sOut;
    for (size_t i = 0; i < s.size() && i < 80; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c >= 0x7f) {
            char sHex[8];
            snprintf(sHex, sizeof(sHex), "\\x%02x", c);
            sOut += sHex;
        } else {
            sOut += static_cast<char>(c);
        }
    }
    return s.size() > 80 ? sOut + "..." : sOut;
}

}  // namespace

std::string sigmfBase(const std::string& sName) {
    for (const char* sExtension : {".sigmf-meta", ".sigmf-data"}) {
        if (endsWith(sName, sExtension)) return sName.substr(0, sName.size() - strlen(sExtension));
    }
    return sName;
}

std::string boardLabel(const LogOptions& options) {
    if (options.board.sBoardSerial.empty()) return std::to_string(options.board.nBoardId);
    std::string sLabel = options.board.sBoardSerial;
    for (char& c : sLabel) {
        if (!isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_') c = '_';
    }
    return sLabel;
}

std::vector<std::string> logOptionNames() {
    std::vector<std::string> names;
    for (const option* p = kLongOptions; p->name != nullptr; ++p) names.push_back(p->name);
    return names;
}

bool parseDuration(const std::string& sText, double* pdSeconds) {
    double d = 0;
    std::string sSuffix;
    if (!parseNumberWithSuffix(sText, &d, &sSuffix)) return false;
    static const std::pair<const char*, double> kUnits[] = {{"", 1}, {"s", 1}, {"ms", 0.001}, {"m", 60},
                                                           {"h", 3600}, {"d", 86400}};
    for (const auto& unit : kUnits) {
        if (sSuffix == unit.first) {
            *pdSeconds = d * unit.second;
            // Up to ten years: longer is a typing error, and scan counts stay exact far beyond it.
            return *pdSeconds <= 10 * 366 * 86400.0;
        }
    }
    return false;
}

bool parseSize(const std::string& sText, uint64_t* pnBytes) {
    double d = 0;
    std::string sSuffix;
    if (!parseNumberWithSuffix(sText, &d, &sSuffix)) return false;
    static const std::pair<const char*, double> kUnits[] = {{"", 1},
                                                           {"K", 1024.0},
                                                           {"M", 1024.0 * 1024},
                                                           {"G", 1024.0 * 1024 * 1024},
                                                           {"T", 1024.0 * 1024 * 1024 * 1024}};
    for (const auto& unit : kUnits) {
        if (sSuffix == unit.first) {
            double dBytes = floor(d * unit.second);
            if (dBytes < 1 || dBytes > 1e15) return false;
            *pnBytes = static_cast<uint64_t>(dBytes);
            return true;
        }
    }
    return false;
}

namespace {

// The options of publishing to a broker. False with *pWhy for a value they do not take.
bool readMqttOption(int nOption, const std::string& sArg, LogOptions* pOptions, std::string* pWhy) {
    LogOptions& o = *pOptions;
    auto fail = [&](const std::string& sReason) {
        *pWhy = sReason;
        return false;
    };
    switch (nOption) {
        case kMqtt: {
            if (!parseMqttUrl(sArg, &o.mqtt.sHost, &o.mqtt.nPort, &o.mqtt.bTls, pWhy)) return fail("--mqtt " + *pWhy);
            o.bMqtt = true;
            break;
        }
        case kTopic:
            if (!usableTopic(sArg)) {
                return fail("--topic \"" + printable(sArg) + "\": a topic of UTF-8 text without control characters, "
                            "the wildcards + and # and a leading $, at most 60000 bytes");
            }
            o.mqtt.sTopic = sArg;
            break;
        case kFormat:
            if (sArg != "json" && sArg != "influx") return fail("--format \"" + sArg + "\": json or influx");
            o.mqtt.bInflux = sArg == "influx";
            break;
        case kQos:
            if (sArg != "0" && sArg != "1") return fail("--qos \"" + sArg + "\": 0 or 1");
            o.mqtt.nQos = sArg == "1" ? 1 : 0;
            break;
        case kSpool:
            if (!parseWhole(sArg.c_str(), 1, 100000000, &o.mqtt.nSpoolRows)) return fail("--spool \"" + sArg + "\": rows, from 1");
            break;
        case kUser: o.mqtt.sUser = sArg; break;
        case kPasswordFile: o.mqtt.sPasswordFile = sArg; break;
        case kCaFile: o.mqtt.sCaFile = sArg; break;
        case kCert: o.mqtt.sCert = sArg; break;
        case kKey: o.mqtt.sKey = sArg; break;
    }
    return true;
}

// Options that go together or exclude each other, judged once all are read: "" when they fit.
// A SigMF name given with -o chooses the format where -O did not.
std::string combinationProblem(LogOptions* pOptions, bool bFormatGiven) {
    LogOptions& o = *pOptions;
    const bool bMqttOption = !o.mqtt.sTopic.empty() || o.mqtt.nSpoolRows > 0 || !o.mqtt.sUser.empty() ||
                             !o.mqtt.sPasswordFile.empty() || !o.mqtt.sCaFile.empty() || !o.mqtt.sCert.empty() ||
                             !o.mqtt.sKey.empty();
    if (!o.bMqtt && bMqttOption) return "--topic, --spool, --user, --password-file, --cafile, --cert and --key need --mqtt";
    if (o.bMqtt && !o.mqtt.bTls &&
        (!o.mqtt.sCaFile.empty() || !o.mqtt.sCert.empty() || !o.mqtt.sKey.empty())) {
        return "--cafile, --cert and --key need TLS: an mqtts:// broker";
    }
    if (o.mqtt.sCert.empty() != o.mqtt.sKey.empty()) return "--cert and --key go together";
    if (!o.mqtt.sPasswordFile.empty() && o.mqtt.sUser.empty()) return "--password-file needs --user";
    if (o.sOutput == "none" && !o.bMqtt && !o.bHttp) {
        return "-o none writes no file: there would be nowhere to record to (add --mqtt or --http)";
    }
    if (o.sOutput == "none" && (o.dRotateSeconds > 0 || o.nRotateBytes > 0)) return "--rotate needs a file";
    if (o.sOutput == "-" && (o.dRotateSeconds > 0 || o.nRotateBytes > 0)) {
        return "--rotate needs a file: standard output cannot be rotated";
    }
    for (const AlarmSpec& alarm : o.alarms) {
        const bool bRecorded = std::any_of(o.board.channels.begin(), o.board.channels.end(),
                                           [&](const ChannelRequest& c) { return c.nChannel == alarm.nChannel; });
        if (!bRecorded) return "--alarm: AI" + std::to_string(alarm.nChannel) + " is not among the channels recorded";
    }
    if (!o.sOnAlarm.empty()) {
        if (o.alarms.empty()) return "--on-alarm needs --alarm";
        struct stat info = {};
        if (stat(o.sOnAlarm.c_str(), &info) != 0) return "--on-alarm " + o.sOnAlarm + ": " + strerror(errno);
        if (!S_ISREG(info.st_mode) || access(o.sOnAlarm.c_str(), X_OK) != 0) return "--on-alarm " + o.sOnAlarm + ": not a program that can be run";
    }
    if (o.bCapture) {
        if (o.alarms.empty()) return "--capture needs --alarm: its recordings are taken around alarm events";
        if (o.sOutput == "-" || o.sOutput == "none") return "--capture writes its recordings beside the output file: it needs one";
        const uint64_t nBytes = captureRingBytes(o.dCapturePreSeconds, o.board.dRate, o.board.channels.size());
        if (nBytes > kMaxCaptureRingBytes) {
            return textf("--capture: %.0f MiB of memory would keep the scans before an event; at most %llu MiB (a shorter PRE, a "
                         "lower rate or fewer inputs)",
                         static_cast<double>(nBytes) / 1048576.0, static_cast<unsigned long long>(kMaxCaptureRingBytes >> 20));
        }
    }
    if (!bFormatGiven && sigmfBase(o.sOutput) != o.sOutput) o.bSigmf = true;
    if (o.bSigmf) {
        if (o.sOutput == "-") return "-O sigmf writes two files: standard output cannot take them";
        if (o.sOutput == "none") return "-o none writes no file: -O sigmf would have nothing to write";
        if (o.bRaw) return "--raw: the SigMF data are the raw counts already";
    }
    return "";
}

// The channels grouped by the board they name, in the order the boards are first named; a channel
// that names none is one of -b's board. One board is the board of the whole run.
bool addBoardChannels(const std::vector<std::string>& texts, LogOptions* pOptions, std::string* pError) {
    LogOptions& o = *pOptions;
    struct Named {
        int32_t nBoardId;
        std::string sSerial;
        std::vector<std::string> channels;
    };
    std::vector<Named> named;
    for (const std::string& sText : texts) {
        Named board{-1, "", {}};
        std::string sChannel;
        if (!splitBoardOfChannel(sText, &board.nBoardId, &board.sSerial, &sChannel, pError)) return false;
        if (board.nBoardId < 0 && board.sSerial.empty()) {
            board.nBoardId = o.board.nBoardId;
            board.sSerial = o.board.sBoardSerial;
        }
        auto same = std::find_if(named.begin(), named.end(), [&](const Named& n) {
            return n.sSerial == board.sSerial && (!n.sSerial.empty() || n.nBoardId == board.nBoardId);
        });
        if (same == named.end()) same = named.insert(named.end(), board);
        same->channels.push_back(sChannel);
    }
    o.boards.clear();
    for (const Named& board : named) {
        BoardConfig config;
        config.nBoardId = board.sSerial.empty() ? board.nBoardId : 0;
        config.sBoardSerial = board.sSerial;
        config.dRate = o.board.dRate;
        const std::string sBoard = board.sSerial.empty() ? std::to_string(board.nBoardId) : "serial:" + board.sSerial;
        if (!addChannelRequests(board.channels, &config.channels, pError)) {
            if (named.size() > 1) *pError = "board " + sBoard + ": " + *pError;
            return false;
        }
        o.boards.push_back(config);
    }
    if (o.boards.empty()) return true;
    o.board = o.boards.front();
    if (o.boards.size() == 1) o.boards.clear();
    return true;
}

// What several boards cannot do yet, said before anything is touched.
std::string severalBoardsProblem(const LogOptions& o) {
    if (o.boards.empty()) return "";
    if (o.sOutput == "-" || o.sOutput == "none") return "several boards are recorded into files of their own: -o names their common base";
    if (o.bHttp) return "--http shows the channels of one board; record several boards without it";
    if (!o.alarms.empty() || !o.sOnAlarm.empty() || o.bCapture) return "--alarm, --on-alarm and --capture watch the channels of one board";
    if (o.bService) return "--service records one board; run one service per board";
    return "";
}

// A switch set or cleared by the configuration file ("raw = false").
void setFlag(int nOption, bool bOn, LogOptions* pOptions) {
    switch (nOption) {
        case kRaw: pOptions->bRaw = bOn; break;
        case kKeepLimits: pOptions->bKeepLimits = bOn; break;
        case 'q': pOptions->bQuiet = bOn; break;
        default: break;
    }
}

// What was given for an option, the last time it was, for --check-config.
void noteGiven(int nOption, const std::string& sText, LogOptions* pOptions) {
    const option* pOption = std::find_if(std::begin(kLongOptions), std::end(kLongOptions) - 1,
                                         [&](const option& x) { return x.val == nOption; });
    if (pOption->name == nullptr) return;
    const std::string sKey = pOption->name;
    if (sKey == "check-config" || sKey == "service" || sKey == "config") return;
    auto& given = pOptions->given;
    given.erase(std::remove_if(given.begin(), given.end(), [&](const std::pair<std::string, std::string>& g) { return g.first == sKey; }),
                given.end());
    given.emplace_back(sKey, pOption->has_arg == no_argument && sText.empty() ? "true" : sText);
}

// One option, as the command line or the configuration file gives it. False with *pWhy.
bool applyOption(int nOption, const std::string& sArg, LogOptions* pOptions, std::string* pWhy) {
    LogOptions& o = *pOptions;
    auto refuse = [&](const std::string& sReason) {
        *pWhy = sReason;
        return false;
    };
    uint64_t n = 0;
    switch (nOption) {
        case 'b':
            if (sArg.compare(0, 7, "serial:") == 0 && sArg.size() > 7 && !hasControlCharacter(sArg)) {
                o.board.sBoardSerial = sArg.substr(7);
                break;
            }
            if (!parseWhole(sArg.c_str(), 0, INT32_MAX, &n)) {
                return refuse("--board \"" + printable(sArg) + "\": a board id from 0, or serial:<serial number>");
            }
            o.board.nBoardId = static_cast<int32_t>(n);
            o.board.sBoardSerial.clear();
            break;
        case 'r': {
            char* pEnd = nullptr;
            o.board.dRate = strtod(sArg.c_str(), &pEnd);
            if (sArg.empty() || *pEnd != '\0' || !isfinite(o.board.dRate) || o.board.dRate < 0.001 || o.board.dRate > 1e8) {
                return refuse("--rate \"" + sArg + "\": scans per second, from 0.001");
            }
            break;
        }
        case 'd':
            if (!parseDuration(sArg, &o.dDurationSeconds) || o.dDurationSeconds <= 0) {
                return refuse("--duration \"" + sArg + "\": a time such as 30s, 10m, 24h or 7d");
            }
            break;
        case 'n':
            if (!parseWhole(sArg.c_str(), 1, UINT64_MAX / 2, &o.nScans)) return refuse("--scans \"" + sArg + "\": a count from 1");
            break;
        case 'o':
            if (sArg.empty()) return refuse("--output: a file name, or - for standard output");
            // The name is written into the file's lines: a control character would forge one.
            if (hasControlCharacter(sArg)) return refuse("--output: a file name without control characters");
            o.sOutput = sArg;
            break;
        case 'O':
            if (sArg != "csv" && sArg != "sigmf") return refuse("--output-format \"" + printable(sArg) + "\": csv or sigmf");
            o.bSigmf = sArg == "sigmf";
            o.bFormatGiven = true;
            break;
        case kAverage:
            if (!parseWhole(sArg.c_str(), 1, 10000000, &n)) return refuse("--average \"" + sArg + "\": a count from 1 to 10000000");
            o.nAverage = static_cast<uint32_t>(n);
            break;
        case kRotate: {
            // Lower-case m is minutes, upper-case M mebibytes; a bare number is neither.
            double dSeconds = 0;
            if (!sArg.empty() && sArg.find_first_of("smhd") != std::string::npos && parseDuration(sArg, &dSeconds) &&
                dSeconds >= 1) {
                o.dRotateSeconds = dSeconds;
                o.nRotateBytes = 0;
            } else if (!sArg.empty() && sArg.find_first_of("KMGT") != std::string::npos &&
                       parseSize(sArg, &o.nRotateBytes) && o.nRotateBytes >= 4096) {
                o.dRotateSeconds = 0;
            } else {
                return refuse("--rotate \"" + sArg + "\": a time (30m, 1h, 1d; at least 1s) or a size (200K, 100M, 1G; at least 4K)");
            }
            break;
        }
        case kSync:
            if (!parseDuration(sArg, &o.dSyncSeconds)) return refuse("--sync \"" + sArg + "\": a time such as 1s or 500ms");
            break;
        case kRaw: o.bRaw = true; break;
        case kKeepLimits: o.bKeepLimits = true; break;
        case kMqtt:
        case kTopic:
        case kFormat:
        case kQos:
        case kSpool:
        case kUser:
        case kPasswordFile:
        case kCaFile:
        case kCert:
        case kKey:
            if (!readMqttOption(nOption, sArg, &o, pWhy)) return false;
            break;
        case kHttp:
            if (!parseHttpAddress(sArg, &o.sHttpHost, &o.nHttpPort, pWhy)) {
                return refuse("--http " + *pWhy + " ([HOST:]PORT, a port from 0 to 65535; 0: any free one)");
            }
            o.bHttp = true;
            break;
        case 'q': o.bQuiet = true; break;
        case kKeepFiles:
            if (!parseWhole(sArg.c_str(), 1, 100000000, &o.retention.nKeepFiles)) {
                return refuse("--keep-files \"" + printable(sArg) + "\": a count of files from 1");
            }
            break;
        case kKeepFor:
            if (!parseDuration(sArg, &o.retention.dKeepForSeconds) || o.retention.dKeepForSeconds < 60) {
                return refuse("--keep-for \"" + printable(sArg) + "\": a time such as 30d or 12h, at least 1m");
            }
            break;
        case kMaxTotal:
            if (!parseSize(sArg, &o.retention.nMaxTotalBytes) || o.retention.nMaxTotalBytes < 4096) {
                return refuse("--max-total \"" + printable(sArg) + "\": a size such as 500M or 20G, at least 4K");
            }
            break;
        case kMinFree: {
            double dPercent = 0;
            std::string sSuffix;
            if (!sArg.empty() && sArg.back() == '%' && parseNumberWithSuffix(sArg, &dPercent, &sSuffix) && sSuffix == "%" &&
                dPercent > 0 && dPercent < 100) {
                o.retention.dMinFreePercent = dPercent;
                o.retention.nMinFreeBytes = 0;
            } else if (parseSize(sArg, &o.retention.nMinFreeBytes) && o.retention.nMinFreeBytes > 0) {
                o.retention.dMinFreePercent = 0;
            } else {
                return refuse("--min-free \"" + printable(sArg) + "\": a size such as 2G, or a share of the file system such as 10%");
            }
            break;
        }
        case kAlarm: {
            AlarmSpec asked;
            if (!parseAlarmSpec(sArg, &asked, pWhy)) return refuse("--alarm \"" + printable(sArg) + "\": " + *pWhy);
            for (const AlarmSpec& other : o.alarms) {
                if (other.nChannel == asked.nChannel) return refuse("--alarm: AI" + std::to_string(asked.nChannel) + " has one already");
            }
            o.alarms.push_back(asked);
            o.alarmTexts.push_back(sArg);
            break;
        }
        case kCapture: {
            const size_t nComma = sArg.find(',');
            if (nComma == std::string::npos || !parseDuration(sArg.substr(0, nComma), &o.dCapturePreSeconds) ||
                !parseDuration(sArg.substr(nComma + 1), &o.dCapturePostSeconds)) {
                return refuse("--capture \"" + printable(sArg) + "\": PRE,POST, two times such as 10s,60s");
            }
            o.bCapture = true;
            break;
        }
        case kOnAlarm:
            if (sArg.empty() || hasControlCharacter(sArg)) return refuse("--on-alarm: a program's path");
            o.sOnAlarm = sArg;
            break;
        case kConfig:
            if (sArg.empty()) return refuse("--config: a file name");
            o.sConfigPath = sArg;
            break;
        case kCheckConfig: o.bCheckConfig = true; break;
        case kService: o.bService = true; break;
        default: return refuse("unknown option");
    }
    return true;
}

}  // namespace

ParseOutcome parseLogOptions(int argc, char** argv, LogOptions* pOptions, std::string* pError) {
    LogOptions& o = *pOptions;
    // Help and version win wherever they stand, before anything else is judged.
    for (int i = 1; i < argc; ++i) {
        std::string s = argv[i];
        if (s == "--") break;
        if (s == "--help" || s == "-h") return ParseOutcome::Help;
        if (s == "--version") return ParseOutcome::Version;
    }
    optind = 1;
    opterr = 0;
    int nOption = 0;
    std::string sWhy;
    auto fail = [&](const std::string& sReason) {
        *pError = sReason;
        return ParseOutcome::Error;
    };
    // The configuration file first, so that the command line wins over it.
    for (int i = 1; i < argc; ++i) {
        const std::string s = argv[i];
        if (s == "--") break;
        if (s == "--config" && i + 1 < argc) o.sConfigPath = argv[i + 1];
        if (s.compare(0, 9, "--config=") == 0) o.sConfigPath = s.substr(9);
    }
    std::vector<std::string> channelTexts;
    int nChannelsLine = 0;
    if (!o.sConfigPath.empty()) {
        std::vector<ConfigEntry> entries;
        if (!readConfigFile(o.sConfigPath, configKeys(), &entries, pError)) return ParseOutcome::ConfigError;
        for (const ConfigEntry& entry : entries) {
            if (entry.sKey == "channels") {
                channelTexts = entry.values;
                nChannelsLine = entry.nLine;
                continue;
            }
            if (entry.sKey == "alarm") {
                for (const std::string& sAlarm : entry.values) {
                    if (!applyOption(kAlarm, sAlarm, &o, &sWhy)) {
                        *pError = o.sConfigPath + ":" + std::to_string(entry.nLine) + ": " + sWhy;
                        return ParseOutcome::ConfigError;
                    }
                }
                continue;
            }
            const option* pOption = std::find_if(std::begin(kLongOptions), std::end(kLongOptions) - 1,
                                                 [&](const option& x) { return entry.sKey == x.name; });
            if (pOption->has_arg == no_argument) {
                setFlag(pOption->val, entry.bFlag, &o);
            } else if (!applyOption(pOption->val, entry.sValue, &o, &sWhy)) {
                *pError = o.sConfigPath + ":" + std::to_string(entry.nLine) + ": " + sWhy;
                return ParseOutcome::ConfigError;
            }
            noteGiven(pOption->val, pOption->has_arg == no_argument ? (entry.bFlag ? "true" : "false") : entry.sValue, &o);
        }
    }
    while ((nOption = getopt_long(argc, argv, ":b:r:d:n:o:O:q", kLongOptions, nullptr)) != -1) {
        const std::string sArg = optarg != nullptr ? optarg : "";
        if (nOption == ':') return fail(std::string("option ") + argv[optind - 1] + " needs a value");
        if (nOption == '?') {
            std::string sWhat = optopt != 0 ? std::string("-") + static_cast<char>(optopt) : argv[optind - 1];
            return fail("unknown option " + sWhat);
        }
        if (nOption == kConfig) continue;  // read above
        if (!applyOption(nOption, sArg, &o, &sWhy)) return fail(sWhy);
        noteGiven(nOption, sArg, &o);
    }
    // Channels on the command line replace the file's.
    if (optind < argc) {
        channelTexts.assign(argv + optind, argv + argc);
        nChannelsLine = 0;
    }
    if (!addBoardChannels(channelTexts, &o, &sWhy)) {
        if (nChannelsLine == 0) return fail(sWhy);
        *pError = o.sConfigPath + ":" + std::to_string(nChannelsLine) + ": " + sWhy;
        return ParseOutcome::ConfigError;
    }
    o.channelTexts = channelTexts;
    if (o.board.channels.empty()) {
        if (o.sConfigPath.empty()) return fail("no CHANNEL given (for example AI0:rtd)");
        *pError = o.sConfigPath + ": no channels given (for example channels = [\"AI0:pt100\"])";
        return ParseOutcome::ConfigError;
    }
    sWhy = combinationProblem(&o, o.bFormatGiven);
    if (sWhy.empty()) sWhy = severalBoardsProblem(o);
    if (!sWhy.empty()) {
        if (o.sConfigPath.empty()) return fail(sWhy);
        *pError = o.sConfigPath + ": " + sWhy;
        return ParseOutcome::ConfigError;
    }
    return ParseOutcome::Run;
}

std::string effectiveSettings(const LogOptions& o) {
    static const char* const kNumbers[] = {"board", "rate", "scans", "average", "qos", "spool", "keep-files"};
    const std::pair<const char*, std::string> kDefaults[] = {
        {"board", "0"}, {"rate", "1000"}, {"average", "1"}, {"sync", "1s"}, {"raw", "false"}, {"keep-limits", "false"},
        {"quiet", "false"}};
    std::string sText;
    for (const ConfigKey& key : configKeys()) {
        if (key.sName == "channels" || key.sName == "alarm") continue;
        std::string sValue;
        const auto given = std::find_if(o.given.begin(), o.given.end(), [&](const std::pair<std::string, std::string>& g) {
            return g.first == key.sName;
        });
        if (key.sName == "output-format") {
            sValue = o.bSigmf ? "sigmf" : "csv";
        } else if (given != o.given.end()) {
            sValue = given->second;
        } else {
            for (const auto& d : kDefaults) {
                if (key.sName == d.first) sValue = d.second;
            }
            if (sValue.empty()) continue;
        }
        const bool bNumber = std::find_if(std::begin(kNumbers), std::end(kNumbers), [&](const char* n) { return key.sName == n; }) !=
                                 std::end(kNumbers) &&
                             sValue.find_first_not_of("0123456789.e+-") == std::string::npos;
        sText += key.sName + " = " + (!key.bTakesValue || bNumber ? sValue : tomlString(sValue)) + "\n";
    }
    if (!o.alarmTexts.empty()) {
        sText += "alarm = [";
        for (size_t i = 0; i < o.alarmTexts.size(); ++i) sText += (i > 0 ? ", " : "") + tomlString(o.alarmTexts[i]);
        sText += "]\n";
    }
    sText += "channels = [";
    for (size_t i = 0; i < o.channelTexts.size(); ++i) sText += (i > 0 ? ", " : "") + tomlString(o.channelTexts[i]);
    return sText + "]\n";
}

std::vector<ConfigKey> configKeys() {
    std::vector<ConfigKey> keys;
    for (const option* p = kLongOptions; p->name != nullptr; ++p) {
        const std::string sName = p->name;
        if (sName == "help" || sName == "version" || sName == "config" || sName == "check-config" || sName == "service") continue;
        keys.push_back({sName, p->has_arg != no_argument});
    }
    keys.push_back({"channels", true});
    return keys;
}

bool parseHttpAddress(const std::string& sText, std::string* pHost, int* pnPort, std::string* pError) {
    HostPort address;
    // A number alone is a port on the loopback address.
    if (!sText.empty() && sText.find_first_not_of("0123456789") == std::string::npos) {
        address.sHost = "127.0.0.1";
        if (!parseHostPort("127.0.0.1:" + sText, &address, pError)) {
            *pError = "\"" + sText + "\": the port is a number from 0 to 65535";
            return false;
        }
    } else if (!parseHostPort(sText, &address, pError)) {
        return false;
    } else if (address.nPort < 0) {
        *pError = "\"" + sText + "\": [HOST:]PORT, the port is missing";
        return false;
    }
    *pHost = address.sHost;
    *pnPort = address.nPort;
    return true;
}

bool parseMqttUrl(const std::string& sUrl, std::string* pHost, int* pnPort, bool* pbTls, std::string* pError) {
    std::string sRest;
    if (sUrl.compare(0, 7, "mqtt://") == 0) {
        *pbTls = false;
        sRest = sUrl.substr(7);
    } else if (sUrl.compare(0, 8, "mqtts://") == 0) {
        *pbTls = true;
        sRest = sUrl.substr(8);
    } else {
        *pError = "\"" + sUrl + "\": mqtt://host[:port] or mqtts://host[:port]";
        return false;
    }
    if (!sRest.empty() && sRest.back() == '/') sRest.pop_back();
    HostPort address;
    if (!parseHostPort(sRest, &address, pError)) return false;
    if (address.nPort == 0) {
        *pError = "\"" + sUrl + "\": the port is a number from 1 to 65535";
        return false;
    }
    *pHost = address.sHost;
    *pnPort = address.nPort > 0 ? address.nPort : (*pbTls ? 8883 : 1883);
    return true;
}

}  // namespace qlog
