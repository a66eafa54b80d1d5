#include "board_model.h"

#include <string.h>

#include <string>

#include "fake_driver.h"

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

namespace {

const char* const kModels[] = {"QUENO-1600-UNIV", nullptr};

class TestBoardTypeTest : public FakeDriverTest {
protected:
    int run(int32_t nBoardId, const char* const* sModels) {
        CaptureStdout();
        CaptureStderr();
        int nResult = TestBoardType(nBoardId, sModels);
        sOut = GetCapturedStdout();
        sErr = GetCapturedStderr();
        return nResult;
    }
    void name(const std::string& sTarget, const std::string& sName, int32_t nResult = 0) {
        fake().structAnswers[sTarget + "|BoardName"] = FakeAnswer{nResult, sName, true};
    }
    std::string sOut, sErr;
};

TEST_F(TestBoardTypeTest, AcceptsTheModelAndItsVariants) {
    name("BoardID0", "QUENO-1600-UNIV");
    EXPECT_EQ(run(0, kModels), 1);
    EXPECT_EQ(sErr, "Found a QUENO-1600-UNIV board with BoardID 0\n");
    EXPECT_EQ(sOut, "");
    ASSERT_EQ(fake().calls.size(), 1u);
    EXPECT_EQ(fake().calls[0], "GetParamStruct_str BoardID0 BoardName 256");

    name("BoardID3", "QUENO-1600-UNIV-R2");
    EXPECT_EQ(run(3, kModels), 1);
    EXPECT_EQ(sErr, "Found a QUENO-1600-UNIV-R2 board with BoardID 3\n");
}

TEST_F(TestBoardTypeTest, RejectsOtherModelsAndListsTheRequiredOnes) {
    name("BoardID1", "QUENO-1600");  // a prefix of the model is not the model
    const char* const sTwo[] = {"QUENO-1600-UNIV", "QUENO-2000", nullptr};
    EXPECT_EQ(run(1, sTwo), 0);
    EXPECT_EQ(sErr,
              "BoardID 1 (Boardname: QUENO-1600) is not any of the required boards.\n"
              "List of possible boards for this example:\n");
    EXPECT_EQ(sOut, "  QUENO-1600-UNIV\n  QUENO-2000\n");
}

TEST_F(TestBoardTypeTest, EmptyListMatchesNothingAndEmptyEntryMatchesAll) {
    name("BoardID0", "ANY");
    const char* const sEmpty[] = {nullptr};
    EXPECT_EQ(run(0, sEmpty), 0);
    EXPECT_EQ(sOut, "");
    EXPECT_EQ(run(0, nullptr), 0);
    const char* const sAll[] = {"", nullptr};
    EXPECT_EQ(run(0, sAll), 1);
}

TEST_F(TestBoardTypeTest, FailedNameReadPrintsOnlyTheDriverText) {
    name("BoardID0", "QUENO-1600-UNIV", 1002);
    EXPECT_EQ(run(0, kModels), 0);
    EXPECT_EQ(sErr, "\nError: text of 1002\n");
    EXPECT_EQ(sOut, "");

    name("BoardID0", "QUENO-1600-UNIV", -5);  // a warning fails the check as well
    EXPECT_EQ(run(0, kModels), 0);
    EXPECT_EQ(sErr, "\nError: text of -5\n");
}

TEST_F(TestBoardTypeTest, UnterminatedNameIsNotReadPastTheBuffer) {
    fake().onGetStruct = [](const char*, const char*, char* sBuffer, uint32_t nSize) {
        memset(sBuffer, 'Q', nSize);  // no terminator within the size
        return 0;
    };
    const char* const sOther[] = {"X", nullptr};
    EXPECT_EQ(run(0, sOther), 0);
    EXPECT_NE(sErr.find("(Boardname: " + std::string(256, 'Q') + ")"), std::string::npos);
}

}  // namespace
