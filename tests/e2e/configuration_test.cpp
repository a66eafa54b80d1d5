// The RTD channel configuration end to end: the writes in their order, the range read back before
// the apply command, the information block, and each call failing in turn.
#include <string>
#include <vector>

#include "expected_run.h"
#include "gtest/gtest.h"
#include "process_runner.h"

namespace {

const std::string kFound0 = std::string(kFirstOpenError) + "Found a QUENO-1600-UNIV board with BoardID 0\n";
// Every run here measures until the simulator reports an overflow at the first query.
const std::string kEnd = std::string(kOverflowError) + "\nEnd Of Example\n";

std::string measured(const std::string& sInfoBlock, int nBoard = 0, int nChannel = 0) {
    return sInfoBlock + startLine(nBoard, nChannel) + kOverflowLine;
}
const std::string kThreeBoards = std::string(QUENO_TEST_DATA_DIR) + "/three_boards.xml";

size_t indexOf(const Lines& lines, const std::string& sPrefix) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].compare(0, sPrefix.size(), sPrefix) == 0) return i;
    }
    return lines.size();
}

TEST(Configuration, DefaultBoardPrintsTheInformationBlock) {
    RunResult r = runWith({});
    EXPECT_EQ(r.nExitStatus, 0);
    EXPECT_EQ(r.sOut, measured(
                          "\nINFO Print-Outs:\n"
                          "SensorRes0 Value:   600.000000   Ohm\n"
                          "Adjusted Range:    -100.000000..200.000000 degC\n"
                          "Adjusted Exc.:      0.500000 mA\n"));
    EXPECT_EQ(r.sErr, kFound0 + kEnd);
}

TEST(Configuration, RangeIsReadBackAfterItsWriteAndBeforeTheApply) {
    RunResult r = runWith({});
    size_t nRangeWrite = indexOf(r.trace, "KiVoSetParamStruct_str(\"BoardID0/AI0\", \"Range\"");
    size_t nFilterWrite = indexOf(r.trace, "KiVoSetParamStruct_str(\"BoardID0/AI0\", \"IIRFilter_VAL\"");
    size_t nRangeRead = indexOf(r.trace, "KiVoGetParamStruct_str(\"BoardID0/AI0\", \"Range\", 48)");
    size_t nApply = indexOf(r.trace, "KiVoSetParam_i32(0, 16, 0)");
    ASSERT_LT(nApply, r.trace.size());
    EXPECT_LT(nRangeWrite, nFilterWrite);  // the range is the last write but one
    EXPECT_EQ(nFilterWrite + 1, nRangeRead);
    EXPECT_EQ(nRangeRead + 1, nApply);
}

TEST(Configuration, BoardAndChannelFromTheCommandLine) {
    ConfigExpectation expected;
    expected.nBoard = 2;
    expected.nChannel = 5;
    expected.sSettledRange = "-200.000000..850.000000 degC";  // the only range board 2 offers
    expected.nSampleDelay = 4;
    RunResult r = runWith({"2", "5"}, {{"QUENO_SIM_SYSTEM", kThreeBoards}});
    EXPECT_EQ(r.nExitStatus, 0);
    EXPECT_EQ(r.sOut, measured(infoBlock(expected), 2, 5));
    EXPECT_EQ(r.sErr,
              std::string(kFirstOpenError) + "Found a QUENO-1600-UNIV-R2 board with BoardID 2\n" + kEnd);
    EXPECT_EQ(r.trace, concat({{"KiVoDriverInit() = 0 -> 3"}, openAndCheckTrace(2, "QUENO-1600-UNIV-R2"),
                               configurationTrace(expected), startTrace(2, 8192), overflowTrace(2), endTrace(2)}));
}

TEST(Configuration, DescriptionCanFixTheSampleDelay) {
    ConfigExpectation expected;
    expected.nChannel = 7;
    expected.nSampleDelay = 2;
    RunResult r = runWith({"0", "7"}, {{"QUENO_SIM_SYSTEM", kThreeBoards}});
    EXPECT_EQ(r.trace, concat({{"KiVoDriverInit() = 0 -> 3"}, openAndCheckTrace(0, "QUENO-1600-UNIV"),
                               configurationTrace(expected), startTrace(0, 4096), overflowTrace(0), endTrace(0)}));
}

