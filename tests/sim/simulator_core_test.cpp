// The simulator's own rules: fault-rule parsing and counting, settling of channel settings, and
// the checks of a system description.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "board_state.h"
#include "call_trace.h"
#include "channel_settings.h"
#include "fault_injection.h"
#include "gtest/gtest.h"
#include "kivo_codes.h"
#include "system_description.h"

namespace qsim {
namespace {

TEST(FaultSet, CountsEachRuleOnItsOwnMatchingCalls) {
    FaultSet faults;
    std::string sError;
    ASSERT_TRUE(faults.parse("cmd:2@3=7; KiVoSetParam_i32#2=9", &sError)) << sError;
    int32_t nResult = 0;
    auto close = [&]() { return faults.injectedResult("KiVoSetParam_i32", true, 2, nullptr, nullptr, &nResult); };
    EXPECT_FALSE(close());  // call 1 of both rules
    EXPECT_TRUE(close());   // the entry-point rule's second call
    EXPECT_EQ(nResult, 9);
    EXPECT_TRUE(close());  // the command rule from its third call on
    EXPECT_EQ(nResult, 7);
    EXPECT_TRUE(close());
    EXPECT_EQ(nResult, 7);
    EXPECT_FALSE(faults.injectedResult("KiVoSetParam_i32", true, 1, nullptr, nullptr, &nResult));
}

TEST(FaultSet, PropertyRulesWithWildcards) {
    FaultSet faults;
    std::string sError;
    ASSERT_TRUE(faults.parse("prop:*:Range=1024;text:BoardID0/AI1:*=x=y", &sError)) << sError;
    int32_t nResult = 0;
    EXPECT_TRUE(faults.injectedResult("KiVoGetParamStruct_str", false, 0, "BoardID3/AI0", "Range", &nResult));
    EXPECT_EQ(nResult, 1024);
    EXPECT_FALSE(faults.injectedResult("KiVoGetParamStruct_str", false, 0, "BoardID3/AI0", "Mode", &nResult));
    std::string sText;
    EXPECT_TRUE(faults.replacementText("BoardID0/AI1", "Mode", &sText));
    EXPECT_EQ(sText, "x=y");  // the text runs to the end of the rule
}

TEST(FaultSet, ValuesAndOffsets) {
    FaultSet faults;
    std::string sError;
    ASSERT_TRUE(faults.parse("value:42=0;offset:38=-4;offset:33#2=16", &sError)) << sError;
    int64_t n = 8;
    faults.adjustValue(42, &n);
    EXPECT_EQ(n, 0);
    n = 100;
    faults.adjustValue(38, &n);
    EXPECT_EQ(n, 96);
    n = 10;
    faults.adjustValue(33, &n);
    EXPECT_EQ(n, 10);
    faults.adjustValue(33, &n);
    EXPECT_EQ(n, 26);
    int32_t nBoards = 0;
    EXPECT_FALSE(faults.boardCount(&nBoards));
}

TEST(FaultSet, RejectsMalformedRulesWhole) {
    for (const char* sRules : {"cmd:2", "cmd:x=1", "nonsense=1", "cmd:2@0=1", "cmd:2=abc", "KiVoX@y=1",
                               "prop:Range=1", "boards=99999999999", "text:nocolon=x"}) {
        FaultSet faults;
        std::string sError;
        EXPECT_FALSE(faults.parse(sRules, &sError)) << sRules;
        EXPECT_FALSE(sError.empty()) << sRules;
    }
    FaultSet faults;
    std::string sError;
    EXPECT_TRUE(faults.parse(" ; ;boards=-3 ;", &sError));
    int32_t nBoards = 0;
    EXPECT_TRUE(faults.boardCount(&nBoards));
    EXPECT_EQ(nBoards, -3);
}

class ChannelSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string sError;
        system = SystemDescription::load(nullptr, &sError);
        ASSERT_NE(system, nullptr) << sError;
    }
    ChannelSettings channel() { return ChannelSettings(system->channelNode(0, "AI0"), 24); }
    std::unique_ptr<SystemDescription> system;
};

