// The frame of the run end to end: every early exit with its message, stream, exit status and
// driver calls, and the command-line input that leads there.
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "process_runner.h"
#include "expected_run.h"

namespace {

const std::string kInit = "KiVoDriverInit() = 0 -> 2";
const std::string kDeInit = "KiVoDriverDeInit() = 0";
const std::string kNoCards = kNoCardsMessage;

RunResult run(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    return runWith(std::move(args), std::move(env));
}

std::string data(const char* sName) { return std::string(QUENO_TEST_DATA_DIR) + "/" + sName; }

TEST(Frame, MissingLibraryEndsWithStatusOne) {
    TempDir dir;
    RunResult r = runAloneIn(dir, QUENO_EXAMPLE_PATH);
    EXPECT_EQ(r.nExitStatus, 1);
    EXPECT_EQ(r.sOut, "pxi_api.dll could not be found. Exiting...\n");
    EXPECT_EQ(r.sErr, std::string(kFirstOpenError) + dir.path() +
                          "/libkvpxi_api.so: cannot open shared object file: No such file or directory\n");
    EXPECT_TRUE(r.trace.empty());
}

TEST(Frame, NoBoards) {
    RunResult r = run({}, {{"QUENO_SIM_FAULTS", "boards=0"}});
    EXPECT_EQ(r.nExitStatus, 1);
    EXPECT_EQ(r.sOut, "");
    EXPECT_EQ(r.sErr, kFirstOpenError + kNoCards);
    EXPECT_EQ(r.trace, (Lines{"KiVoDriverInit() = 0 -> 0", kDeInit}));
}

TEST(Frame, NegativeBoardCountIsTakenAsItsMagnitude) {
    RunResult r = run({"7"}, {{"QUENO_SIM_FAULTS", "boards=-3"}});
    EXPECT_EQ(r.nExitStatus, 2);
    EXPECT_EQ(r.sOut, "");
    EXPECT_EQ(r.sErr, std::string(kFirstOpenError) + "Invalid BoardId: 7\nNumber of found boards: 3");
    EXPECT_EQ(r.trace, (Lines{"KiVoDriverInit() = 0 -> -3", kDeInit}));

    // Board 2 of "-3" boards passes the check; the simulator has only two.
    r = run({"2"}, {{"QUENO_SIM_FAULTS", "boards=-3"}});
    EXPECT_NE(r.sErr.find("\nError: no board with this board id\n"), std::string::npos) << r.sErr;
}

TEST(Frame, InitFailureWithoutCountMeansNoBoards) {
    RunResult r = run({}, {{"QUENO_SIM_FAULTS", "KiVoDriverInit=1001"}});
    EXPECT_EQ(r.nExitStatus, 1);
    EXPECT_EQ(r.sErr, std::string(kFirstOpenError) +
                          "\nError: driver is not initialised (call KiVoDriverInit first)\n" + kNoCards);
}

TEST(Frame, RejectedBoardIds) {
    struct {
        std::vector<std::string> args;
        const char* sShown;
    } cases[] = {{{"2"}, "2"},
                 {{"3abc"}, "3"},
                 {{"99999999999"}, "2147483647"},
                 {{"4294967296"}, "2147483647"},
                 {{"-1"}, "4294967295"},  // no board below 0: the driver never sees it
                 {{"-99999999999"}, "2147483648"}};
    for (const auto& c : cases) {
        RunResult r = run(c.args);
        EXPECT_EQ(r.nExitStatus, 2) << c.args[0];
        EXPECT_EQ(r.sOut, "");
        EXPECT_EQ(r.sErr, std::string(kFirstOpenError) + "Invalid BoardId: " + c.sShown + "\nNumber of found boards: 2")
            << c.args[0];
        EXPECT_EQ(r.trace, (Lines{kInit, kDeInit}));
    }
}

TEST(Frame, RejectedChannels) {
    for (const char* sChannel : {"8", "-1", "99999999999", "12x"}) {
        RunResult r = run({"0", sChannel});
        EXPECT_EQ(r.nExitStatus, 2);
        EXPECT_EQ(r.sOut, "");
        EXPECT_EQ(r.sErr, std::string(kFirstOpenError) +
                              "Invalid Channel Number: Allowed channel numbers are from [0..7]\n")
            << sChannel;
        EXPECT_EQ(r.trace, (Lines{kInit, kDeInit})) << sChannel;  // the board is never opened
    }
}

TEST(Frame, ModelThatDoesNotMatchLeavesTheBoardOpen) {
    RunResult r = run({"1"});
    EXPECT_EQ(r.nExitStatus, 1);
    EXPECT_EQ(r.sOut, "  QUENO-1600-UNIV\n");
    EXPECT_EQ(r.sErr, std::string(kFirstOpenError) +
                          "BoardID 1 (Boardname: QUENO-3200-HV) is not any of the required boards.\n"
                          "List of possible boards for this example:\n");
    EXPECT_EQ(r.trace, concat({{kInit}, openAndCheckTrace(1, "QUENO-3200-HV"), {kDeInit}}));
}

// Help, version and unknown long options are answered before the driver is loaded.
TEST(Frame, InformationArgumentsLoadNothing) {
    struct {
        std::vector<std::string> args;
        int nStatus;
        const char* sOut;  // the beginning of standard output
        const char* sErr;  // the beginning of standard error
    } cases[] = {{{"--help"}, 0, "Usage: rtd_example [BOARD [CHANNEL]]\n", ""},
                 {{"0", "3", "-h"}, 0, "Usage: rtd_example", ""},
                 {{"--version"}, 0, "rtd_example 1.", ""},
                 {{"1", "--version"}, 0, "rtd_example 1.", ""},
                 {{"--anything"}, 2, "", "rtd_example: unknown option --anything\nUsage: rtd_example"},
                 {{"0", "--help", "--bogus"}, 0, "Usage: rtd_example", ""}};
    for (const auto& c : cases) {
        RunResult r = run(c.args);
        EXPECT_EQ(r.nExitStatus, c.nStatus) << c.args[0];
        EXPECT_EQ(r.sOut.rfind(c.sOut, 0), 0u) << r.sOut;
        EXPECT_EQ(r.sErr.rfind(c.sErr, 0), 0u) << r.sErr;
        EXPECT_TRUE(r.trace.empty()) << c.args[0];
    }
}

TEST(Frame, UnreadableArgumentsSelectBoardZeroChannelZero) {
    for (std::vector<std::string> args : {std::vector<std::string>{"abc", "x"}, std::vector<std::string>{"", ""}}) {
        RunResult r = run(args);
        EXPECT_EQ(r.nExitStatus, 0);
        EXPECT_NE(r.sErr.find("Found a QUENO-1600-UNIV board with BoardID 0\n"), std::string::npos) << r.sErr;
        ASSERT_GE(r.trace.size(), 2u);
        EXPECT_EQ(r.trace[1], "KiVoSetParam_i32(0, 1, 0) = 0");
    }
}

TEST(Frame, FailingOpenIsReportedAndTheRunGoesOn) {
    // The open fails, so the board stays closed: every later command says so, and the run goes on
    // until the driver refuses the start, whose text ends the run.
    RunResult r = run({}, {{"QUENO_SIM_FAULTS", "cmd:1=1004"}});
    EXPECT_EQ(r.nExitStatus, 1);
    const std::string sStart = std::string(kFirstOpenError) +
                               "\nError: board is already open\n"
                               "\nError: board is not open\n"
                               "Found a QUENO-1600-UNIV board with BoardID 0\n";
    const std::string sEnd = "\nboard is not open";
    EXPECT_EQ(r.sErr.compare(0, sStart.size(), sStart), 0) << r.sErr;
    ASSERT_GT(r.sErr.size(), sEnd.size());
    EXPECT_EQ(r.sErr.substr(r.sErr.size() - sEnd.size()), sEnd) << r.sErr;
    ASSERT_GE(r.trace.size(), 2u);
    EXPECT_EQ(r.trace[1], "KiVoSetParam_i32(0, 1, 0) = 1004 [injected]");
}

TEST(Frame, BrokenSystemDescriptionIsReportedNotCrashed) {
    for (const std::string& sFile : {data("not_well_formed.xml"), std::string("/nonexistent/system.xml")}) {
        RunResult r = run({}, {{"QUENO_SIM_SYSTEM", sFile}});
        EXPECT_EQ(r.nExitStatus, 1);
        std::string sPrefix = std::string(kFirstOpenError) + "queno-sim: system description " + sFile + ": ";
        EXPECT_EQ(r.sErr.compare(0, sPrefix.size(), sPrefix), 0) << r.sErr;
        std::string sSuffix = "\n\nError: system description could not be loaded\n" + kNoCards;
        ASSERT_GT(r.sErr.size(), sSuffix.size());
        EXPECT_EQ(r.sErr.substr(r.sErr.size() - sSuffix.size()), sSuffix) << r.sErr;
        EXPECT_EQ(r.trace, (Lines{"KiVoDriverInit() = 1200", "KiVoErrorConstantToString(1200) = 0 -> \"system "
                                                             "description could not be loaded\"",
                                  "KiVoDriverDeInit() = 1001"}));
    }
}

TEST(Frame, MalformedFaultRuleIsReported) {
    RunResult r = run({}, {{"QUENO_SIM_FAULTS", "cmd:x=1"}});
    EXPECT_EQ(r.sErr, std::string(kFirstOpenError) + "queno-sim: QUENO_SIM_FAULTS: rule 'cmd:x=1' needs a command code\n" +
                          "\nError: invalid value for this command\n" + kNoCards);
}

TEST(Frame, NormalEndReturnsTheCloseResult) {
    const std::string kFound = "Found a QUENO-1600-UNIV board with BoardID 0\n";
    RunResult r = run({});
    EXPECT_EQ(r.nExitStatus, 0);
    EXPECT_EQ(r.sOut, infoBlock({}) + startLine(0, 0) + kOverflowLine);
    EXPECT_EQ(r.sErr, kFirstOpenError + kFound + kOverflowError + "\nEnd Of Example\n");
    EXPECT_EQ(r.trace, concat({{kInit}, openAndCheckTrace(0, "QUENO-1600-UNIV"), configurationTrace({}),
                               startTrace(0, 32768), overflowTrace(0), endTrace(0)}));

    // A close that fails with a positive code is the exit status (the platform keeps 8 bits).
    r = run({}, {{"QUENO_SIM_FAULTS", "cmd:2=7"}});
    EXPECT_EQ(r.nExitStatus, 7);
    EXPECT_EQ(r.sErr, kFirstOpenError + kFound + kOverflowError + "\nError: unknown result code 7\n\nEnd Of Example\n");
    r = run({}, {{"QUENO_SIM_FAULTS", "cmd:2=1003"}});
    EXPECT_EQ(r.nExitStatus, 1003 & 0xff);
    EXPECT_EQ(r.sErr, kFirstOpenError + kFound + kOverflowError + "\nError: board is not open\n\nEnd Of Example\n");
}

}  // namespace
