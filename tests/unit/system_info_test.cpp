#include "system_info.h"

#include <string.h>

#include <string>

#include "adapter_table.h"
#include "fake_driver.h"

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

namespace {

class ApiPathTest : public FakeDriverTest {
protected:
    void path(const std::string& sNode, const std::string& sText) {
        fake().lengths["System/" + sNode + "|Path"] = static_cast<uint32_t>(sText.size());
        fake().structAnswers["System/" + sNode + "|Path"] = FakeAnswer{0, sText, true};
    }
};

TEST_F(ApiPathTest, KeysMapToTheSystemNodes) {
    const char* kNodes[] = {"config", "log", "systemxml", "testresults", "backup"};
    for (int i = 0; i < 5; ++i) path(kNodes[i], std::string("/p/") + kNodes[i]);
    for (int i = 0; i < 5; ++i) {
        char sBuffer[64] = {0};
        EXPECT_EQ(GetApiPath(i, sBuffer, sizeof(sBuffer)), 0);
        EXPECT_EQ(std::string(sBuffer), std::string("/p/") + kNodes[i]);
    }
}

TEST_F(ApiPathTest, UnknownKeysAskNothing) {
    char sBuffer[8] = "keep";
    EXPECT_EQ(GetApiPath(5, sBuffer, sizeof(sBuffer)), 100007);
    EXPECT_EQ(GetApiPath(-1, sBuffer, sizeof(sBuffer)), 100007);
    EXPECT_TRUE(fake().calls.empty());
    EXPECT_STREQ(sBuffer, "keep");
}

TEST_F(ApiPathTest, BufferSizeBoundaries) {
    path("log", "/var/log");  // 8 characters
    char sBuffer[16];
    memset(sBuffer, '#', sizeof(sBuffer));
    EXPECT_EQ(GetApiPath(1, sBuffer, 8), 230001);  // no room for the terminator
    EXPECT_EQ(sBuffer[0], '#');
    EXPECT_EQ(GetApiPath(1, sBuffer, 0), 230001);
    EXPECT_EQ(GetApiPath(1, sBuffer, 9), 0);
    EXPECT_STREQ(sBuffer, "/var/log");
    EXPECT_EQ(fake().calls.back(), "GetParamStruct_str System/log Path 9");  // exactly the text and its zero

    fake().lengths["System/log|Path"] = UINT32_MAX;  // a length that would wrap when one is added
    EXPECT_EQ(GetApiPath(1, sBuffer, UINT32_MAX), 230001);
}

TEST_F(ApiPathTest, FailedLengthQueryAndFailedRead) {
    CaptureStderr();
    char sBuffer[16] = {0};
    EXPECT_EQ(GetApiPath(0, sBuffer, sizeof(sBuffer)), 100007);  // the fake has no length: 1021
    EXPECT_EQ(GetCapturedStderr(), "\nError: text of 1021\n");

    fake().lengths["System/backup|Path"] = 4;
    fake().structAnswers["System/backup|Path"] = FakeAnswer{1030, "", false};
    CaptureStderr();
    EXPECT_EQ(GetApiPath(4, sBuffer, sizeof(sBuffer)), 0);  // only the message tells
    EXPECT_EQ(GetCapturedStderr(), "\nError: text of 1030\n");
}

class NetworkTest : public FakeDriverTest {};

TEST_F(NetworkTest, PrintsTheEnumeration) {
    fake().structAnswers["quenoetapi|Network/Enumerate"] = FakeAnswer{0, "<n><i>lo</i></n>", true};
    CaptureStdout();
    EXPECT_EQ(ListNetworkInterfaces(), 0);
    EXPECT_EQ(GetCapturedStdout(), "<n>\n  <i>\n    lo\n  </i>\n  </n>\n");
    EXPECT_EQ(fake().calls[0], "GetParamStruct_str quenoetapi Network/Enumerate 10000");
}

TEST_F(NetworkTest, FailedOrUnterminatedAnswersStayInsideTheBuffer) {
    fake().structAnswers["quenoetapi|Network/Enumerate"] = FakeAnswer{1030, "", false};
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(ListNetworkInterfaces(), 0);
    EXPECT_EQ(GetCapturedStdout(), "");  // nothing was written: an empty text
    EXPECT_EQ(GetCapturedStderr(), "\nError: text of 1030\n");

    fake().onGetStruct = [](const char*, const char*, char* sBuffer, uint32_t nSize) {
        memset(sBuffer, 'x', nSize);  // all 10000 bytes, no terminator
        return 0;
    };
    CaptureStdout();
    ListNetworkInterfaces();
    EXPECT_EQ(GetCapturedStdout(), std::string(10000, 'x'));
}

TEST(AdapterTable, KnownAdapters) {
    EXPECT_EQ(RUK_GetMinRange("RUK2-B2"), -100000.0);
    EXPECT_EQ(RUK_GetMaxRange("RUK2-B2"), 100000.0);
    EXPECT_STREQ(RUK_GetMaxRangeUnit("RUK2-B2"), "pC");
    EXPECT_EQ(RUK_GetMinRange("RUK2-C2"), -10.0);
    EXPECT_EQ(RUK_GetMaxRange("RUK2-C2"), 10.0);
    EXPECT_STREQ(RUK_GetMinRangeUnit("RUK2-C2"), "mV/V");
    for (const RukAdapter& adapter : sRukAdapterTable) {
        EXPECT_EQ(RUK_GetMinRange(adapter.sModel), -RUK_GetMaxRange(adapter.sModel)) << adapter.sModel;
    }
    EXPECT_EQ(RUK_GetMaxRange("RUK-A1"), 10000.0);
    EXPECT_EQ(RUK_GetMaxRange("RUK2-D1"), 1000.0);
}

TEST(AdapterTable, UnknownNamesGetTheDefaults) {
    for (const char* sName : {"ruk2-b2", " RUK2-B2", "RUK2-B2 ", "RUK2", "", "RUK2-B", "RUK2-B22"}) {
        EXPECT_EQ(RUK_GetMinRange(sName), 0.0) << sName;
        EXPECT_EQ(RUK_GetMaxRange(sName), 0.0) << sName;
        ASSERT_NE(RUK_GetMaxRangeUnit(sName), nullptr);
        EXPECT_STREQ(RUK_GetMaxRangeUnit(sName), "") << sName;
        EXPECT_EQ(RUK_GetMinRangeUnit(sName), RUK_GetMaxRangeUnit(sName));
    }
    EXPECT_EQ(RUK_GetMinRangeUnit("RUK-A2"), RUK_GetMaxRangeUnit("RUK-A2"));
}

}  // namespace