TEST_F(ChannelSettingsTest, RangeSettlesOnTheNarrowestThatHoldsIt) {
    ChannelSettings ai = channel();
    ASSERT_EQ(ai.write("Mode", "RTD-Temperature"), ResultOk);
    std::string sValue;
    struct {
        const char* sWritten;
        int32_t nResult;
        const char* sSettled;
    } cases[] = {{"-100..200 degC", ResultOk, "-100.000000..200.000000 degC"},
                 {"0..100 degC", ResultOk, "-50.000000..150.000000 degC"},
                 {"-150..200", ResultOk, "-200.000000..850.000000 degC"},  // no unit: any unit
                 {"-300..0 degC", ResultRangeNotAvailable, "-200.000000..850.000000 degC"},
                 {"-1..1 V", ResultRangeNotAvailable, "-200.000000..850.000000 degC"},
                 {"200..-100 degC", ResultInvalidPropertyValue, "-200.000000..850.000000 degC"},
                 {"hot", ResultInvalidPropertyValue, "-200.000000..850.000000 degC"}};
    for (const auto& c : cases) {
        EXPECT_EQ(ai.write("Range", c.sWritten), c.nResult) << c.sWritten;
        ASSERT_EQ(ai.read("Range", &sValue), ResultOk);
        EXPECT_EQ(sValue, c.sSettled) << c.sWritten;
    }
}

TEST_F(ChannelSettingsTest, DriverScalingFollowsTheSettledRange) {
    ChannelSettings ai = channel();
    ai.write("Mode", "RTD-Temperature");
    ai.write("Range", "-100..200 degC");
    std::string sScale, sOffset;
    ASSERT_EQ(ai.read("scalevalue", &sScale), ResultOk);
    ASSERT_EQ(ai.read("scaleoffset", &sOffset), ResultOk);
    EXPECT_DOUBLE_EQ(strtod(sScale.c_str(), nullptr), 150.0 / 8388607.0);
    EXPECT_DOUBLE_EQ(strtod(sOffset.c_str(), nullptr), -50.0);
    EXPECT_EQ(ai.write("scalevalue", "1"), ResultReadOnlyProperty);
}

TEST_F(ChannelSettingsTest, ListsAndNumbersAreCheckedAgainstTheMode) {
    ChannelSettings ai = channel();
    std::string sValue;
    EXPECT_EQ(ai.write("Excitation", "0.5 mA"), ResultUnknownProperty);  // Voltage mode has none
    ASSERT_EQ(ai.write("Mode", "RTD-Temperature"), ResultOk);
    ASSERT_EQ(ai.read("Excitation", &sValue), ResultOk);
    EXPECT_EQ(sValue, "0.250000 mA");  // the mode's default
    EXPECT_EQ(ai.write("Excitation", "0.5 mA"), ResultOk);
    ai.read("Excitation", &sValue);
    EXPECT_EQ(sValue, "0.500000 mA");
    EXPECT_EQ(ai.write("Excitation", "0.5 V"), ResultInvalidPropertyValue);
    EXPECT_EQ(ai.write("Excitation", "0.7 mA"), ResultInvalidPropertyValue);
    EXPECT_EQ(ai.write("LinearisationTable", "PTX"), ResultOk);
    EXPECT_EQ(ai.write("LinearisationTable", "ptx"), ResultInvalidPropertyValue);
    EXPECT_EQ(ai.write("SensorRes0", "600 Ohm"), ResultOk);
    ai.read("SensorRes0", &sValue);
    EXPECT_EQ(sValue, "600 Ohm");
    EXPECT_EQ(ai.write("SensorRes0", "600"), ResultOk);  // the unit may be left out
    EXPECT_EQ(ai.write("SensorRes0", "5 Ohm"), ResultInvalidPropertyValue);
    EXPECT_EQ(ai.write("SensorRes0", "600 mA"), ResultInvalidPropertyValue);
    EXPECT_EQ(ai.write("IIRFilter_VAL", "1001"), ResultInvalidPropertyValue);
    EXPECT_EQ(ai.write("Used", "maybe"), ResultInvalidPropertyValue);
    EXPECT_EQ(ai.write("Mode", "Sonar"), ResultModeNotAvailable);
    EXPECT_EQ(ai.mode(), "RTD-Temperature");
    EXPECT_EQ(ai.write("NoSuchProperty", "1"), ResultUnknownProperty);

    // Switching the mode restores the new mode's defaults.
    ASSERT_EQ(ai.write("Mode", "Voltage"), ResultOk);
    ai.read("Range", &sValue);
    EXPECT_EQ(sValue, "-10.000000..10.000000 V");
    EXPECT_EQ(ai.read("Excitation", &sValue), ResultUnknownProperty);
}

