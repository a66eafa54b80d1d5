// The measurement end to end with the scripted simulator: each available-samples query delivers
// the script's next batch of numbered scans (scan k holds the sample k), so the printed raw values
// tell exactly which scans were read.
#include <math.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "expected_run.h"
#include "gtest/gtest.h"
#include "process_runner.h"

namespace {

const std::string kSmallBuffer = std::string(QUENO_TEST_DATA_DIR) + "/small_buffer.xml";
const std::string kFound = std::string(kFirstOpenError) + "Found a QUENO-1600-UNIV board with BoardID 0\n";
const std::string kEnd = "\nEnd Of Example\n";
constexpr int kBufferBytes = 30 * 4;

ConfigExpectation smallBuffer() {
    ConfigExpectation expected;
    expected.nSampleDelay = 2;
    return expected;
}

// The line of scan n with the example's scaling of -100..200 degC.
std::string sampleLine(unsigned nScan) {
    char sLine[80];
    snprintf(sLine, sizeof(sLine), "\rRaw: %8.8x --> Scaled: %4.3f[degC]", nScan,
             nScan * (150.0 / 8388607.0) + 50.0);
    return sLine;
}

std::string samples(std::initializer_list<unsigned> scans) {
    std::string s;
    for (unsigned n : scans) s += sampleLine(n);
    return s;
}

RunResult scripted(const std::string& sScript, std::map<std::string, std::string> env = {}) {
    env["QUENO_SIM_SYSTEM"] = kSmallBuffer;
    env["QUENO_SIM_SCRIPT"] = sScript;
    return runWith({}, env);
}

std::string measurement(const std::string& sSamples) {
    return infoBlock(smallBuffer()) + startLine(0, 0) + sSamples + kOverflowLine;
}

Lines runTrace(const Lines& cycles, int nLastAvailable) {
    return concat({{"KiVoDriverInit() = 0 -> 1"}, openAndCheckTrace(0, "QUENO-1600-UNIV"),
                   configurationTrace(smallBuffer()), startTrace(0, kBufferBytes), cycles,
                   overflowTrace(0, nLastAvailable), endTrace(0)});
}

Lines cycle(int nAvailable, int nReadOffset, int nReleased) {
    return {"KiVoGetParam_i32(0, 37) = 0 -> " + std::to_string(nAvailable),
            "KiVoGetParam_i64(0, 38) = 0 -> buffer+" + std::to_string(nReadOffset),
            "KiVoSetParam_i32(0, 39, " + std::to_string(nReleased) + ") = 0"};
}

TEST(Acquisition, BatchesOf25And5PrintTheirFirstAndEveryTenthScan) {
    RunResult r = scripted("25,5,0");
    EXPECT_EQ(r.nExitStatus, 0);
    // Scans 0 and 1 are the delay and are never shown.
    EXPECT_EQ(r.sOut, measurement(samples({2, 12, 22, 25})));
    EXPECT_EQ(r.sErr, kFound + kOverflowError + kEnd);
    EXPECT_EQ(r.trace,
              runTrace(concat({cycle(25, 0, 23), cycle(7, 92, 5), {"KiVoGetParam_i32(0, 37) = 0 -> 2"}}), 2));
}

TEST(Acquisition, EveryScanIsReadExactlyOnceExceptTheDelayedOnes) {
    RunResult r = scripted("3,1,1,1,1");
    EXPECT_EQ(r.sOut, measurement(samples({2, 3, 4, 5, 6})));
    EXPECT_EQ(r.trace, runTrace(concat({cycle(3, 0, 1), cycle(3, 4, 1), cycle(3, 8, 1), cycle(3, 12, 1),
                                        cycle(3, 16, 1)}),
                                2));
}

TEST(Acquisition, PositionAtExactlyTheBufferEndWrapsBeforeTheRead) {
    // After 25 and 5 scans the next one to read is scan 30, one past the buffer's last slot.
    RunResult r = scripted("25,5,7");
    EXPECT_EQ(r.sOut, measurement(samples({2, 12, 22, 25, 30})));
    EXPECT_EQ(r.trace, runTrace(concat({cycle(25, 0, 23), cycle(7, 92, 5), cycle(9, 112, 7)}), 2));
}

TEST(Acquisition, AvailableCountEqualToTheDelayReadsNothing) {
    RunResult r = scripted("2,0");
    EXPECT_EQ(r.sOut, measurement(""));
    EXPECT_EQ(r.trace,
              runTrace({"KiVoGetParam_i32(0, 37) = 0 -> 2", "KiVoGetParam_i32(0, 37) = 0 -> 2"}, 2));
}

TEST(Acquisition, OverflowOnTheFirstQuery) {
    RunResult r = scripted("overflow");
    EXPECT_EQ(r.nExitStatus, 0);
    EXPECT_EQ(r.sOut, measurement(""));  // the start line, and no sample line
    EXPECT_EQ(r.sErr, kFound + kOverflowError + kEnd);
    EXPECT_EQ(r.trace, runTrace({}, 0));
}

TEST(Acquisition, UnreleasedScansThatWouldBeOverwrittenOverflowTheBuffer) {
    // 2 scans are held back; 29 more do not fit the 30-scan buffer.
    RunResult r = scripted("25,29,5");
    EXPECT_EQ(r.sOut, measurement(samples({2, 12, 22})));
    EXPECT_EQ(r.trace, runTrace(cycle(25, 0, 23), 30));
}

TEST(Acquisition, RefusedStartEndsTheRunWithTheDriverText) {
    struct {
        const char* sFault;
        const char* sText;
    } cases[] = {{"cmd:4=1006", "no channel of the board is marked as used"},
                 {"cmd:4=-1201", "warning: settings were changed after the last apply command"}};
    for (const auto& c : cases) {
        RunResult r = scripted("25", {{"QUENO_SIM_FAULTS", c.sFault}});
        EXPECT_EQ(r.nExitStatus, 1);
        EXPECT_EQ(r.sOut, infoBlock(smallBuffer()));
        EXPECT_EQ(r.sErr, kFound + c.sText);  // no prefix, no newline
        EXPECT_EQ(r.trace, concat({{"KiVoDriverInit() = 0 -> 1"}, openAndCheckTrace(0, "QUENO-1600-UNIV"),
                                   configurationTrace(smallBuffer()),
                                   {"KiVoSetParam_i32(0, 4, " + std::string("0) = ") + (c.sFault + 6) + " [injected]",
                                    "KiVoErrorConstantToString(" + std::string(c.sFault + 6) + ") = 0 -> \"" +
                                        c.sText + "\"",
                                    "KiVoDriverDeInit() = 0"}}));  // neither stop nor close
    }
}

TEST(Acquisition, SimulatorRefusesAStartWithoutAUsedChannelOrApply) {
    RunResult r = scripted("25", {{"QUENO_SIM_FAULTS", "prop:BoardID0/AI0:Used=1022"}});
    EXPECT_EQ(r.sErr, kFound + "\nError: invalid property value\nno channel of the board is marked as used");
    r = scripted("25", {{"QUENO_SIM_FAULTS", "cmd:16=1005"}});
    EXPECT_EQ(r.sErr, kFound + "\nError: not allowed while the acquisition is running\n"
                               "warning: settings were changed after the last apply command");
}

TEST(Acquisition, HostileBufferDescriptionIsNeverWalked) {
    const char* kRules[] = {"offset:38=4096", "offset:38=-4096", "offset:33=-1000000", "value:33=0",
                            "value:40=-4",    "value:40=0",      "cmd:38=1040",        "cmd:33=1040"};
    for (const char* sRule : kRules) {
        RunResult r = scripted("25,5", {{"QUENO_SIM_FAULTS", sRule}});
        EXPECT_EQ(r.nExitStatus, 0) << sRule;
        EXPECT_EQ(r.sOut, measurement("")) << sRule;
        size_t nReport = r.sErr.find("cannot be read safely");
        EXPECT_NE(nReport, std::string::npos) << sRule << ": " << r.sErr;
        EXPECT_EQ(r.sErr.find("cannot be read safely", nReport + 1), std::string::npos) << sRule;  // once
        for (const std::string& sLine : r.trace) EXPECT_EQ(sLine.find("(0, 39,"), std::string::npos) << sRule;
    }
}

TEST(Acquisition, ScanSizeOfZeroIsReportedWithItsNumbers) {
    RunResult r = scripted("25", {{"QUENO_SIM_FAULTS", "value:42=0"}});
    EXPECT_EQ(r.sErr, kFound +
                          "\nError: the ring buffer the driver describes cannot be read safely (buffer size 120, "
                          "scan size 0, or a position outside the buffer); its samples are skipped\n" +
                          kOverflowError + kEnd);
}

TEST(Acquisition, StatisticsForSizingTheBuffer) {
    RunResult r = scripted("25,5,0", {{"QUENO_SIM_STATS", "1"}});
    const std::string sStats = "board 0: produced 30 scans, released 28, largest backlog 25 of 30, overflows 1";
    EXPECT_EQ(r.sErr, kFound + kOverflowError + kEnd + "queno-sim: " + sStats + "\n");
    ASSERT_GE(r.trace.size(), 2u);
    EXPECT_EQ(r.trace[r.trace.size() - 2], "# " + sStats);
}

TEST(Acquisition, BadScriptIsReported) {
    RunResult r = scripted("25,lots");
    EXPECT_EQ(r.sErr, std::string(kFirstOpenError) +
                          "queno-sim: QUENO_SIM_SCRIPT: step 'lots' is neither a scan count (0 to 16777216) nor "
                          "'overflow'\n\nError: invalid value for this command\n"
                          "No Queno cards found. Aborting...\nPlease configure a system using the KIVO2 Explorer.\n");
}

}  // namespace
