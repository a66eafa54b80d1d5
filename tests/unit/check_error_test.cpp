#include <string>

#include "fake_driver.h"
#include "kivo_api.h"

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

namespace {

std::string report(int32_t nResult, int32_t* pnReturned) {
    CaptureStderr();
    *pnReturned = CheckError(nResult);
    return GetCapturedStderr();
}

class CheckErrorTest : public FakeDriverTest {};

TEST_F(CheckErrorTest, TellsErrorsFromWarningsAndSuccess) {
    int32_t n = -9;
    EXPECT_EQ(report(0, &n), "");
    EXPECT_EQ(n, 0);
    EXPECT_TRUE(fake().calls.empty());  // success asks the driver for nothing

    EXPECT_EQ(report(-1, &n), "\nError: text of -1\n");
    EXPECT_EQ(n, 0);
    EXPECT_EQ(report(1, &n), "\nError: text of 1\n");
    EXPECT_EQ(n, 1);
    EXPECT_EQ(report(1794, &n), "\nError: text of 1794\n");
    EXPECT_EQ(n, 1);
}

TEST_F(CheckErrorTest, SurvivesANullTextFromTheDriver) {
    fake().bNullErrorText = true;
    int32_t n = 0;
    EXPECT_EQ(report(1003, &n), "\nError: driver result 1003 (no text available)\n");
    EXPECT_EQ(n, 1);
}

TEST(CheckErrorUnloaded, SurvivesAMissingDriver) {
    KiVoPxiUnload();
    int32_t n = 0;
    EXPECT_EQ(report(-7, &n), "\nError: driver result -7 (no text available)\n");
    EXPECT_EQ(n, 0);
}

TEST(UnloadQuenoApi, PrintsTheMessageUnchangedAndUnloads) {
    installFakeDriver();
    CaptureStderr();
    EXPECT_EQ(UnloadQuenoApi("bye"), 0);
    EXPECT_EQ(GetCapturedStderr(), "bye");
    EXPECT_EQ(KiVoGetParamStruct_str, nullptr);  // table cleared
    // Nothing was loaded (level 0), so the driver was not de-initialised.
    EXPECT_TRUE(fakeDriver().calls.empty());

    CaptureStderr();
    EXPECT_EQ(UnloadQuenoApi(nullptr), 0);
    EXPECT_EQ(UnloadQuenoApi(""), 0);
    EXPECT_EQ(GetCapturedStderr(), "");
}

}  // namespace
