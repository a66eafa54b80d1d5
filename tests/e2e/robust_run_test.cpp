// Runs that do not end by a key on a terminal: standard input a pipe, a file or /dev/null, stop
// signals, and standard output that cannot be written. Each must reach stop, close and unload.
#include <signal.h>

#include <string>

#include "expected_run.h"
#include "gtest/gtest.h"
#include "process_runner.h"

namespace {

const std::string kEnd = kEndOfExample;

std::string signalName(int nSignal) {
    return nSignal == SIGINT ? "SIGINT" : nSignal == SIGTERM ? "SIGTERM" : nSignal == SIGHUP ? "SIGHUP" : "other";
}

// The run reached the normal end: stop, close and de-initialisation are the last driver calls.
void expectCleanEnd(const RunResult& r) {
    EXPECT_FALSE(r.bTimedOut);
    EXPECT_TRUE(endsWith(r.sErr, kEnd)) << r.sErr;
    ASSERT_GE(r.trace.size(), 3u);
    EXPECT_EQ(Lines(r.trace.end() - 3, r.trace.end()), endTrace(0));
}

TEST(RobustRun, OpenPipeAsInputMeasuresAndAByteEndsTheRun) {
    RunOptions options;
    options.sStdin = "";  // a pipe the test keeps open
    ExampleProcess example(options);
    ASSERT_TRUE(example.readOutUntil("[degC]"));
    example.writeStdin("x");
    RunResult r = example.finish();
    EXPECT_EQ(r.nExitStatus, 0);
    EXPECT_EQ(r.sOut.find("Overflow"), std::string::npos);
    expectCleanEnd(r);
}

class StopSignalTest : public ::testing::TestWithParam<int> {};

TEST_P(StopSignalTest, EndsAMeasurementOnDevNullLikeAKey) {
    ExampleProcess example(RunOptions{});
    ASSERT_TRUE(example.readOutUntil("[degC]"));
    example.signal(GetParam());
    RunResult r = example.finish();
    EXPECT_EQ(r.nExitStatus, 0);  // the close result
    expectCleanEnd(r);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalTest, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) { return signalName(info.param); });

struct BrokenOutput {
    const char* sName;
    const char* sStdout;
    bool bClose;
    const char* sReason;
};

void PrintTo(const BrokenOutput& output, std::ostream* os) { *os << output.sName; }

class BrokenOutputTest : public ::testing::TestWithParam<BrokenOutput> {};

TEST_P(BrokenOutputTest, EndsTheRunWithAMessageAndAFailureStatus) {
    RunOptions options;
    options.env["QUENO_SIM_SCRIPT"] = "25,25,25,25,overflow";
    options.sStdout = GetParam().sStdout;
    options.bCloseStdout = GetParam().bClose;
    RunResult r = runExample(options);
    EXPECT_EQ(r.nExitStatus, 1);
    std::string sMessage = std::string("\nError: the measurement cannot be written to standard output (") +
                           GetParam().sReason + ") - stopping measurement\n";
    EXPECT_EQ(r.sErr, kFirstOpenError + std::string("Found a QUENO-1600-UNIV board with BoardID 0\n") + sMessage + kEnd);
    // The first batch is released, then the run ends without another query.
    ASSERT_GE(r.trace.size(), 5u);
    EXPECT_EQ(r.trace[r.trace.size() - 4], "KiVoSetParam_i32(0, 39, 21) = 0");
    expectCleanEnd(r);
}

INSTANTIATE_TEST_SUITE_P(Outputs, BrokenOutputTest,
                         ::testing::Values(BrokenOutput{"ClosedPipe", "", true, "Broken pipe"},
                                           BrokenOutput{"FullDevice", "/dev/full", false, "No space left on device"}),
                         [](const ::testing::TestParamInfo<BrokenOutput>& info) { return info.param.sName; });

}  // namespace

namespace {

// A failed close whose code reads as 0 in the shell's 8 bits ends with 1; others keep their code.
TEST(RobustRun, FailedCloseIsNeverStatusZero) {
    const struct {
        const char* sCode;
        int nStatus;
    } cases[] = {{"256", 1}, {"1024", 1}, {"-2147483648", 1}, {"1003", 1003 & 0xff}, {"-1", 255}};
    for (const auto& c : cases) {
        RunResult r = runWith({}, {{"QUENO_SIM_FAULTS", std::string("cmd:2=") + c.sCode}});
        EXPECT_EQ(r.nExitStatus, c.nStatus) << c.sCode;
    }
}

}  // namespace
