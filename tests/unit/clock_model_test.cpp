// A board's fitted clock against a known truth: a board whose clock runs off by some ppm, read at
// irregular moments with a latency that is never negative. The model's times must stay within a
// scan period of the truth, the bound it states must hold, and a restart must not carry one
// acquisition's line into the next.
#include <gtest/gtest.h>
#include <math.h>

#include "clock_model.h"

namespace qacq {
namespace {

struct Case {
    const char* sName;
    double dPpm;         // the board's clock against the host's
    double dMaxLatency;  // µs a reading may come after the scans it counts
    int nStallEvery;     // every n-th reading is 80 ms later still (0: never), as a busy reader's
    double dWithin;      // µs the model may be off the truth
};

// Deterministic jitter in [0, 1).
double jitter(uint64_t* pnState) {
    *pnState = *pnState * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(*pnState >> 11) / 9007199254740992.0;
}

TEST(ClockModel, FollowsABoardsClockWithinAScanAndKeepsItsBound) {
    const Case cases[] = {{"exact", 0, 3000, 0, 1000},
                          {"fast", 500, 20000, 0, 1000},
                          {"slow", -500, 20000, 0, 1000},
                          {"fast with a stalling reader", 250, 5000, 7, 1000},
                          {"at the limit, a third of the readings stalled", -1000, 30000, 3, 2000}};
    const double dRate = 1000;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sName);
        ClockModel model(dRate);
        const int64_t nStartUtc = 1700000000000000, nStartMono = 5000000;
        model.begin(0, nStartUtc, nStartMono);
        auto truth = [&](double dScan) { return dScan / (dRate * (1 + c.dPpm * 1e-6)) * 1e6; };  // µs after the start
        uint64_t nState = 7;
        double dWorst = 0;
        for (int i = 1; i <= 6000; ++i) {  // a reading every 10 ms or so for a minute
            const double dHost = i * 10000.0 + jitter(&nState) * 2000.0;
            double dLate = jitter(&nState) * c.dMaxLatency;
            if (c.nStallEvery > 0 && i % c.nStallEvery == 0) dLate += 80000;
            // What had been measured dLate before the reading.
            const double dMeasured = fmax(0.0, dHost - dLate);
            const uint64_t nDelivered = static_cast<uint64_t>(floor(dMeasured * dRate * (1 + c.dPpm * 1e-6) / 1e6)) + 1;
            model.anchor(nDelivered, nStartMono + static_cast<int64_t>(dHost));
            if (i > 1000) {  // after ten seconds: the times written from then on
                const uint64_t nScan = nDelivered - 1;
                dWorst = fmax(dWorst, fabs(static_cast<double>(model.micros(nScan) - nStartUtc) - truth(static_cast<double>(nScan))));
            }
        }
        EXPECT_LE(dWorst, c.dWithin);
        const ClockFit fit = model.fit();
        EXPECT_NEAR(fit.dRate, dRate * (1 + c.dPpm * 1e-6), dRate * 20e-6);
        EXPECT_GE(fit.dBoundMicros + 1000.0, dWorst);  // the stated bound holds
        EXPECT_LE(fit.dBoundMicros, c.dMaxLatency + (c.nStallEvery > 0 ? 82000 : 2000));
    }
}

TEST(ClockModel, ARestartBeginsALineOfItsOwnAndEarlierScansKeepTheirs) {
    ClockModel model(1000);
    EXPECT_EQ(model.micros(5), 0);  // nothing begun: no time
    model.begin(0, 1000000, 0);
    EXPECT_EQ(model.micros(10), 1010000);  // nominal until anchors say more
    for (int i = 1; i <= 200; ++i) model.anchor(static_cast<uint64_t>(i * 10 * 1.001) + 1, i * 10000);
    const int64_t nBefore = model.micros(1500);
    model.begin(5000, 9000000, 8000000);  // restarted: scan 5000 at 9 s
    EXPECT_EQ(model.micros(5000), 9000000);
    EXPECT_EQ(model.micros(1500), nBefore);
    model.anchor(5000, 8000500);  // no scan of the new segment yet: passed over
    EXPECT_EQ(model.fit().nAnchors, 200u);

    // A recording's model, capture by capture, as a reader rebuilds it.
    ClockModel written(1000);
    written.fixed(0, 1000000, 1000.5);
    written.fixed(60030, 61000100, 1000.25);
    written.stated(ClockFit{1000.25, 1500, 6000});
    EXPECT_EQ(written.micros(2001), 1000000 + 2000000);  // 2001 scans at 1000.5 S/s: 2 s
    EXPECT_EQ(written.micros(60030 + 4001), 61000100 + 4000000);
    EXPECT_DOUBLE_EQ(written.rateAt(100), 1000.5);
    EXPECT_EQ(written.fit().dBoundMicros, 1500);
}

}  // namespace
}  // namespace qacq
