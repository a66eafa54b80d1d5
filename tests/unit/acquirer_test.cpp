// The acquisition's queue-full path against the fake driver: a queue of 8 scans meets batches of
// 20 numbered scans. The scans it cannot take are counted exactly, the gap record sits at the
// exact queue position, and no scan is queued twice.
#include <stdint.h>

#include <vector>

#include "acquirer.h"
#include "fake_driver.h"
#include "kivo_codes.h"

namespace {

using namespace qlog;

class AcquirerTest : public FakeDriverTest {};

TEST_F(AcquirerTest, AFullQueueDropsExactlyAndPlacesTheGap) {
    // A ring of 64 one-word scans holding its index in the sample's upper 24 bits.
    std::vector<int32_t> ring(64);
    for (size_t i = 0; i < ring.size(); ++i) ring[i] = static_cast<int32_t>(i << 8);
    const int64_t nBegin = static_cast<int64_t>(reinterpret_cast<uintptr_t>(ring.data()));
    fake().getValues[ParamBufferEnd] = nBegin + 64 * 4;
    fake().getValues[ParamBufferSize] = 64 * 4;
    fake().getValues[ParamAvailableSamples] = 20;

    BoardSetup board;
    board.channels.resize(1);
    board.nScanSize = 4;
    board.dRate = 1000;
    ScanQueue queue(8, 1);
    Acquirer acquirer(board, &queue, UINT64_MAX);
    ASSERT_EQ(acquirer.start(), 0);

    std::vector<int32_t> taken;
    for (int nPoll = 0; nPoll < 3; ++nPoll) {
        fake().getValues[ParamReadPosition] = nBegin + nPoll * 20 * 4;  // the driver moves on by what was released
        ASSERT_TRUE(acquirer.poll());
        while (queue.readable() > 0) {  // the writer takes what is there
            taken.push_back(*queue.readSlot());
            queue.consume(1);
        }
    }
    acquirer.finish();
    // Each poll queues 8 of its 20 scans; the 12 after them are lost.
    EXPECT_EQ(taken, (std::vector<int32_t>{0, 1, 2, 3, 4, 5, 6, 7, 20, 21, 22, 23, 24, 25, 26, 27, 40, 41, 42, 43, 44, 45, 46, 47}));
    for (uint64_t nGap = 0; nGap < 3; ++nGap) {
        GapRecord gap;
        ASSERT_TRUE(queue.peekGap(&gap)) << nGap;
        EXPECT_EQ(gap.nQueuedBefore, 8 * (nGap + 1));
        EXPECT_EQ(gap.nNextScan, 20 * (nGap + 1));
        EXPECT_EQ(gap.nLost, 12u);
        EXPECT_EQ(gap.cause, GapCause::QueueFull);
        queue.popGap();
    }
    GapRecord none;
    EXPECT_FALSE(queue.peekGap(&none));
}

}  // namespace
