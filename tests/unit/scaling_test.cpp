#include "scaling.h"

#include <math.h>
#include <stdint.h>
#include <string.h>

#include "fake_driver.h"

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

namespace {

TEST(CalcScaling, MapsFullScaleToTheRangeEnds) {
    ScaleInfo info = {};
    EXPECT_EQ(CalcScaling(&info, 24, -100.0, 200.0), 0);
    EXPECT_DOUBLE_EQ(info.span, 300.0);
    EXPECT_DOUBLE_EQ(info.halfSpan, 150.0);
    EXPECT_DOUBLE_EQ(info.offset, -50.0);
    EXPECT_DOUBLE_EQ(info.scale, 150.0 / 8388607.0);
    auto value = [&](int32_t nSample) { return fma(static_cast<double>(nSample), info.scale, -info.offset); };
    EXPECT_NEAR(value(8388607), 200.0, 1e-9);
    EXPECT_NEAR(value(-8388607), -100.0, 1e-9);
    EXPECT_DOUBLE_EQ(value(0), 50.0);
}

TEST(CalcScaling, DivisorFollowsTheResolution) {
    ScaleInfo info = {};
    struct {
        int nResolution;
        double dDivisor;
    } cases[] = {{16, 32767.0}, {24, 8388607.0}, {32, 4294967295.0}, {12, 4294967295.0}, {0, 4294967295.0}};
    for (const auto& c : cases) {
        CalcScaling(&info, c.nResolution, -1.0, 1.0);
        EXPECT_DOUBLE_EQ(info.scale, 1.0 / c.dDivisor) << c.nResolution;
    }
}

TEST(CalcScaling, UsesTheRangeWithoutChecks) {
    ScaleInfo info = {};
    CalcScaling(&info, 24, 5.0, -5.0);  // reversed: negative span and scale
    EXPECT_LT(info.scale, 0.0);
    EXPECT_DOUBLE_EQ(info.offset, 0.0);
    CalcScaling(&info, 24, 0.0, 0.0);  // a failed range read: everything scales to 0
    EXPECT_EQ(info.scale, 0.0);
    EXPECT_EQ(info.offset, 0.0);
}

TEST(FormatRawData, SignExtendsTheLow24Bits) {
    EXPECT_EQ(static_cast<uint32_t>(formatRawData(0x00800000, 24, 0)), 0xFF800000u);
    EXPECT_EQ(formatRawData(0x7F7FFFFF, 24, 0), 0x007FFFFF);
    EXPECT_EQ(formatRawData(0x12345678, 24, 0), 0x00345678);
    EXPECT_EQ(formatRawData(static_cast<int32_t>(0xFFFFFFFFu), 24, 0), -1);
}

TEST(FormatRawData, ShiftRoundsTowardZero) {
    EXPECT_EQ(formatRawData(static_cast<int32_t>(0xFFFFFF00u), 24, 8), -1);
    EXPECT_EQ(formatRawData(0x00000100, 24, 8), 1);
    EXPECT_EQ(formatRawData(0x12345600, 24, 8), 0x123456);
    EXPECT_EQ(formatRawData(-1, 24, 8), 0);
    EXPECT_EQ(formatRawData(-255, 24, 8), 0);
    EXPECT_EQ(formatRawData(-256, 24, 8), -1);
    EXPECT_EQ(formatRawData(-257, 24, 8), -1);
    EXPECT_EQ(formatRawData(INT32_MIN, 24, 8), -8388608);
    EXPECT_EQ(formatRawData(INT32_MIN, 24, 31), -1);
    EXPECT_EQ(formatRawData(INT32_MAX, 24, 1), 0x3FFFFFFF);
}

// The block form gives each word what the word-by-word form gives, for every resolution and shift.
TEST(FormatRawData, ABlockAgreesWordByWord) {
    std::vector<int32_t> words = {0, 1, -1, 255, -255, 256, -256, -257, INT32_MIN, INT32_MAX, INT32_MIN + 1};
    uint32_t nState = 12345;
    for (int i = 0; i < 200; ++i) words.push_back(static_cast<int32_t>(nState = nState * 1664525u + 1013904223u));
    for (int nResolution : {16, 24}) {
        for (int nShift = -1; nShift <= 40; ++nShift) {
            std::vector<int32_t> block = words;
            formatRawBlock(block.data(), block.size(), nResolution, nShift);
            for (size_t i = 0; i < words.size(); ++i) {
                ASSERT_EQ(block[i], formatRawData(words[i], nResolution, nShift)) << words[i] << " >> " << nShift;
            }
        }
    }
}

TEST(FormatRawData, OutOfRangeShiftsHaveDefinedResults) {
    for (int nShift : {32, 33, 100, 255, 256, 1000, INT32_MAX}) {
        EXPECT_EQ(formatRawData(INT32_MIN, 24, nShift), 0) << nShift;
        EXPECT_EQ(formatRawData(INT32_MAX, 24, nShift), 0) << nShift;
    }
    // A negative shift is no division: the word comes back unchanged.
    EXPECT_EQ(formatRawData(0x12345678, 24, -1), 0x12345678);
    EXPECT_EQ(formatRawData(INT32_MIN, 24, INT32_MIN), INT32_MIN);
}

TEST(FormatRawData, OtherResolutionsPassTheWordThrough) {
    for (int32_t nWord : {0, -1, INT32_MIN, 0x00800000, 0x12345678}) {
        EXPECT_EQ(formatRawData(nWord, 16, 0), nWord);
        EXPECT_EQ(formatRawData(nWord, 16, 8), nWord);
        EXPECT_EQ(formatRawData(nWord, 32, 8), nWord);
    }
}

TEST(DblStr2Dbl, ReadsTheLeadingNumber) {
    EXPECT_EQ(DblStr2Dbl(""), 0.0);
    EXPECT_EQ(DblStr2Dbl("abc"), 0.0);
    EXPECT_EQ(DblStr2Dbl("  -1.5e3 V"), -1500.0);
    EXPECT_EQ(DblStr2Dbl("600 Ohm"), 600.0);
    EXPECT_EQ(DblStr2Dbl(nullptr), 0.0);
}

class RangeTest : public FakeDriverTest {
protected:
    void range(const std::string& sText, int32_t nResult = 0, bool bWrite = true) {
        fake().structAnswers["BoardID0/AI3|Range"] = FakeAnswer{nResult, sText, bWrite};
    }
    int32_t read(double* pdRange) {
        CaptureStderr();
        int32_t nResult = GetAdjustedRange("BoardID0/AI3", pdRange);
        sErr = GetCapturedStderr();
        return nResult;
    }
    std::string sErr;
};

TEST_F(RangeTest, ReadsMinimumAndMaximum) {
    struct {
        const char* sText;
        double dMin, dMax;
    } cases[] = {{"-100.000000..200.000000 degC", -100.0, 200.0},
                 {"10", -10.0, 10.0},
                 {"5..", -5.0, 5.0},
                 {"..5", 0.0, 5.0},
                 {"2.5 V", -2.5, 2.5},
                 {"1..2..3", 1.0, 2.0},
                 {"abc..def", 0.0, 0.0}};
    for (const auto& c : cases) {
        range(c.sText);
        double dRange[2] = {99, 99};
        EXPECT_EQ(read(dRange), 0) << c.sText;
        EXPECT_EQ(dRange[0], c.dMin) << c.sText;
        EXPECT_EQ(dRange[1], c.dMax) << c.sText;
    }
    ASSERT_FALSE(fake().calls.empty());
    EXPECT_EQ(fake().calls[0], "GetParamStruct_str BoardID0/AI3 Range 48");
}

TEST_F(RangeTest, FailedReadGivesTheEmptyRangeAndIsReported) {
    range("", 1021, false);
    double dRange[2] = {99, 99};
    EXPECT_EQ(read(dRange), 0);
    EXPECT_EQ(sErr, "\nError: text of 1021\n");
    EXPECT_EQ(dRange[0], 0.0);
    EXPECT_TRUE(signbit(dRange[0]));  // -0.0
    EXPECT_EQ(dRange[1], 0.0);
    EXPECT_FALSE(signbit(dRange[1]));
}

TEST_F(RangeTest, UnterminatedTextIsNotReadPastTheBuffer) {
    fake().onGetStruct = [](const char*, const char*, char* sBuffer, uint32_t nSize) {
        memset(sBuffer, '7', nSize);  // 48 digits and no terminator
        return 0;
    };
    double dRange[2] = {0, 0};
    EXPECT_EQ(read(dRange), 0);
    EXPECT_DOUBLE_EQ(dRange[1], 7.777777777777777e47);
    EXPECT_DOUBLE_EQ(dRange[0], -dRange[1]);
}

class SetScalingTest : public FakeDriverTest {};

TEST_F(SetScalingTest, ReadsScaleThenOffsetIntoOneBuffer) {
    fake().structAnswers["BoardID1/AI0|scalevalue"] = FakeAnswer{0, "0.25", true};
    fake().structAnswers["BoardID1/AI0|scaleoffset"] = FakeAnswer{0, "-3.5", true};
    ScaleInfo info = {1, 2, 3, 4};
    EXPECT_EQ(SetScaling(&info, "BoardID1/AI0"), 0);
    EXPECT_EQ(info.scale, 0.25);
    EXPECT_EQ(info.offset, -3.5);
    EXPECT_EQ(info.halfSpan, 3.0);  // left as they were
    EXPECT_EQ(info.span, 4.0);
    EXPECT_EQ(fake().calls, (std::vector<std::string>{"GetParamStruct_str BoardID1/AI0 scalevalue 256",
                                                      "GetParamStruct_str BoardID1/AI0 scaleoffset 256"}));
}

TEST_F(SetScalingTest, FailedOffsetReadParsesWhatTheScaleReadLeft) {
    fake().structAnswers["BoardID1/AI0|scalevalue"] = FakeAnswer{0, "0.5", true};
    fake().structAnswers["BoardID1/AI0|scaleoffset"] = FakeAnswer{1025, "", false};
    ScaleInfo info = {};
    CaptureStderr();
    EXPECT_EQ(SetScaling(&info, "BoardID1/AI0"), 1025);
    EXPECT_EQ(GetCapturedStderr(), "\nError: text of 1025\n");
    EXPECT_EQ(info.offset, 0.5);

    // A failed first read is only reported.
    fake().structAnswers["BoardID1/AI0|scalevalue"] = FakeAnswer{-7, "", false};
    fake().structAnswers["BoardID1/AI0|scaleoffset"] = FakeAnswer{0, "2", true};
    CaptureStderr();
    EXPECT_EQ(SetScaling(&info, "BoardID1/AI0"), 0);
    EXPECT_EQ(GetCapturedStderr(), "\nError: text of -7\n");
    EXPECT_EQ(info.scale, 0.0);
    EXPECT_EQ(info.offset, 2.0);
}

}  // namespace
