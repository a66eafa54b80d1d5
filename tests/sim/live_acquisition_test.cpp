// The real-time producer thread against a consumer on the test's thread: every scan produced is
// released exactly once, and a stall ends in one overflow after which nothing more is stored.
// Built into the sanitizer configurations too, where ThreadSanitizer watches the shared counters.
#include <unistd.h>

#include "acquisition.h"
#include "gtest/gtest.h"
#include "kivo_codes.h"

namespace qsim {
namespace {

TEST(LiveAcquisition, ReleasesEveryScanOnceAndOverflowsOnceAfterAStall) {
    AcquisitionSetup setup;
    // Two seconds of room: a consumer on a loaded machine (two busy cores, qemu) that polls every
    // 10 ms never lets it fill, whatever its pauses; the stall below fills it for certain.
    setup.nCapacityScans = 4096;
    setup.clock.dRate = setup.clock.dHostRate = 2048;
    InputEncoding rtd;
    rtd.bTemperature = true;
    rtd.dMidpoint = 50.0;
    rtd.dCountsPerUnit = 8388607.0 / 150.0;
    setup.inputs = {rtd, InputEncoding{}};
    Acquisition acquisition(setup);
    const RingBuffer& ring = acquisition.buffer();

    uint64_t nReleased = 0;
    for (int nCycle = 0; nCycle < 150; ++nCycle) {  // about 1.5 s of consuming
        usleep(10000);
        int64_t nAvailable = 0;
        ASSERT_EQ(acquisition.queryAvailable(&nAvailable), ResultOk) << nCycle;
        ASSERT_EQ(acquisition.release(nAvailable), ResultOk);
        nReleased += static_cast<uint64_t>(nAvailable);
    }
    EXPECT_GT(nReleased, 0u);
    EXPECT_EQ(ring.released(), nReleased);

    // Stall: nothing is released until the producer runs out of room.
    int64_t nAvailable = 0;
    int nResult = ResultOk;
    for (int nGuard = 0; nGuard < 2000 && nResult == ResultOk; ++nGuard) {  // a guard, not a measurement
        usleep(10000);
        nResult = acquisition.queryAvailable(&nAvailable);
    }
    ASSERT_EQ(nResult, ResultBufferOverflow);
    EXPECT_EQ(static_cast<uint64_t>(nAvailable), setup.nCapacityScans);  // full, and nothing overwritten
    uint64_t nProduced = ring.produced();
    usleep(60000);  // three producer ticks
    EXPECT_EQ(acquisition.queryAvailable(&nAvailable), ResultBufferOverflow);  // sticky until the stop
    EXPECT_EQ(ring.produced(), nProduced);  // nothing more stored
    EXPECT_EQ(ring.produced(), ring.released() + setup.nCapacityScans);
}

}  // namespace
}  // namespace qsim