TEST_F(ChannelSettingsTest, BoardNeedsToBeOpenForWritesAndCountsUsedInputs) {
    HostEpoch epoch;
    BoardState board(system->boards()[0], nullptr, &epoch);
    int64_t nValue = -1;
    EXPECT_EQ(board.setProperty("AI0", "Used", "True"), ResultBoardNotOpen);
    EXPECT_EQ(board.command(ParamCloseBoard, 0), ResultBoardNotOpen);
    ASSERT_EQ(board.command(ParamOpenBoard, 0), ResultOk);
    EXPECT_EQ(board.command(ParamOpenBoard, 0), ResultBoardAlreadyOpen);
    EXPECT_EQ(board.command(ParamStartAcq, 0), ResultNoChannelUsed);
    ASSERT_EQ(board.setProperty("AI0", "Used", "True"), ResultOk);
    ASSERT_EQ(board.setProperty("AI5", "Used", "True"), ResultOk);
    ASSERT_EQ(board.read(ParamScanSize, &nValue), ResultOk);
    EXPECT_EQ(nValue, 8);
    EXPECT_EQ(board.setProperty("AI9", "Used", "True"), ResultUnknownTarget);
    EXPECT_EQ(board.setProperty("AcqProp", "Samplerate", "20001"), ResultSampleRateOutOfLimits);
    EXPECT_EQ(board.setProperty("AcqProp", "Samplerate", "fast"), ResultInvalidPropertyValue);
    EXPECT_EQ(board.command(ParamBoardSetting258, 70000), ResultInvalidValue);
    EXPECT_EQ(board.command(ParamScanSize, 4), ResultReadOnlyCommand);
    EXPECT_EQ(board.read(ParamOpenBoard, &nValue), ResultWriteOnlyCommand);
    EXPECT_EQ(board.command(12345, 0), ResultUnknownCommand);
    std::string sValue;
    ASSERT_EQ(board.getProperty("CNT", "Channels", &sValue), ResultOk);
    EXPECT_EQ(sValue, "2");
    ASSERT_EQ(board.command(ParamResetBoard, 0), ResultOk);  // back to the defaults
    board.read(ParamScanSize, &nValue);
    EXPECT_EQ(nValue, 0);
}

