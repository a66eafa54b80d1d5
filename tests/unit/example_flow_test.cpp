#include <stdint.h>
#include <string.h>

#include "args_helper.h"
#include "example.h"
#include "fake_driver.h"
#include "kivo_api.h"

namespace {

int32_t gReportedCount = 0;
int32_t reportCount(int32_t* pnCount) {
    *pnCount = gReportedCount;
    return 0;
}

class InitDriverTest : public FakeDriverTest {
protected:
    int32_t countFor(int32_t nReported) {
        gReportedCount = nReported;
        KiVoDriverInit = reportCount;
        RunState run = {};
        InitDriver(&run);
        return run.nBoardCount;
    }
};

TEST_F(InitDriverTest, UsesTheMagnitudeOfTheBoardCount) {
    EXPECT_EQ(countFor(2), 2);
    EXPECT_EQ(countFor(-3), 3);
    EXPECT_EQ(countFor(0), 0);
    EXPECT_EQ(countFor(INT32_MIN), INT32_MAX);  // its magnitude does not fit: no overflow
}

TEST(SelectBoard, FormatsThePathOrTheRejection) {
    RunState run = {};
    run.nBoardCount = 3;
    Args accepted{"prog", "2"};
    EXPECT_EQ(SelectBoard(accepted.argc(), accepted.argv(), &run), 1);
    EXPECT_STREQ(run.sBoardPath, "BoardID2");
    EXPECT_STREQ(run.sErrorText, "");

    Args rejected{"prog", "7"};
    EXPECT_EQ(SelectBoard(rejected.argc(), rejected.argv(), &run), 0);
    EXPECT_STREQ(run.sErrorText, "Invalid BoardId: 7\nNumber of found boards: 3");  // no newline at the end
}

TEST(SelectChannel, RejectionMessage) {
    RunState run = {};
    Args args{"prog", "0", "8"};
    EXPECT_EQ(SelectChannel(args.argc(), args.argv(), &run), 0);
    EXPECT_STREQ(run.sErrorText, "Invalid Channel Number: Allowed channel numbers are from [0..7]\n");
    EXPECT_EQ(strlen(run.sErrorText), 64u);
}

}  // namespace
