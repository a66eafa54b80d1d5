// The board queries of the utility library against the simulator's evaluation of the board
// description: the built-in system, and a description written by the test.
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "board_queries.h"
#include "system_info.h"
#include "gtest/gtest.h"
#include "kivo_api.h"

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

namespace {

class SimulatedBoardTest : public ::testing::Test {
protected:
    // A system description in a temporary file, removed after the test.
    std::string description(const std::string& sXml) {
        char sPath[] = "/tmp/queno-system-XXXXXX";
        int nFd = mkstemp(sPath);
        EXPECT_GE(nFd, 0);
        close(nFd);
        std::ofstream(sPath) << sXml;
        sDescriptionFile = sPath;
        return sDescriptionFile;
    }
    void start(const char* sSystemFile = nullptr) {
        if (sSystemFile != nullptr) {
            setenv("QUENO_SIM_SYSTEM", sSystemFile, 1);
        } else {
            unsetenv("QUENO_SIM_SYSTEM");
        }
        ASSERT_GT(KiVoPxiLoadByName(QUENO_SIM_PATH), 0);
        int32_t nBoards = 0;
        ASSERT_EQ(KiVoDriverInit(&nBoards), 0);
        nBoardCount = nBoards;
    }
    void TearDown() override {
        KiVoPxiUnload();
        unsetenv("QUENO_SIM_SYSTEM");
        if (!sDescriptionFile.empty()) unlink(sDescriptionFile.c_str());
    }
    int32_t nBoardCount = 0;
    std::string sDescriptionFile;
};

TEST_F(SimulatedBoardTest, BuiltInUniversalBoard) {
    start();
    EXPECT_EQ(nBoardCount, 2);
    char sText[64] = {0};
    EXPECT_EQ(QUENO_GetBoardName(0, sText, sizeof(sText)), 0);
    EXPECT_STREQ(sText, "QUENO-1600-UNIV");
    EXPECT_EQ(QUENO_GetNrOfChannelsAI(0), 8);
    EXPECT_EQ(QUENO_GetNrOfChannelsCNT(0), 2);
    EXPECT_EQ(QUENO_GetNrOfChannelsDI(0), 4);
    EXPECT_EQ(QUENO_GetNrOfChannelsBoardCNT(0), 1);
    EXPECT_EQ(QUENO_GetNrOfChannelsUART(0), 1);
    EXPECT_EQ(QUENO_AcqProp_GetMinSampleRate(0), 1);
    EXPECT_EQ(QUENO_AcqProp_GetMaxSampleRate(0), 20000);
    EXPECT_EQ(QUENO_AcqProp_GetNumResolutionAI(0), 2);
    EXPECT_EQ(QUENO_AcqProp_GetResolutionAI(0, 0), 24);
    EXPECT_EQ(QUENO_AcqProp_GetResolutionAI(0, 1), 16);
    EXPECT_EQ(QUENO_ChanProp_GetNumModesAI(0, 7), 4);
    EXPECT_EQ(QUENO_ChanProp_GetNumModesCNT(0, 1), 2);
    EXPECT_EQ(QUENO_ChanProp_GetNumModesDI(0, 0), 2);
    EXPECT_EQ(QUENO_ChanProp_GetNumModesBoardCNT(0, 0), 2);

    EXPECT_EQ(QUENO_ChanProp_GetModeNameAI(0, 3, 1, sText, sizeof(sText)), 0);
    EXPECT_STREQ(sText, "RTD-Temperature");
    EXPECT_EQ(QUENO_ChanProp_GetModeNameCNT(0, 0, 1, sText, sizeof(sText)), 0);
    EXPECT_STREQ(sText, "Frequency");
    EXPECT_EQ(QUENO_ChanProp_GetModeNameDI(0, 3, 0, sText, sizeof(sText)), 0);
    EXPECT_STREQ(sText, "Input");
    EXPECT_EQ(QUENO_ChanProp_GetModeNameBoardCNT(0, 0, 1, sText, sizeof(sText)), 0);
    EXPECT_STREQ(sText, "PPS-Sync");

    EXPECT_EQ(QUENO_ChanProp_GetNum(0, 2, "AI", "RTD-Temperature", "Range"), 3);
    EXPECT_EQ(QUENO_ChanProp_GetNum(0, 2, "AI", "RTD-Temperature", "Excitation"), 3);
    EXPECT_EQ(QUENO_ChanProp_GetEntry(0, 2, "AI", "RTD-Temperature", "Range", 1, sText, sizeof(sText)), 0);
    EXPECT_STREQ(sText, "-100.000000..200.000000 degC");
    EXPECT_EQ(QUENO_ChanProp_GetEntry(0, 1, "CNT", "EventCounting", "Edge", 2, sText, sizeof(sText)), 0);
    EXPECT_STREQ(sText, "Both");

    const char* const sModels[] = {"QUENO-3200", "QUENO-1600", nullptr};
    const double dValues[] = {1000.0, 10.0};
    EXPECT_EQ(GetMaxARef(0, "BoardID0", sModels, dValues), 10.0);
    EXPECT_EQ(GetMaxARef(0, "BoardID1", sModels, dValues), 1000.0);
}

TEST_F(SimulatedBoardTest, QueriesThatFindNothingAreReported) {
    start();
    char sText[16] = "untouched";
    CaptureStderr();
    EXPECT_EQ(QUENO_ChanProp_GetModeNameAI(0, 3, 9, sText, sizeof(sText)), 1102);  // no tenth mode
    EXPECT_STREQ(sText, "untouched");
    EXPECT_EQ(QUENO_ChanProp_GetNumModesAI(0, 8), 0);  // count() of nothing is 0, not an error
    EXPECT_EQ(QUENO_ChanProp_GetNum(0, 0, "AI", "Sonar", "Range"), 0);
    // A failed number query parses what its own buffer still holds from its last answer.
    EXPECT_EQ(QUENO_AcqProp_GetResolutionAI(0, 1), 16);
    EXPECT_EQ(QUENO_AcqProp_GetResolutionAI(0, 5), 16);
    EXPECT_EQ(QUENO_GetNrOfChannelsAI(0), 8);
    EXPECT_EQ(QUENO_GetNrOfChannelsAI(7), 8);  // no such board
    EXPECT_EQ(QUENO_ChanProp_GetEntry(0, 0, "AI", "x']|//*[@Mode='y", "Range", 0, sText, sizeof(sText)), 1102);
    EXPECT_EQ(GetCapturedStderr(),
              "\nError: query matched nothing\n"
              "\nError: query matched nothing\n"
              "\nError: no board with this board id\n"
              "\nError: query matched nothing\n");
}

TEST_F(SimulatedBoardTest, AnswersThatDoNotFitAreCutAndSaySo) {
    start();
    char sText[8] = {0};
    CaptureStderr();
    EXPECT_EQ(QUENO_ChanProp_GetModeNameAI(0, 0, 1, sText, sizeof(sText)), -1101);
    EXPECT_EQ(GetCapturedStderr(), "\nError: warning: the answer was cut to fit the caller's buffer\n");
    EXPECT_STREQ(sText, "RTD-Tem");
}

TEST_F(SimulatedBoardTest, DescriptionWrittenByTheTest) {
    std::string sFile = description(R"(<QuenoSimSystem>
  <Board model="QUENO-TEST-7">
    <ChannelGroup kind="AI" count="3">
      <Mode Mode="Strain"><GaugeFactor><ID0>2.0</ID0><ID1>2.1</ID1></GaugeFactor></Mode>
    </ChannelGroup>
    <ChannelGroup kind="UART" count="5"/>
    <BoardProperties>
      <ChannelProperties>
        <AI1><Mode Mode="Special"/><Mode Mode="Strain"/></AI1>
      </ChannelProperties>
      <AcquisitionProperties><AcqProp>
        <SampleRate ProgMin="5" ProgMax="123456"/>
        <ResolutionAI><ID0>16</ID0><ID1>20</ID1><ID2>24</ID2><Other>8</Other></ResolutionAI>
      </AcqProp></AcquisitionProperties>
    </BoardProperties>
  </Board>
</QuenoSimSystem>)");
    start(sFile.c_str());
    EXPECT_EQ(nBoardCount, 1);
    EXPECT_EQ(QUENO_GetNrOfChannelsAI(0), 3);
    EXPECT_EQ(QUENO_GetNrOfChannelsCNT(0), 0);
    EXPECT_EQ(QUENO_GetNrOfChannelsUART(0), 5);
    EXPECT_EQ(QUENO_AcqProp_GetMinSampleRate(0), 5);
    EXPECT_EQ(QUENO_AcqProp_GetMaxSampleRate(0), 123456);
    EXPECT_EQ(QUENO_AcqProp_GetNumResolutionAI(0), 3);  // only the ID entries count
    EXPECT_EQ(QUENO_AcqProp_GetResolutionAI(0, 2), 24);
    EXPECT_EQ(QUENO_ChanProp_GetNumModesAI(0, 0), 1);
    EXPECT_EQ(QUENO_ChanProp_GetNumModesAI(0, 1), 2);  // the channel's own node
    char sText[32] = {0};
    EXPECT_EQ(QUENO_ChanProp_GetModeNameAI(0, 1, 0, sText, sizeof(sText)), 0);
    EXPECT_STREQ(sText, "Special");
    EXPECT_EQ(QUENO_ChanProp_GetNum(0, 2, "AI", "Strain", "GaugeFactor"), 2);
    EXPECT_EQ(QUENO_ChanProp_GetEntry(0, 2, "AI", "Strain", "GaugeFactor", 1, sText, sizeof(sText)), 0);
    EXPECT_STREQ(sText, "2.1");
}

TEST_F(SimulatedBoardTest, SystemPathsWithTheirDefaults) {
    start();
    char sPath[64] = {0};
    EXPECT_EQ(GetApiPath(0, sPath, sizeof(sPath)), 0);
    EXPECT_STREQ(sPath, "/etc/queno/config");
    EXPECT_EQ(GetApiPath(4, sPath, sizeof(sPath)), 0);
    EXPECT_STREQ(sPath, "/var/lib/queno/backup");
    EXPECT_EQ(GetApiPath(1, sPath, 14), 230001);  // "/var/log/queno" is 14 characters
    EXPECT_EQ(GetApiPath(1, sPath, 15), 0);
    EXPECT_STREQ(sPath, "/var/log/queno");
}

TEST_F(SimulatedBoardTest, SystemPathsFromTheDescription) {
    std::string sFile = description(
        "<QuenoSimSystem><SystemPaths><Path node=\"log\">/data/logs</Path></SystemPaths></QuenoSimSystem>");
    start(sFile.c_str());
    char sPath[64] = {0};
    EXPECT_EQ(GetApiPath(1, sPath, sizeof(sPath)), 0);
    EXPECT_STREQ(sPath, "/data/logs");
    EXPECT_EQ(GetApiPath(2, sPath, sizeof(sPath)), 0);
    EXPECT_STREQ(sPath, "/etc/queno/system.xml");
}

TEST_F(SimulatedBoardTest, NetworkEnumerationShowsThisMachine) {
    start();
    CaptureStdout();
    EXPECT_EQ(ListNetworkInterfaces(), 0);
    std::string sOut = GetCapturedStdout();
    // Every Linux machine has the loopback interface.
    EXPECT_EQ(sOut.compare(0, 34, "<NetworkInterfaces>\n  <Interface>\n"), 0) << sOut;
    EXPECT_NE(sOut.find("    <Name>\n      lo\n    </Name>\n"), std::string::npos) << sOut;
    EXPECT_NE(sOut.find("127.0.0.1/8"), std::string::npos) << sOut;
    EXPECT_NE(sOut.find("</NetworkInterfaces>\n"), std::string::npos) << sOut;
}

}  // namespace