TEST(SystemDescription, ReportsWhatIsWrong) {
    struct {
        const char* sXml;
        const char* sExpected;
    } cases[] = {
        {"<Other/>", "root element must be <QuenoSimSystem>"},
        {"<QuenoSimSystem><Board/></QuenoSimSystem>", "line 1: <Board> needs a model attribute"},
        {"<QuenoSimSystem><Board model='X'><ChannelGroup kind='AO' count='1'/></Board></QuenoSimSystem>",
         "is not one of AI"},
        {"<QuenoSimSystem><Board model='X'><ChannelGroup kind='AI' count='-1'/></Board></QuenoSimSystem>",
         "count=\"-1\" must be a whole number from 0 to 256"},
        {"<QuenoSimSystem><Board model='X'><Acquisition resolution='20'/></Board></QuenoSimSystem>",
         "resolution must be 16 or 24"},
        {"<QuenoSimSystem><Board model='X'>", "line 1"},
        {"<QuenoSimSystem><Board model='X' clock='+1001ppm'/></QuenoSimSystem>", "clock=\"+1001ppm\" must be the clock's error from -1000ppm"},
        {"<QuenoSimSystem><Board model='X' clock='250'/></QuenoSimSystem>", "clock=\"250\" must be"},
        {"<QuenoSimSystem><Board model='QUENO-1600-UNIV'><Signals><Signal channels='AI0' kind='constant' value='1' timebase='wall'/>"
         "</Signals></Board></QuenoSimSystem>",
         "timebase=\"wall\" must be scan or host"},
    };
    for (const auto& c : cases) {
        char sPath[] = "/tmp/queno-desc-XXXXXX";
        int nFd = mkstemp(sPath);
        ASSERT_GE(nFd, 0);
        FILE* pFile = fdopen(nFd, "w");
        fputs(c.sXml, pFile);
        fclose(pFile);
        std::string sError;
        EXPECT_EQ(SystemDescription::load(sPath, &sError), nullptr) << c.sXml;
        EXPECT_NE(sError.find(c.sExpected), std::string::npos) << sError;
        unlink(sPath);
    }
    std::string sError;
    std::unique_ptr<SystemDescription> empty = []() {
        char sPath[] = "/tmp/queno-desc-XXXXXX";
        int nFd = mkstemp(sPath);
        FILE* pFile = fdopen(nFd, "w");
        fputs("<QuenoSimSystem/>", pFile);
        fclose(pFile);
        std::string sIgnored;
        auto system = SystemDescription::load(sPath, &sIgnored);
        unlink(sPath);
        return system;
    }();
    ASSERT_NE(empty, nullptr);  // a system without boards is valid: the count is 0
    EXPECT_TRUE(empty->boards().empty());
}

// Scenario time: a board's world runs on its own clock from its first acquisition; host time runs
// from the first acquisition of any board, at the board's rate as the host sees it.
TEST(ScenarioClock, PlacesScanTimeAndHostTimeInTheBoardsWorld) {
    ScenarioClock clock;
    clock.dRate = 1000;
    clock.dHostRate = 1000.5;  // +500 ppm
    clock.dHostLead = 0.25;    // its first acquisition began 250 ms after the first board's
    clock.nOffset = 5000;      // this acquisition is a restart: its scan 0 is the world's 5000
    EXPECT_DOUBLE_EQ(clock.seconds(2000, false), 2.0);
    EXPECT_DOUBLE_EQ(clock.seconds(2001, true), 2.25);
    const struct {
        double dSeconds;
        bool bHost;
        uint64_t nWorld, nLocal;
    } cases[] = {
        {2.0, false, 2000, 0},           // before this acquisition: its first scan
        {10.0, false, 10000, 5000},
        {2.25, true, 2001, 0},
        {12.25, true, 12006, 7006},      // 12 s of host time are 12006 of the board's scans
        {0.1, true, 0, 0},               // before the board began: its first scan
        {INFINITY, false, UINT64_MAX, UINT64_MAX},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(clock.firstWorldScanAt(c.dSeconds, c.bHost), c.nWorld) << c.dSeconds << (c.bHost ? " host" : " scan");
        EXPECT_EQ(clock.firstScanAt(c.dSeconds, c.bHost), c.nLocal) << c.dSeconds << (c.bHost ? " host" : " scan");
    }
    ScenarioSignal ramp;
    ramp.kind = SignalKind::Ramp;
    ramp.dFrom = 0, ramp.dTo = 10, ramp.dDuration = 10;
    EXPECT_DOUBLE_EQ(signalValue(ramp, clock, 2001, 0), 2.001);
    ramp.bHostTime = true;
    EXPECT_DOUBLE_EQ(signalValue(ramp, clock, 2001, 0), 2.25);
}

