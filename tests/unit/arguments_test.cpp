#include "arguments.h"

#include <stdint.h>
#include <string.h>

#include <string>

#include "args_helper.h"
#include "gtest/gtest.h"

namespace {

struct BoardCase {
    const char* sArgument;
    int32_t nBoardCount;
    int nExpectedResult;
    int32_t nExpectedId;
};

// Names that read the same on every build: the argument spelt out, and the board count.
std::string caseName(const ::testing::TestParamInfo<BoardCase>& info) {
    std::string sName;
    for (const char* p = info.param.sArgument; *p != '\0'; ++p) {
        if (*p == '-') sName += "minus";
        else if (*p == '+') sName += "plus";
        else if (*p == ' ') sName += "_";
        else sName += *p;
    }
    return (sName.empty() ? "empty" : sName) + "_of_" + std::to_string(info.param.nBoardCount);
}

void PrintTo(const BoardCase& c, std::ostream* os) { *os << '"' << c.sArgument << "\" of " << c.nBoardCount; }

class BoardIdTest : public ::testing::TestWithParam<BoardCase> {};

TEST_P(BoardIdTest, ReadsAndBoundsTheBoardId) {
    const BoardCase& c = GetParam();
    Args args{"prog", c.sArgument};
    int32_t nBoardId = 0;
    EXPECT_EQ(ARG_GetBoardId(args.argc(), args.argv(), c.nBoardCount, &nBoardId), c.nExpectedResult);
    EXPECT_EQ(nBoardId, c.nExpectedId);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, BoardIdTest,
    ::testing::Values(BoardCase{"1", 2, 1, 1},                    // one below the count
                      BoardCase{"2", 2, 0, 2},                    // equal to the count
                      BoardCase{"-1", 2, 0, -1},                  // no board below 0
                      BoardCase{"3abc", 4, 1, 3},                 // trailing text ignored
                      BoardCase{"  +1", 2, 1, 1},                 // white space and sign
                      BoardCase{"abc", 2, 1, 0},                  // no number: the caller's 0 stays
                      BoardCase{"", 2, 1, 0},                     // empty: likewise
                      BoardCase{"99999999999", 2, 0, INT32_MAX},  // beyond 32 bits saturates
                      BoardCase{"-99999999999", 2, 0, INT32_MIN},
                      BoardCase{"4294967296", 2, 0, INT32_MAX}),  // not wrapped to 0
    caseName);

TEST(Arguments, NoBoardArgumentSelectsBoardZeroEvenWithoutBoards) {
    Args args{"prog"};
    int32_t nBoardId = 7;
    EXPECT_EQ(ARG_GetBoardId(args.argc(), args.argv(), 0, &nBoardId), 1);
    EXPECT_EQ(nBoardId, 0);
}

TEST(Arguments, UnreadableBoardKeepsTheCallersValue) {
    Args args{"prog", "x"};
    int32_t nBoardId = 5;
    EXPECT_EQ(ARG_GetBoardId(args.argc(), args.argv(), 3, &nBoardId), 0);  // 5 is not below 3
    EXPECT_EQ(nBoardId, 5);
}

TEST(Arguments, ChannelBounds) {
    struct {
        const char* sArgument;
        int nResult;
        uint32_t nChannel;
    } cases[] = {{"7", 1, 7},           {"8", 0, 8},           {"-1", 0, 4294967295u}, {"0", 1, 0},
                 {"5x", 1, 5},          {"", 1, 0},            {"99999999999", 0, 2147483647u},
                 {"-99999999999", 0, 2147483648u}};
    for (const auto& c : cases) {
        Args args{"prog", "0", c.sArgument};
        uint32_t nChannel = 0;
        EXPECT_EQ(ARG_GetChannelNo(args.argc(), args.argv(), 0, &nChannel), c.nResult) << c.sArgument;
        EXPECT_EQ(nChannel, c.nChannel) << c.sArgument;
    }
    Args onlyBoard{"prog", "1"};
    uint32_t nChannel = 9;
    EXPECT_EQ(ARG_GetChannelNo(onlyBoard.argc(), onlyBoard.argv(), 0, &nChannel), 1);
    EXPECT_EQ(nChannel, 0u);
}

TEST(Arguments, TwoBoards) {
    int32_t nFirst = -5, nSecond = -5;
    Args single{"prog", "3"};  // one board argument is ignored
    EXPECT_EQ(ARG_GetBoardIdEX(single.argc(), single.argv(), 2, &nFirst, &nSecond), 1);
    EXPECT_EQ(nFirst, 0);
    EXPECT_EQ(nSecond, 1);

    Args both{"prog", "1", "2"};
    EXPECT_EQ(ARG_GetBoardIdEX(both.argc(), both.argv(), 2, &nFirst, &nSecond), 0);
    EXPECT_EQ(nFirst, 1);  // both are read before either is compared
    EXPECT_EQ(nSecond, 2);
    EXPECT_EQ(ARG_GetBoardIdEX(both.argc(), both.argv(), 3, &nFirst, &nSecond), 1);

    Args negative{"prog", "0", "-1"};
    EXPECT_EQ(ARG_GetBoardIdEX(negative.argc(), negative.argv(), 3, &nFirst, &nSecond), 0);
}

TEST(Arguments, TwoChannels) {
    uint32_t nFirst = 99, nSecond = 99;
    Args none{"prog", "0"};
    EXPECT_EQ(ARG_GetChannelNoEX(none.argc(), none.argv(), 0, &nFirst, &nSecond), 1);
    EXPECT_EQ(nFirst, 0u);
    EXPECT_EQ(nSecond, 1u);

    Args one{"prog", "0", "5"};
    EXPECT_EQ(ARG_GetChannelNoEX(one.argc(), one.argv(), 0, &nFirst, &nSecond), 1);
    EXPECT_EQ(nFirst, 5u);
    EXPECT_EQ(nSecond, 0u);

    nSecond = 42;
    Args badFirst{"prog", "0", "9", "2"};
    EXPECT_EQ(ARG_GetChannelNoEX(badFirst.argc(), badFirst.argv(), 0, &nFirst, &nSecond), 0);
    EXPECT_EQ(nFirst, 9u);
    EXPECT_EQ(nSecond, 42u);  // not read

    Args badSecond{"prog", "0", "1", "8"};
    EXPECT_EQ(ARG_GetChannelNoEX(badSecond.argc(), badSecond.argv(), 0, &nFirst, &nSecond), 0);
    EXPECT_EQ(nSecond, 8u);

    Args badOnly{"prog", "0", "-1"};
    nSecond = 42;
    EXPECT_EQ(ARG_GetChannelNoEX(badOnly.argc(), badOnly.argv(), 0, &nFirst, &nSecond), 0);
    EXPECT_EQ(nSecond, 42u);
}

TEST(Arguments, OptionValueIsCopiedZeroFilledAndTerminated) {
    Args args{"prog", "-file", "x", "-rate", "1000"};
    char sDest[8];
    memset(sDest, '#', sizeof(sDest));
    EXPECT_EQ(ARG_GetOption(args.argc(), args.argv(), "-f", sDest, 6), 1);  // prefix match
    EXPECT_STREQ(sDest, "x");
    for (int i = 1; i < 6; ++i) EXPECT_EQ(sDest[i], '\0') << i;
    EXPECT_EQ(sDest[6], '#');  // nothing beyond the length

    memset(sDest, '#', sizeof(sDest));
    Args longValue{"prog", "-name", "ABCDEFGHIJ"};
    EXPECT_EQ(ARG_GetOption(longValue.argc(), longValue.argv(), "-name", sDest, 4), 1);
    EXPECT_STREQ(sDest, "ABC");  // cut, and terminated within the length
    EXPECT_EQ(sDest[4], '#');
}

TEST(Arguments, OptionWithoutValueOrLengthWritesNothing) {
    char sDest[4] = {'a', 'b', 'c', '\0'};
    Args last{"prog", "1", "-rate"};
    EXPECT_EQ(ARG_GetOption(last.argc(), last.argv(), "-rate", sDest, 4), 0);
    EXPECT_STREQ(sDest, "abc");

    Args args{"prog", "-rate", "5"};
    EXPECT_EQ(ARG_GetOption(args.argc(), args.argv(), "-rate", sDest, 0), 1);
    EXPECT_EQ(ARG_GetOption(args.argc(), args.argv(), "-rate", sDest, -3), 1);
    EXPECT_STREQ(sDest, "abc");
    EXPECT_EQ(ARG_GetOption(args.argc(), args.argv(), "-other", sDest, 4), 0);
    EXPECT_STREQ(sDest, "abc");

    Args none{"prog"};
    EXPECT_EQ(ARG_GetOption(none.argc(), none.argv(), "", sDest, 4), 0);
}

TEST(Arguments, EmptyOptionMatchesTheFirstArgument) {
    Args args{"prog", "first", "second"};
    char sDest[16] = {0};
    EXPECT_EQ(ARG_GetOption(args.argc(), args.argv(), "", sDest, sizeof(sDest)), 1);
    EXPECT_STREQ(sDest, "second");
}

TEST(Arguments, BooleanOption) {
    Args args{"prog", "0", "-verbose2"};
    EXPECT_EQ(ARG_GetBooleanOption(args.argc(), args.argv(), "-verbose"), 1);
    EXPECT_EQ(ARG_GetBooleanOption(args.argc(), args.argv(), "-quiet"), 0);
    Args none{"prog"};
    EXPECT_EQ(ARG_GetBooleanOption(none.argc(), none.argv(), ""), 0);
}

}  // namespace
