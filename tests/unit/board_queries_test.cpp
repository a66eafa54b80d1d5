#include "board_queries.h"

#include <string.h>

#include <string>

#include "fake_driver.h"

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

namespace {

class BoardQueriesTest : public FakeDriverTest {
protected:
    void xml(const std::string& sBase, const std::string& sQuery, const std::string& sText, int32_t nResult = 0) {
        fake().xmlAnswers[sBase + "|" + sQuery] = FakeAnswer{nResult, sText, true};
    }
    std::string lastCall() { return fake().calls.empty() ? "" : fake().calls.back(); }
};

TEST_F(BoardQueriesTest, ChannelCountsAskTheirGroupWithRoomForAny32BitNumber) {
    fake().structAnswers["BoardID3/AI|Channels"] = FakeAnswer{0, "16", true};
    fake().structAnswers["BoardID3/CNT|Channels"] = FakeAnswer{0, "4", true};
    fake().structAnswers["BoardID3/Discret|Channels"] = FakeAnswer{0, "8", true};
    fake().structAnswers["BoardID3/BoardCNT|Channels"] = FakeAnswer{0, "1", true};
    fake().structAnswers["BoardID3/UART|Channels"] = FakeAnswer{0, "2", true};
    EXPECT_EQ(QUENO_GetNrOfChannelsAI(3), 16);
    EXPECT_EQ(lastCall(), "GetParamStruct_str BoardID3/AI Channels 16");
    EXPECT_EQ(QUENO_GetNrOfChannelsCNT(3), 4);
    EXPECT_EQ(QUENO_GetNrOfChannelsDI(3), 8);
    EXPECT_EQ(QUENO_GetNrOfChannelsBoardCNT(3), 1);
    EXPECT_EQ(QUENO_GetNrOfChannelsUART(3), 2);
    EXPECT_EQ(lastCall(), "GetParamStruct_str BoardID3/UART Channels 16");
}

TEST_F(BoardQueriesTest, NumberQueriesSendTheirPathsAndQueries) {
    const std::string kAcq = "BoardID1/BoardProperties/AcquisitionProperties/AcqProp";
    const std::string kProps = "BoardID1/BoardProperties";
    xml(kAcq, "SampleRate/@ProgMin", "1");
    xml(kAcq, "SampleRate/@ProgMax", "20000");
    xml(kProps, "count(AcquisitionProperties/AcqProp/ResolutionAI/*[starts-with(local-name(), 'ID')])", "2");
    xml(kAcq, "ResolutionAI/ID0", "24");
    xml(kProps, "count(ChannelProperties/AI5/Mode)", "4");
    xml(kProps, "count(ChannelProperties/CNT1/Mode)", "2");
    xml(kProps, "count(ChannelProperties/Discret2/Mode)", "1");
    xml(kProps, "count(ChannelProperties/BoardCNT0/Mode)", "3");
    EXPECT_EQ(QUENO_AcqProp_GetMinSampleRate(1), 1);
    EXPECT_EQ(lastCall(), "GetParamXML_str " + kAcq + " SampleRate/@ProgMin 16");
    EXPECT_EQ(QUENO_AcqProp_GetMaxSampleRate(1), 20000);
    EXPECT_EQ(QUENO_AcqProp_GetNumResolutionAI(1), 2);
    EXPECT_EQ(QUENO_AcqProp_GetResolutionAI(1, 0), 24);  // entry 0 is the element ID0
    EXPECT_EQ(QUENO_ChanProp_GetNumModesAI(1, 5), 4);
    EXPECT_EQ(QUENO_ChanProp_GetNumModesCNT(1, 1), 2);
    EXPECT_EQ(QUENO_ChanProp_GetNumModesDI(1, 2), 1);
    EXPECT_EQ(QUENO_ChanProp_GetNumModesBoardCNT(1, 0), 3);
}

TEST_F(BoardQueriesTest, NumberTextsAreParsedLikeADecimalScan) {
    const std::string kAcq = "BoardID0/BoardProperties/AcquisitionProperties/AcqProp";
    struct {
        const char* sText;
        int32_t nExpected;
    } cases[] = {{"12abc", 12}, {"", 0}, {"abc", 0}, {" -7", -7}, {"9999999", 9999999}, {"10000000", 10000000},
                 {"-2147483648", INT32_MIN}, {"2147483647", INT32_MAX}};
    for (const auto& c : cases) {
        xml(kAcq, "SampleRate/@ProgMax", c.sText);
        EXPECT_EQ(QUENO_AcqProp_GetMaxSampleRate(0), c.nExpected) << c.sText;
    }
    // Longer than any 32-bit decimal: the driver keeps to the buffer, and the parse to what it left.
    xml(kAcq, "SampleRate/@ProgMax", "12345678901234567890");
    EXPECT_EQ(QUENO_AcqProp_GetMaxSampleRate(0), INT32_MAX);
}

TEST_F(BoardQueriesTest, FailedQueryIsReportedAndParsesWhatTheBufferHolds) {
    const std::string kAcq = "BoardID0/BoardProperties/AcquisitionProperties/AcqProp";
    xml(kAcq, "SampleRate/@ProgMin", "50");
    EXPECT_EQ(QUENO_AcqProp_GetMinSampleRate(0), 50);
    fake().xmlAnswers[kAcq + "|SampleRate/@ProgMin"] = FakeAnswer{1102, "", false};
    CaptureStderr();
    EXPECT_EQ(QUENO_AcqProp_GetMinSampleRate(0), 50);  // the buffer is not cleared between calls
    EXPECT_EQ(GetCapturedStderr(), "\nError: text of 1102\n");
}

TEST_F(BoardQueriesTest, StaticBuffersGiveIndependentResults) {
    const std::string kAcq = "BoardID0/BoardProperties/AcquisitionProperties/AcqProp";
    xml(kAcq, "ResolutionAI/ID0", "24");
    xml(kAcq, "ResolutionAI/ID1", "16");
    xml(kAcq, "SampleRate/@ProgMax", "9");
    int32_t nFirst = QUENO_AcqProp_GetResolutionAI(0, 0);
    int32_t nSecond = QUENO_AcqProp_GetResolutionAI(0, 1);
    int32_t nOther = QUENO_AcqProp_GetMaxSampleRate(0);
    EXPECT_EQ(nFirst, 24);
    EXPECT_EQ(nSecond, 16);
    EXPECT_EQ(nOther, 9);
}

TEST_F(BoardQueriesTest, TextQueriesFillTheCallersBufferAndReturnTheResult) {
    const std::string kProps = "BoardID2/BoardProperties";
    xml(kProps, "ChannelProperties/AI3/Mode[1]/@Mode", "Voltage");
    xml(kProps, "ChannelProperties/CNT0/Mode[2]/@Mode", "Frequency");
    xml(kProps, "ChannelProperties/Discret1/Mode[1]/@Mode", "Input", -1101);
    xml(kProps, "ChannelProperties/BoardCNT0/Mode[3]/@Mode", "", 1102);
    char sBuffer[32] = {0};
    EXPECT_EQ(QUENO_ChanProp_GetModeNameAI(2, 3, 0, sBuffer, sizeof(sBuffer)), 0);  // mode 0 is position 1
    EXPECT_STREQ(sBuffer, "Voltage");
    EXPECT_EQ(lastCall(), "GetParamXML_str " + kProps + " ChannelProperties/AI3/Mode[1]/@Mode 32");
    EXPECT_EQ(QUENO_ChanProp_GetModeNameCNT(2, 0, 1, sBuffer, 5), 0);
    EXPECT_STREQ(sBuffer, "Freq");
    CaptureStderr();
    EXPECT_EQ(QUENO_ChanProp_GetModeNameDI(2, 1, 0, sBuffer, sizeof(sBuffer)), -1101);
    EXPECT_EQ(QUENO_ChanProp_GetModeNameBoardCNT(2, 0, 2, sBuffer, sizeof(sBuffer)), 1102);
    EXPECT_EQ(GetCapturedStderr(), "\nError: text of -1101\n\nError: text of 1102\n");

    fake().structAnswers["BoardID2|BoardName"] = FakeAnswer{0, "QUENO-1600-UNIV", true};
    EXPECT_EQ(QUENO_GetBoardName(2, sBuffer, 20), 0);
    EXPECT_STREQ(sBuffer, "QUENO-1600-UNIV");
    EXPECT_EQ(lastCall(), "GetParamStruct_str BoardID2 BoardName 20");
}

TEST_F(BoardQueriesTest, PropertyListsOfAMode) {
    const std::string kProps = "BoardID0/BoardProperties";
    xml(kProps,
        "count(ChannelProperties/AI1/Mode[@Mode='RTD-Temperature']/Excitation/*[starts-with(local-name(), 'ID')])",
        "3");
    xml(kProps, "ChannelProperties/AI1/Mode[@Mode='RTD-Temperature']/Excitation/ID0", "0.250000 mA");
    EXPECT_EQ(QUENO_ChanProp_GetNum(0, 1, "AI", "RTD-Temperature", "Excitation"), 3);
    EXPECT_NE(lastCall().find(" 10000"), std::string::npos);  // the list count's large buffer
    char sEntry[64] = {0};
    EXPECT_EQ(QUENO_ChanProp_GetEntry(0, 1, "AI", "RTD-Temperature", "Excitation", 0, sEntry, sizeof(sEntry)), 0);
    EXPECT_STREQ(sEntry, "0.250000 mA");
}

TEST_F(BoardQueriesTest, LongNamesAreSentCutTo255Characters) {
    std::string sSeen;
    fake().onGetXml = [&sSeen](const char*, const char* sQuery, char* sBuffer, uint32_t) {
        sSeen = sQuery;
        strcpy(sBuffer, "1");
        return 0;
    };
    const std::string sLong(400, 'x');
    EXPECT_EQ(QUENO_ChanProp_GetNum(0, 1, "AI", sLong.c_str(), "Range"), 1);
    EXPECT_EQ(sSeen.size(), 255u);
    EXPECT_EQ(sSeen.compare(0, 45, "count(ChannelProperties/AI1/Mode[@Mode='xxxxx"), 0);
    char sBuffer[8];
    QUENO_ChanProp_GetEntry(0, 1, sLong.c_str(), "M", "L", 0, sBuffer, sizeof(sBuffer));
    EXPECT_EQ(sSeen.size(), 255u);
}

TEST_F(BoardQueriesTest, MaxARefTakesTheFirstModelThatPrefixesTheName) {
    fake().structAnswers["BoardID0|BoardName"] = FakeAnswer{0, "QUENO-1600-UNIV", true};
    const char* const sModels[] = {"QUENO-1600", "QUENO-1600-UNIV", nullptr};
    const double dValues[] = {10.0, 20.0};
    EXPECT_EQ(GetMaxARef(99, "BoardID0", sModels, dValues), 10.0);
    EXPECT_EQ(lastCall(), "GetParamStruct_str BoardID0 BoardName 256");

    const char* const sLonger[] = {"QUENO-1600-UNIV-R2", nullptr};  // longer than the name: no match
    EXPECT_EQ(GetMaxARef(0, "BoardID0", sLonger, dValues), 0.0);
    const char* const sEmpty[] = {nullptr};
    fake().calls.clear();
    EXPECT_EQ(GetMaxARef(0, "BoardID0", sEmpty, dValues), 0.0);

    // A failed read leaves the empty name: only an empty entry matches it.
    fake().structAnswers["BoardID0|BoardName"] = FakeAnswer{1002, "", false};
    const char* const sWithEmpty[] = {"QUENO", "", nullptr};
    CaptureStderr();
    EXPECT_EQ(GetMaxARef(0, "BoardID0", sModels, dValues), 0.0);
    EXPECT_EQ(GetMaxARef(0, "BoardID0", sWithEmpty, dValues), 20.0);
    EXPECT_EQ(GetCapturedStderr(), "\nError: text of 1002\n\nError: text of 1002\n");
}

}  // namespace
