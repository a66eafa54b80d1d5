// The example on a terminal with the real-time simulator: it measures until a key is pressed,
// then ends cleanly, with the terminal as it was.
#include <string.h>
#include <termios.h>
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

TEST(LiveRun, KeyEndsTheMeasurementAndRestoresTheTerminal) {
    char sDir[] = "/tmp/queno-live-XXXXXX";
    ASSERT_NE(mkdtemp(sDir), nullptr);
    std::string sTrace = std::string(sDir) + "/trace.log";
    PtyChild child = PtyChild::exec({QUENO_EXAMPLE_PATH}, {"QUENO_SIM_TRACE=" + sTrace});

    std::string sOutput;
    ASSERT_TRUE(child.readUntil("[degC]", &sOutput)) << sOutput;
    // The temperature is about room temperature.
    size_t nScaled = sOutput.find("Scaled: ");
    ASSERT_NE(nScaled, std::string::npos);
    double dTemperature = atof(sOutput.c_str() + nScaled + 8);
    EXPECT_GT(dTemperature, 15.0);
    EXPECT_LT(dTemperature, 30.0);

    child.type("q");
    EXPECT_TRUE(child.readUntil("End Of Example", &sOutput)) << sOutput;
    EXPECT_EQ(child.wait(), 0);  // the close result
    termios initial = child.initialAttributes(), now = child.currentAttributes();
    EXPECT_EQ(initial.c_lflag, now.c_lflag);
    EXPECT_EQ(initial.c_cc[VMIN], now.c_cc[VMIN]);
    EXPECT_EQ(initial.c_cc[VTIME], now.c_cc[VTIME]);

    // The trace: scans were released, then the stop and the close came.
    std::vector<std::string> trace = lines(sTrace);
    ASSERT_GE(trace.size(), 4u);
    bool bReleased = false;
    for (const std::string& s : trace) bReleased = bReleased || s.rfind("KiVoSetParam_i32(0, 39, ", 0) == 0;
    EXPECT_TRUE(bReleased);
    EXPECT_EQ(trace[trace.size() - 3], "KiVoSetParam_i32(0, 5, 0) = 0");
    EXPECT_EQ(trace[trace.size() - 2], "KiVoSetParam_i32(0, 2, 0) = 0");
    EXPECT_EQ(trace.back(), "KiVoDriverDeInit() = 0");
    unlink(sTrace.c_str());
    rmdir(sDir);
}

}  // namespace
