// The acquisition's queue-full path against the fake driver: a queue of 8 scans meets batches of
// 20 numbered scans. The scans it cannot take are counted exactly, the gap record sits at the
// exact queue position, and no scan is queued twice.
#include <stdint.h>

#include <vector>

#include "acquirer.h"
#include "scan_clock.h"
#include "fake_driver.h"
#include "kivo_codes.h"

namespace {

using namespace qacq;

class AcquirerTest : public FakeDriverTest {};

// What the acquisition says, kept.
struct Kept : MessageSink {
    void say(const std::string& sText, int32_t) override { said.push_back(sText); }
    std::vector<std::string> said;
};

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
    Kept messages;
    Acquirer acquirer(board, &queue, UINT64_MAX, messages);
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

// Rates as drivers state them, kept exact; what is no rate is refused.
TEST(ScanRate, DecimalsAreExactFractions) {
    struct Case {
        const char* sText;
        uint64_t nNumerator, nDenominator;  // 0, 0: refused
        const char* sCanonical;
    };
    const Case kCases[] = {
        {"1000", 1000, 1, "1000"},          {"1000.000000", 1000, 1, "1000"},   {"333.3333333", 3333333333, 10000000, "333.3333333"},
        {"0.5", 1, 2, "0.5"},               {"1e3", 1000, 1, "1000"},           {"2.5E-1", 1, 4, "0.25"},
        {"100000", 100000, 1, "100000"},    {"0.001", 1, 1000, "0.001"},        {"12.345678901234567", 12345678901234567, 1000000000000000, nullptr},
        {"", 0, 0, nullptr},                {"-5", 0, 0, nullptr},              {"0", 0, 0, nullptr},
        {"1e30", 0, 0, nullptr},            {"abc", 0, 0, nullptr},             {"5 S/s", 0, 0, nullptr},
        {"1.2.3", 0, 0, nullptr},           {"1234567890123456789", 0, 0, nullptr},
    };
    for (const Case& c : kCases) {
        ScanRate rate;
        const bool bOk = parseScanRate(c.sText, &rate);
        // More than twelve decimals cannot be timed in whole microseconds exactly: refused too.
        const bool bExpected = c.nDenominator != 0 && c.nDenominator <= 1000000000000ull;
        EXPECT_EQ(bOk, bExpected) << c.sText;
        if (!bOk || !bExpected) continue;
        EXPECT_EQ(rate.nNumerator, c.nNumerator) << c.sText;
        EXPECT_EQ(rate.nDenominator, c.nDenominator) << c.sText;
        EXPECT_EQ(rate.sText, c.sCanonical) << c.sText;
    }
    EXPECT_EQ(scanRateOf(333.3333333).sText, "333.3333333");
}

// The time of scan n is start + (delay + n) / rate, exactly (rounded down to the microsecond), for
// rates whose period is no whole microsecond, over a day and up to 2^40 scans. The expected times
// are exact rational arithmetic, done once outside this program.
TEST(ScanClock, ExactOverADayAndBeyond) {
    struct Case {
        const char* sRate;
        int64_t nMicros[6];  // scans 0, 1, 999, 28,800,000, 2^32, 2^40, each 4 held back
    };
    const Case kCases[] = {
        {"333.3333333", {12000, 15000, 3009000, 86400012008, 12884901901288, 3298534883669853}},
        {"0.5", {8000000, 10000000, 2006000000, 57600008000000, 8589934600000000, 2199023255560000000}},
        {"20000", {200, 250, 50150, 1440000200, 214748365000, 54975581389000}},
        {"99999.999", {40, 50, 10030, 288000042, 42949673429, 10995116387751}},
    };
    const uint64_t kScans[6] = {0, 1, 999, 28800000, uint64_t{1} << 32, uint64_t{1} << 40};
    for (const Case& c : kCases) {
        ScanRate rate;
        ASSERT_TRUE(parseScanRate(c.sRate, &rate)) << c.sRate;
        const int64_t nStart = 1765000000000000;
        const ScanClock clock(nStart, 4, rate);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(clock.micros(kScans[i]) - nStart, c.nMicros[i]) << c.sRate << " scan " << kScans[i];
    }
    // A day at 333.3333333 S/s: the clock of the rate rounded to 0.001 S/s would be 83 ms late.
    ScanRate rate;
    ASSERT_TRUE(parseScanRate("333.3333333", &rate));
    const ScanClock clock(0, 0, rate);
    EXPECT_EQ(clock.micros(28800000), 86400000008);  // 28,800,000 scans take 86400.0000086 s
    EXPECT_EQ(mulDivFloor(UINT64_MAX, UINT64_MAX, UINT64_MAX), UINT64_MAX);
    EXPECT_EQ(mulDivFloor(uint64_t{1} << 40, 1000000000000000000ull, 1ull << 50), 976562500000000ull);
}

}  // namespace
