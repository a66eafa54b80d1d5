// queno_log's own text handling: the fixed-point formatter against printf, scan times, and the
// option values a user types.
#include <getopt.h>
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "channel_request.h"
#include "gtest/gtest.h"
#include "log_options.h"
#include "merged_rows.h"
#include "value_text.h"

namespace {

std::string fixed(double d, int nDecimals) {
    char s[qlog::kMaxNumberText + 1];
    *qlog::writeFixed(s, d, nDecimals) = '\0';
    return s;
}

TEST(LoggerText, FixedPointAgreesWithPrintfAcrossScalesAndSigns) {
    // Every count of a 24-bit converter on an RTD, a voltage and a bridge range, stepping widely.
    const double kScales[][2] = {{150.0 / 8388607, -50}, {10.0 / 8388607, 0}, {1000.0 / 8388607, 0}, {2.0 / 32767, 0.5}};
    for (const auto& scale : kScales) {
        int nDecimals = static_cast<int>(ceil(-log10(scale[0])));
        for (int32_t nRaw = -8388607; nRaw <= 8388607; nRaw += 9973) {
            double d = fma(nRaw, scale[0], -scale[1]);
            char sExpected[64];
            snprintf(sExpected, sizeof(sExpected), "%.*f", nDecimals, d);
            // printf writes a value that rounds to zero as "-0.000"; the logger never does.
            std::string sText = sExpected;
            if (sText[0] == '-' && strtod(sExpected, nullptr) == 0) sText = sText.substr(1);
            ASSERT_EQ(fixed(d, nDecimals), sText) << nRaw;
        }
    }
}

TEST(LoggerText, FixedPointEdges) {
    EXPECT_EQ(fixed(-0.000001, 5), "0.00000");  // never "-0"
    EXPECT_EQ(fixed(0.5, 0), "1");
    EXPECT_EQ(fixed(-2.5, 0), "-3");
    EXPECT_EQ(fixed(99.999996, 5), "100.00000");
    EXPECT_EQ(fixed(1e20, 2), "100000000000000000000.00");
    EXPECT_EQ(fixed(NAN, 3), "nan");
    EXPECT_EQ(fixed(-1234567.25, 9).substr(0, 9), "-1234567.");
}

TEST(LoggerText, TimesAreUtcWithMicroseconds) {
    char s[40];
    qlog::formatUtcMicros(1796743201123456, s, sizeof(s));
    EXPECT_STREQ(s, "2026-12-08T15:20:01.123456Z");
    qlog::formatUtcMicros(0, s, sizeof(s));
    EXPECT_STREQ(s, "1970-01-01T00:00:00.000000Z");
    // The cached second is replaced when the second changes.
    qlog::TimeText text;
    char sRow[64];
    *text.write(sRow, 1796743201999999) = '\0';
    *text.write(sRow, 1796743202000000) = '\0';
    EXPECT_STREQ(sRow, "2026-12-08T15:20:02.000000Z");
    // And back, as the merge reads a file's times; anything else is no time.
    int64_t nMicros = 0;
    for (const int64_t n : {int64_t(1796743201123456), int64_t(0), int64_t(951782400000001), int64_t(253402300799999999)}) {
        qlog::formatUtcMicros(n, s, sizeof(s));
        ASSERT_TRUE(qlog::parseUtcText(s, strlen(s), &nMicros)) << s;
        EXPECT_EQ(nMicros, n) << s;
    }
    for (const char* sBad : {"2026-12-08T15:20:01.12345Z", "2026-13-08T15:20:01Z", "2026-12-08 15:20:01Z", "2026-12-08T15:20:01.1234567"}) {
        EXPECT_FALSE(qlog::parseUtcText(sBad, strlen(sBad), &nMicros)) << sBad;
    }
}

// Channels that name their boards: grouped by board in the order named; one board is the run's.
TEST(LoggerText, ChannelsNameTheirBoards) {
    const struct {
        std::vector<std::string> args;
        const char* sBoards;  // "id:channels;..." or the error
    } cases[] = {
        {{"-b", "1", "AI0", "AI3"}, "1:0,3"},
        {{"1/AI0", "1/AI2"}, "1:0,2"},
        {{"0/AI2", "serial:32H-00781/AI5", "0/AI1", "AI4"}, "0:1,2,4;serial:32H-00781:5"},
        {{"-b", "serial:X", "AI0", "2/AI0"}, "serial:X:0;2:0"},
        {{"AI0:voltage,Note=a/b"}, "0:0"},  // a '/' among the settings names no board
        {{"0/AI0", "1/AI0", "1/AI0"}, "board 1: AI0 is named twice"},
        {{"x/AI0"}, "'x/AI0': the board before '/' must be its id (such as 1) or serial:<number>"},
        {{"serial:/AI0"}, "'serial:/AI0': the board before '/' must be its id (such as 1) or serial:<number>"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"queno_log", "-o", "x.csv"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (std::string& s : args) argv.push_back(&s[0]);
        qlog::LogOptions options;
        std::string sError;
        optind = 0;
        const qlog::ParseOutcome outcome = qlog::parseLogOptions(static_cast<int>(argv.size()), argv.data(), &options, &sError);
        std::string sBoards;
        const std::vector<qacq::BoardConfig> boards = options.boards.empty() ? std::vector<qacq::BoardConfig>{options.board} : options.boards;
        for (const qacq::BoardConfig& board : boards) {
            sBoards += (sBoards.empty() ? "" : ";") + (board.sBoardSerial.empty() ? std::to_string(board.nBoardId) : "serial:" + board.sBoardSerial) + ":";
            for (size_t i = 0; i < board.channels.size(); ++i) sBoards += (i > 0 ? "," : "") + std::to_string(board.channels[i].nChannel);
        }
        EXPECT_EQ(outcome == qlog::ParseOutcome::Run ? sBoards : sError, c.sBoards) << args.back();
    }
}

TEST(LoggerText, DurationsAndSizes) {
    const std::pair<const char*, double> kDurations[] = {{"30s", 30}, {"10m", 600}, {"24h", 86400}, {"7d", 604800},
                                                         {"250ms", 0.25}, {"1.5", 1.5}, {"x", -1}, {"5y", -1},
                                                         {"-3s", -1}, {"", -1}, {"inf", -1}, {"99999d", -1}};
    for (const auto& c : kDurations) {
        double d = -1;
        bool bOk = qlog::parseDuration(c.first, &d);
        EXPECT_EQ(bOk, c.second >= 0) << c.first;
        if (bOk) {
            EXPECT_DOUBLE_EQ(d, c.second) << c.first;
        }
    }
    const std::pair<const char*, uint64_t> kSizes[] = {{"200K", 204800}, {"100M", 104857600}, {"1G", 1073741824},
                                                       {"4096", 4096}, {"1.5K", 1536}, {"10m", 0}, {"0", 0}};
    for (const auto& c : kSizes) {
        uint64_t n = 0;
        bool bOk = qlog::parseSize(c.first, &n);
        EXPECT_EQ(bOk, c.second > 0) << c.first;
        if (bOk) {
            EXPECT_EQ(n, c.second) << c.first;
        }
    }
}

// One reader of HOST[:PORT] for --http and --mqtt: what each takes, what each refuses.
TEST(LoggerText, Addresses) {
    struct Case {
        bool bMqtt;
        const char* sText;
        const char* sHost;  // nullptr: refused
        int nPort;
    };
    const Case kCases[] = {
        {false, "8080", "127.0.0.1", 8080},          {false, "0.0.0.0:8080", "0.0.0.0", 8080},
        {false, "0", "127.0.0.1", 0},                {false, "[::1]:80", "::1", 80},
        {false, "board.local:65535", "board.local", 65535}, {false, "[fe80::1%eth0]:8080", "fe80::1%eth0", 8080},
        {false, "65536", nullptr, 0},                {false, ":8080", nullptr, 0},
        {false, "host:", nullptr, 0},                {false, "-1", nullptr, 0},
        {false, "a b:80", nullptr, 0},               {false, "host:80x", nullptr, 0},
        {false, "", nullptr, 0},                     {false, "::1:8080", nullptr, 0},
        {false, "[::1]", nullptr, 0},                {false, "[::1]x:80", nullptr, 0},
        {false, "[host]:80", nullptr, 0},            {false, "host", nullptr, 0},
        {true, "mqtt://broker", "broker", 1883},     {true, "mqtts://broker", "broker", 8883},
        {true, "mqtt://[::1]:1884", "::1", 1884},    {true, "mqtts://[::1]", "::1", 8883},
        {true, "mqtt://10.0.0.2:1884/", "10.0.0.2", 1884}, {true, "mqtt://::1", nullptr, 0},
        {true, "mqtt://[::1", nullptr, 0},           {true, "mqtt://broker:0", nullptr, 0},
        {true, "mqtt://broker:99999", nullptr, 0},   {true, "http://broker", nullptr, 0},
        {true, "mqtt://", nullptr, 0},               {true, "mqtt://user@broker", nullptr, 0},
    };
    for (const Case& c : kCases) {
        std::string sHost, sError;
        int nPort = -1;
        bool bTls = false;
        const bool bOk = c.bMqtt ? qlog::parseMqttUrl(c.sText, &sHost, &nPort, &bTls, &sError)
                                 : qlog::parseHttpAddress(c.sText, &sHost, &nPort, &sError);
        EXPECT_EQ(bOk, c.sHost != nullptr) << c.sText;
        if (bOk && c.sHost != nullptr) {
            EXPECT_EQ(sHost, c.sHost) << c.sText;
            EXPECT_EQ(nPort, c.nPort) << c.sText;
        } else {
            EXPECT_FALSE(sError.empty()) << c.sText;
        }
    }
    std::string sHost, sError;
    int nPort = 0;
    bool bTls = false;
    ASSERT_FALSE(qlog::parseMqttUrl("mqtt://::1", &sHost, &nPort, &bTls, &sError));
    EXPECT_NE(sError.find("in brackets"), std::string::npos) << sError;
}

TEST(LoggerText, ChannelRequestsExpandPresetsAndKeepTheModeFirst) {
    qlog::ChannelRequest request;
    std::string sError;
    ASSERT_TRUE(qlog::parseChannelRequest("AI3:rtd,IIRFilter_VAL=0", &request, &sError)) << sError;
    EXPECT_EQ(request.nChannel, 3);
    EXPECT_EQ(request.writes.front(), qlog::PropertyWrite("Mode", "RTD-Temperature"));
    EXPECT_EQ(request.writes[5], qlog::PropertyWrite("IIRFilter_VAL", "0"));  // replaced in place
    EXPECT_EQ(request.writes.back(), qlog::PropertyWrite("Used", "True"));
    ASSERT_TRUE(qlog::parseChannelRequest("AI2,Range=-1..1 V,Mode=Voltage", &request, &sError)) << sError;
    EXPECT_EQ(request.writes.front(), qlog::PropertyWrite("Mode", "Voltage"));
    EXPECT_EQ(request.writes.back(), qlog::PropertyWrite("Range", "-1..1 V"));
    for (const char* sBad : {"AI", "AI-1", "AIx", "AI123456", "AI0:", "AI0,Range", "AI0,=5", "AI0,Bad Name=1", "ai0"}) {
        EXPECT_FALSE(qlog::parseChannelRequest(sBad, &request, &sError)) << sBad;
    }
}

}  // namespace

// The usage is written by hand: it must name every option the parser takes.
TEST(LoggerText, TheUsageNamesEveryOption) {
    const std::string sUsage = qlog::kLogUsage;
    for (const std::string& sName : qlog::logOptionNames()) {
        EXPECT_NE(sUsage.find("--" + sName), std::string::npos) << "--" << sName;
    }
}
