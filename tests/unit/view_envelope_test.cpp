// The live view's envelope: every sample lands in its column's minimum and maximum at every
// width, samples at a limit are no measurement, a gap publishes what was open, and a viewer that
// fell behind the ring gets all of it again.
#include <gtest/gtest.h>

#include <math.h>

#include <string>
#include <vector>

#include "view_envelope.h"

namespace qlog {
namespace {

BoardSetup boardAt(double dRate) {
    BoardSetup board;
    board.dRate = dRate;
    board.nFullScale = 8388607;
    board.channels.resize(2);
    for (LoggedChannel& channel : board.channels) channel.scale = {1.0, 0.0, 0, 0};  // values are counts
    board.channels[1].nChannel = 1;
    return board;
}

// Numbers of the columns' JSON, row by row: [time, min0, max0, min1, max1]; null as NaN.
std::vector<std::vector<double>> parse(const std::string& s) {
    std::vector<std::vector<double>> rows;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '[' && i > 0) rows.emplace_back();
        if (rows.empty() || !(isdigit(static_cast<unsigned char>(s[i])) || s[i] == '-' || s[i] == 'n')) continue;
        if (s[i] == 'n') {
            rows.back().push_back(NAN);
            i += 3;
        } else {
            size_t n = 0;
            rows.back().push_back(std::stod(s.substr(i), &n));
            i += n - 1;
        }
    }
    return rows;
}

void addScans(ViewEnvelope* pView, uint64_t nFirst, const std::vector<int32_t>& counts) {
    RowBlock block;
    block.nFirstScan = nFirst;
    block.nRows = counts.size() / 2;
    block.pCounts = counts.data();
    pView->add(block);
}

TEST(ViewEnvelope, ColumnsHoldEverySpikeAtEveryWidth) {
    const BoardSetup board = boardAt(100000);  // 1000 scans a 10 ms column, 6000 a 60 ms one
    const ScanClock clock(0, 0, scanRateOf(100000));
    ViewEnvelope view(board, clock);
    std::vector<int32_t> counts;
    for (int32_t n = 0; n < 12000; ++n) {
        counts.push_back(n == 4321 ? 5000000 : 7);                     // one spike, one scan long
        counts.push_back(n == 9000 ? 8388607 : (n == 9001 ? -3 : 1));  // a sample at the limit
    }
    addScans(&view, 0, counts);
    view.end();
    uint64_t nLast = 0;
    bool bReset = false;
    const auto fine = parse(view.columnsJson(0, 0, &nLast, &bReset));
    ASSERT_EQ(fine.size(), 12u);
    EXPECT_TRUE(bReset);
    EXPECT_EQ(fine[4][2], 5000000);                      // the spike's column
    EXPECT_EQ(fine[3][2], 7);
    EXPECT_DOUBLE_EQ(fine[9][0], 0.09);                  // a column's time is its first scan's
    EXPECT_EQ(fine[9][3], -3);                           // the limit left out, the rest kept
    EXPECT_EQ(fine[9][4], 1);
    const auto coarse = parse(view.columnsJson(1, 0, &nLast, &bReset));
    ASSERT_EQ(coarse.size(), 2u);
    EXPECT_EQ(coarse[0][2], 5000000);
    EXPECT_EQ(coarse[1][2], 7);
    EXPECT_EQ(coarse[1][3], -3);
    EXPECT_TRUE(view.ended());
}

TEST(ViewEnvelope, ViewersGetWhatIsNewOrAllAgainWhenBehind) {
    const BoardSetup board = boardAt(100);  // a column per scan at the finest width
    ViewEnvelope view(board, ScanClock(0, 0, scanRateOf(100)));
    addScans(&view, 0, std::vector<int32_t>(2 * 10, 1));
    uint64_t nLast = 0;
    bool bReset = false;
    EXPECT_EQ(parse(view.columnsJson(0, 0, &nLast, &bReset)).size(), 9u);  // the tenth is still open
    addScans(&view, 10, std::vector<int32_t>(2 * 5, 2));
    const uint64_t nSeen = nLast;
    EXPECT_EQ(parse(view.columnsJson(0, nSeen, &nLast, &bReset)).size(), 5u);
    EXPECT_FALSE(bReset);
    addScans(&view, 15, std::vector<int32_t>(2 * 3 * ViewEnvelope::kRingColumns, 3));
    const auto all = parse(view.columnsJson(0, nSeen, &nLast, &bReset));
    EXPECT_TRUE(bReset);
    EXPECT_EQ(all.size(), ViewEnvelope::kRingColumns);

    GapRecord gap;
    gap.nNextScan = 5000;
    gap.nLost = 100;
    gap.cause = GapCause::QueueFull;
    view.addGap(gap);
    uint64_t nGaps = 0;
    const std::string sGaps = view.gapsJson(&nGaps);
    EXPECT_EQ(nGaps, 1u);
    EXPECT_NE(sGaps.find("\"from\":49.000000,\"to\":50.000000,\"lost\":100"), std::string::npos) << sGaps;
    EXPECT_NE(view.latestJson().find("\"AI1\":{\"value\":3,"), std::string::npos) << view.latestJson();
}

TEST(ViewEnvelope, MeansWithALimitAreNoMeasurement) {
    const BoardSetup board = boardAt(1000);  // 10 scans a column: one mean of 10 each
    ViewEnvelope view(board, ScanClock(0, 0, scanRateOf(1000)));
    const double means[] = {1.5, -2.25, 3.5, 4.0, 5.0, 6.0};
    const uint8_t limited[] = {0, 0, 0, 1, 0, 0};
    RowBlock block;
    block.nRows = 3;
    block.nScansPerRow = 10;
    block.pMeans = means;
    block.pLimited = limited;
    view.add(block);
    view.end();
    uint64_t nLast = 0;
    bool bReset = false;
    const auto columns = parse(view.columnsJson(0, 0, &nLast, &bReset));
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_EQ(columns[0][1], 1.5);
    EXPECT_EQ(columns[0][3], -2.25);
    EXPECT_TRUE(isnan(columns[1][3]));  // the only sample of that column was at a limit
    EXPECT_DOUBLE_EQ(columns[2][0], 0.02);
}

}  // namespace
}  // namespace qlog
