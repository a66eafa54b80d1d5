// The example on a terminal with the real-time simulator: it measures until a key is pressed or a
// stop signal comes, then ends cleanly, with the terminal as it was. In the background of the
// terminal it measures without touching the terminal.
#include <signal.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "pty_child.h"

namespace {

std::vector<std::string> lines(const std::string& sPath) {
    std::vector<std::string> result;
    std::ifstream in(sPath);
    for (std::string s; std::getline(in, s);) result.push_back(s);
    return result;
}

bool sameAttributes(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag && a.c_lflag == b.c_lflag &&
           memcmp(a.c_cc, b.c_cc, sizeof(a.c_cc)) == 0;
}

// A trace file in a directory of its own for one run.
class LiveRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(mkdtemp(sDir_), nullptr); }
    void TearDown() override {
        unlink(trace().c_str());
        rmdir(sDir_);
    }
    std::string trace() const { return std::string(sDir_) + "/trace.log"; }
    std::vector<std::string> env() const { return {"QUENO_SIM_TRACE=" + trace()}; }

    // The run ended through stop, close and de-initialisation with status 0 and the terminal as before.
    void expectCleanEnd(PtyChild& child, std::string* pOutput) {
        EXPECT_TRUE(child.readUntil("End Of Example", pOutput)) << *pOutput;
        EXPECT_EQ(child.wait(), 0);  // the close result
        EXPECT_TRUE(sameAttributes(child.initialAttributes(), child.currentAttributes()));
        std::vector<std::string> calls = lines(trace());
        ASSERT_GE(calls.size(), 4u);
        bool bReleased = false;
        for (const std::string& s : calls) bReleased = bReleased || s.rfind("KiVoSetParam_i32(0, 39, ", 0) == 0;
        EXPECT_TRUE(bReleased);
        EXPECT_EQ(calls[calls.size() - 3], "KiVoSetParam_i32(0, 5, 0) = 0");
        EXPECT_EQ(calls[calls.size() - 2], "KiVoSetParam_i32(0, 2, 0) = 0");
        EXPECT_EQ(calls.back(), "KiVoDriverDeInit() = 0");
    }

    char sDir_[32] = "/tmp/queno-live-XXXXXX";
};

TEST_F(LiveRun, KeyEndsTheMeasurementAndRestoresTheTerminal) {
    PtyChild child = PtyChild::exec({QUENO_EXAMPLE_PATH}, env());
    std::string sOutput;
    ASSERT_TRUE(child.readUntil("[degC]", &sOutput)) << sOutput;
    // The temperature is about room temperature.
    size_t nScaled = sOutput.find("Scaled: ");
    ASSERT_NE(nScaled, std::string::npos);
    double dTemperature = atof(sOutput.c_str() + nScaled + 8);
    EXPECT_GT(dTemperature, 15.0);
    EXPECT_LT(dTemperature, 30.0);

    child.type("q");
    expectCleanEnd(child, &sOutput);
}

class StopSignalOnTerminal : public LiveRun, public ::testing::WithParamInterface<int> {};

// The signal is sent while the terminal is seen in the key read's working mode (every local mode
// off), so it lands inside the read: the restore must still run.
TEST_P(StopSignalOnTerminal, InsideTheKeyReadEndsTheRunCleanly) {
    PtyChild child = PtyChild::exec({QUENO_EXAMPLE_PATH}, env());
    std::string sOutput;
    ASSERT_TRUE(child.readUntil("[degC]", &sOutput)) << sOutput;
    bool bInsideRead = false;
    for (int i = 0; i < 20000 && !bInsideRead; ++i) {  // a guard, not a measurement
        bInsideRead = child.currentAttributes().c_lflag == 0;
        if (!bInsideRead) usleep(100);
    }
    ASSERT_TRUE(bInsideRead);
    child.signal(GetParam());
    expectCleanEnd(child, &sOutput);
}

INSTANTIATE_TEST_SUITE_P(Signals, StopSignalOnTerminal, ::testing::Values(SIGINT, SIGTERM, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == SIGINT ? "SIGINT" : info.param == SIGTERM ? "SIGTERM" : "SIGHUP");
                         });

// Started as `rtd_example &`: it neither stops on the terminal nor changes its attributes, goes on
// measuring, and a stop signal ends it cleanly.
TEST_F(LiveRun, InTheBackgroundItMeasuresWithoutTouchingTheTerminal) {
    PtyChild child = PtyChild::execInBackground({QUENO_EXAMPLE_PATH}, env());
    std::string sOutput;
    ASSERT_TRUE(child.readUntil("[degC]", &sOutput)) << sOutput;
    for (int i = 0; i < 3; ++i) {  // several more samples: it was not stopped
        sOutput.clear();
        ASSERT_TRUE(child.readUntil("[degC]", &sOutput)) << i;
        EXPECT_TRUE(sameAttributes(child.initialAttributes(), child.currentAttributes()));
    }
    child.signal(SIGTERM);
    expectCleanEnd(child, &sOutput);
}

}  // namespace