// Each configuration call fails in turn: the driver's text is printed and the run goes on.
TEST(Configuration, EveryFailingCallIsReportedAndTheRunGoesOn) {
    struct {
        const char* sRule;
        const char* sText;
    } cases[] = {
        {"prop:BoardID0/AcqProp:Samplerate=1026", "sample rate is outside the board's limits"},
        {"cmd:258=1011", "invalid value for this command"},
        {"cmd:263=1011", "invalid value for this command"},
        {"prop:BoardID0/AI0:LinearisationTable=1022", "invalid property value"},
        {"prop:BoardID0/AI0:Excitation#1=1022", "invalid property value"},
        {"prop:BoardID0/AI0:SensorRes0#1=1022", "invalid property value"},
        {"prop:BoardID0/AI0:Range#1=1024", "range is not available in this channel mode"},
        {"prop:BoardID0/AI0:IIRFilter_VAL=1022", "invalid property value"},
        {"cmd:770=1040", "acquisition is not running"},
        {"cmd:42=-1101", "warning: the answer was cut to fit the caller's buffer"},
    };
    for (const auto& c : cases) {
        RunResult r = runWith({}, {{"QUENO_SIM_FAULTS", c.sRule}});
        EXPECT_EQ(r.nExitStatus, 0) << c.sRule;
        EXPECT_EQ(r.sErr, kFound0 + "\nError: " + c.sText + "\n" + kEnd) << c.sRule;
        // Init, open and check, configuration, the text of the result, start, overflow, end.
        EXPECT_EQ(r.trace.size(), 1 + 3 + 17 + 1 + 4 + 2 + 3u) << c.sRule;
    }
}

TEST(Configuration, RefusedModeLeavesTheChannelInItsFirstMode) {
    // The channel stays in Voltage mode, which has no RTD properties and no degC range.
    RunResult r = runWith({}, {{"QUENO_SIM_FAULTS", "prop:BoardID0/AI0:Mode=1023"}});
    EXPECT_EQ(r.nExitStatus, 0);
    const std::string kUnknown = "\nError: unknown property for this target or channel mode\n";
    EXPECT_EQ(r.sErr, kFound0 + "\nError: mode is not available on this channel\n" + kUnknown + kUnknown + kUnknown +
                          "\nError: range is not available in this channel mode\n" + kUnknown + kUnknown + kEnd);
    EXPECT_EQ(r.sOut, measured(
                          "\nINFO Print-Outs:\n"
                          "SensorRes0 Value:   0.000000  \n"
                          "Adjusted Range:    -10.000000..10.000000 V\n"
                          "Adjusted Exc.:      -10.000000..10.000000 V\n"));
}

TEST(Configuration, FailedRangeReadScalesEverythingToZeroButGoesOn) {
    RunResult r = runWith({}, {{"QUENO_SIM_FAULTS", "prop:BoardID0/AI0:Range#2=1021"}});
    EXPECT_EQ(r.nExitStatus, 0);
    EXPECT_EQ(r.sErr, kFound0 + "\nError: unknown property for this target or channel mode\n" + kEnd);
    EXPECT_EQ(r.sOut, measured(infoBlock({})));  // the later reads succeed
}

TEST(Configuration, FailedReadBacksPrintWhatTheBufferHolds) {
    // The first read-back fails and leaves the buffer empty: the number shows as 0.
    RunResult r = runWith({}, {{"QUENO_SIM_FAULTS", "prop:BoardID0/AI0:SensorRes0#2=1021"}});
    EXPECT_EQ(r.sOut, measured(
                          "\nINFO Print-Outs:\n"
                          "SensorRes0 Value:   0.000000  \n"
                          "Adjusted Range:    -100.000000..200.000000 degC\n"
                          "Adjusted Exc.:      0.500000 mA\n"));
    EXPECT_EQ(r.sErr, kFound0 + "\nError: unknown property for this target or channel mode\n" + kEnd);

    // A later one keeps the text of the read before it.
    r = runWith({}, {{"QUENO_SIM_FAULTS", "prop:BoardID0/AI0:Excitation#2=1021"}});
    EXPECT_EQ(r.sOut, measured(
                          "\nINFO Print-Outs:\n"
                          "SensorRes0 Value:   600.000000   Ohm\n"
                          "Adjusted Range:    -100.000000..200.000000 degC\n"
                          "Adjusted Exc.:      -100.000000..200.000000 degC\n"));
}

TEST(Configuration, ReadBackThatIsNotANumber) {
    RunResult r = runWith({}, {{"QUENO_SIM_FAULTS", "text:BoardID0/AI0:SensorRes0=open circuit"}});
    EXPECT_EQ(r.sErr, kFound0 + kEnd);
    EXPECT_EQ(r.sOut.substr(0, 52), "\nINFO Print-Outs:\nSensorRes0 Value:   0.000000  open");
    EXPECT_NE(r.sOut.find("SensorRes0 Value:   0.000000  open circuit\n"), std::string::npos);
}

TEST(Configuration, SimulatorRefusesSettingsTheBoardDoesNotOffer) {
    // Board 1 of the built-in system has no RTD mode: every RTD write is refused with its reason.
    RunResult r = runWith({"1"}, {{"QUENO_SIM_SYSTEM", kThreeBoards}});
    EXPECT_NE(r.sErr.find("is not any of the required boards"), std::string::npos);

    // A range reads back as whatever the channel settled on, here the narrowest holding it.
    r = runWith({}, {{"QUENO_SIM_FAULTS", "text:BoardID0/AI0:Range=-50.000000..150.000000 degC"}});
    EXPECT_NE(r.sOut.find("Adjusted Range:    -50.000000..150.000000 degC\n"), std::string::npos);
}

}  // namespace