// A restart does not restart the world: an event happens once, at its scenario time, whichever
// acquisition holds it. Scripted, so the scans are exact: an overflow at 30 ms (scan 30) falls in
// the second acquisition of 25-scan steps, five scans in, and not again in the third.
TEST(ScenarioClock, ARestartGoesOnInTheWorldAndAnEventComesOnce) {
    const char kSystem[] = "<QuenoSimSystem><Board model='QUENO-1600-UNIV' serial='W'>"
                           "<Events><Event at='30ms' kind='overflow'/></Events></Board></QuenoSimSystem>";
    std::string sError;
    std::unique_ptr<SystemDescription> system = SystemDescription::parse(kSystem, sizeof(kSystem) - 1, "test", &sError);
    ASSERT_NE(system, nullptr) << sError;
    AcquisitionScript script;
    ASSERT_TRUE(AcquisitionScript::parse("25", &script, &sError));
    HostEpoch epoch;
    BoardState board(system->boards()[0], &script, &epoch);
    ASSERT_EQ(board.command(ParamOpenBoard, 0), ResultOk);
    ASSERT_EQ(board.setProperty("AcqProp", "Samplerate", "1000"), ResultOk);
    ASSERT_EQ(board.setProperty("AI0", "Used", "True"), ResultOk);
    const struct {
        int32_t nResult;
        int64_t nAvailable;
    } starts[] = {{ResultOk, 25}, {ResultBufferOverflow, 5}, {ResultOk, 25}};
    for (const auto& expected : starts) {
        board.command(ParamStartAcq, 0);  // the settings were never applied: started all the same
        int64_t nAvailable = -1;
        EXPECT_EQ(board.read(ParamAvailableSamples, &nAvailable), expected.nResult);
        EXPECT_EQ(nAvailable, expected.nAvailable);
        ASSERT_EQ(board.command(ParamStopAcq, 0), ResultOk);
        script.steps = {25};  // each start replays the script from its first step
    }
}

// A board named by its model alone is a board of the family; the shipped scenarios load.
TEST(SystemDescription, AFamilyBoardGetsItsInputsAndTheShippedScenariosLoad) {
    const char kSystem[] = "<QuenoSimSystem><Board model='QUENO-3200-HV' serial='X' clock='-30ppm'/></QuenoSimSystem>";
    std::string sError;
    std::unique_ptr<SystemDescription> system = SystemDescription::parse(kSystem, sizeof(kSystem) - 1, "test", &sError);
    ASSERT_NE(system, nullptr) << sError;
    EXPECT_EQ(system->boards()[0].channelCounts.at("AI"), 16);
    EXPECT_EQ(system->boards()[0].nBufferScans, 16384);
    EXPECT_EQ(system->boards()[0].dClockPpm, -30);
    EXPECT_NE(system->channelNode(0, "AI15"), nullptr);
    for (const char* sName : {"furnace_broken_thermocouple.xml", "two_boards_drifting_clocks.xml"}) {
        const std::string sPath = std::string(QUENO_SCENARIOS_DIR) + "/" + sName;
        EXPECT_NE(SystemDescription::load(sPath.c_str(), &sError), nullptr) << sName << ": " << sError;
    }
}

}  // namespace
}  // namespace qsim

namespace {

// The trace takes a regular file or a character device, and never blocks on anything else.
TEST(CallTrace, OpensFilesAndDevicesAndRefusesTheRestWithoutBlocking) {
    char sDir[] = "/tmp/queno-trace-XXXXXX";
    ASSERT_NE(mkdtemp(sDir), nullptr);
    const std::string sFifo = std::string(sDir) + "/fifo";
    ASSERT_EQ(mkfifo(sFifo.c_str(), 0600), 0);
    const struct {
        std::string sPath;
        bool bOpens;
    } cases[] = {{std::string(sDir) + "/trace.log", true}, {"/dev/null", true}, {sFifo, false}, {sDir, false}};
    for (const auto& c : cases) {
        qsim::CallTrace trace;
        std::string sError;
        EXPECT_EQ(trace.open(c.sPath.c_str(), &sError), c.bOpens) << c.sPath;
        EXPECT_EQ(trace.enabled(), c.bOpens) << c.sPath;
        EXPECT_EQ(sError.empty(), c.bOpens) << c.sPath << ": " << sError;
    }
    unlink((std::string(sDir) + "/trace.log").c_str());
    unlink(sFifo.c_str());
    rmdir(sDir);
}

}  // namespace
