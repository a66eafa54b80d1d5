// The poll cycle against a ring buffer in the test's own memory: which words are read, how they
// are printed, the wrap at the buffer end, and buffers described so that a walk would leave them.
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

#include "example.h"
#include "fake_driver.h"
#include "kivo_api.h"

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;

namespace {

int64_t addressOf(const void* p) { return static_cast<int64_t>(reinterpret_cast<uintptr_t>(p)); }

class PollCycleTest : public FakeDriverTest {
protected:
    // A buffer of nScans one-word scans, with the words given.
    void buffer(std::vector<uint32_t> words) {
        words_ = std::move(words);
        run_.nBufferEnd = addressOf(words_.data() + words_.size());
        run_.nBufferSize = static_cast<int32_t>(words_.size() * 4);
        run_.nScanSize = 4;
        CalcScaling(&run_.scaleInfo, 24, -100.0, 200.0);
    }
    void driverReports(int32_t nAvailable, size_t nReadScan, int32_t nResult = 0) {
        fake().getValues[ParamAvailableSamples] = nAvailable;
        fake().getResults[ParamAvailableSamples] = nResult;
        fake().getValues[ParamReadPosition] = addressOf(words_.data() + nReadScan);
    }
    int cycle() {
        fake().calls.clear();
        CaptureStdout();
        CaptureStderr();
        int nGoOn = PollCycle(&run_);
        sOut = GetCapturedStdout();
        sErr = GetCapturedStderr();
        return nGoOn;
    }
    std::string released() {
        for (const std::string& sCall : fake().calls) {
            if (sCall.rfind("SetParam_i32 0 39 ", 0) == 0) return sCall.substr(18);
        }
        return "none";
    }

    std::vector<uint32_t> words_;
    RunState run_ = {};
    std::string sOut, sErr;
};

TEST_F(PollCycleTest, PrintsTheFirstAndEveryTenthSampleOfABatch) {
    std::vector<uint32_t> words(64);
    for (size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint32_t>(i) << 8;
    words[0] = 0x12345600;
    words[10] = 0xFFFFFF00;
    words[20] = 0x00000000;
    buffer(words);
    driverReports(25, 0);
    EXPECT_EQ(cycle(), 1);
    EXPECT_EQ(sOut,
              "\rRaw: 00123456 --> Scaled: 71.333[degC]"
              "\rRaw: ffffffff --> Scaled: 50.000[degC]"
              "\rRaw: 00000000 --> Scaled: 50.000[degC]");
    EXPECT_EQ(released(), "25");

    driverReports(5, 30);
    cycle();
    EXPECT_EQ(sOut, "\rRaw: 0000001e --> Scaled: 50.001[degC]");
    EXPECT_EQ(released(), "5");
}

TEST_F(PollCycleTest, SkipsTheDelayedScansAndReleasesOnlyWhatItRead) {
    std::vector<uint32_t> words(16);
    for (size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint32_t>(i) << 8;
    buffer(words);
    run_.nSampleDelay = 3;
    driverReports(4, 2);  // one scan after the three kept back
    cycle();
    EXPECT_EQ(sOut, "\rRaw: 00000005 --> Scaled: 50.000[degC]");
    EXPECT_EQ(released(), "1");

    driverReports(3, 3);  // only the delay: nothing is read, nothing released
    cycle();
    EXPECT_EQ(sOut, "");
    EXPECT_EQ(released(), "none");
    for (const std::string& sCall : fake().calls) EXPECT_EQ(sCall.find("GetParam_i64 0 38"), std::string::npos);
}

TEST_F(PollCycleTest, WrapsAPositionAtTheBufferEndBeforeReading) {
    std::vector<uint32_t> words(16);
    for (size_t i = 0; i < words.size(); ++i) words[i] = static_cast<uint32_t>(0x100 + i) << 8;
    buffer(words);
    run_.nSampleDelay = 2;
    driverReports(13, 14);  // skipping two scans from slot 14 lands exactly on the end
    cycle();
    // Slot 0 is the first read, slot 10 the eleventh.
    EXPECT_EQ(sOut, "\rRaw: 00000100 --> Scaled: 50.005[degC]\rRaw: 0000010a --> Scaled: 50.005[degC]");
    EXPECT_EQ(released(), "11");

    driverReports(8, 9);  // a batch that runs over the end: slots 11..15, then 0
    cycle();
    EXPECT_EQ(sOut, "\rRaw: 0000010b --> Scaled: 50.005[degC]");
    EXPECT_EQ(released(), "6");
}

TEST_F(PollCycleTest, OverflowEndsTheMeasurement) {
    buffer(std::vector<uint32_t>(8));
    driverReports(3, 0, ResultBufferOverflow);
    EXPECT_EQ(cycle(), 0);
    EXPECT_EQ(sOut, "Measurement Buffer Overflow happened - stopping measurement\n");
    EXPECT_EQ(sErr, "\nError: text of 1794\n");
    EXPECT_EQ(released(), "none");

    driverReports(0, 0, 1040);  // any other failure goes on
    EXPECT_EQ(cycle(), 1);
    EXPECT_EQ(sErr, "\nError: text of 1040\n");
}

TEST_F(PollCycleTest, NeverReadsOutsideTheDescribedBuffer) {
    // Each description would send the walk out of the 8-word buffer: nothing may be read.
    struct Hostile {
        const char* sWhat;
        void (*apply)(RunState&, int64_t nBegin);
    } cases[] = {
        {"read position past the end", [](RunState& r, int64_t) { r.nSampleDelay = 100; }},
        {"read position before the start", [](RunState& r, int64_t) { r.nSampleDelay = -3; }},
        {"scan size 0", [](RunState& r, int64_t) { r.nScanSize = 0; }},
        {"negative scan size", [](RunState& r, int64_t) { r.nScanSize = -4; }},
        {"scan larger than the buffer", [](RunState& r, int64_t) { r.nScanSize = 64; }},
        {"no buffer end", [](RunState& r, int64_t) { r.nBufferEnd = 0; }},
        {"negative size", [](RunState& r, int64_t) { r.nBufferSize = -32; }},
        {"size of 2", [](RunState& r, int64_t) { r.nBufferSize = 2; }},
        {"end near the top of the range", [](RunState& r, int64_t) { r.nBufferEnd = INT64_MAX - 1; }},
        {"end at the bottom of the range", [](RunState& r, int64_t) { r.nBufferEnd = INT64_MIN + 4; }},
        {"misaligned position near the end", [](RunState& r, int64_t nBegin) {
             r.nSampleDelay = 0;
             fakeDriver().getValues[ParamReadPosition] = nBegin + 30;
         }},
        {"delay times scan wraps in 32 bits", [](RunState& r, int64_t) {
             r.nSampleDelay = 0x40000001;  // * 4 wraps to 4
             r.nScanSize = 4;
         }},
    };
    for (const Hostile& c : cases) {
        buffer(std::vector<uint32_t>(8, 0x00000100));
        run_.nBufferReported = 0;
        run_.nSampleDelay = 0;
        driverReports(0, 0);
        c.apply(run_, addressOf(words_.data()));
        // Four scans to walk after the delay, the count wrapping like the driver's 32-bit one.
        fake().getValues[ParamAvailableSamples] =
            static_cast<int32_t>(4u + static_cast<uint32_t>(run_.nSampleDelay));
        cycle();
        if (std::string(c.sWhat) == "delay times scan wraps in 32 bits") {
            // The product wraps to 4 bytes: one scan in, and the walk stays inside.
            EXPECT_EQ(sErr, "") << c.sWhat;
            continue;
        }
        EXPECT_EQ(sOut, "") << c.sWhat;
        EXPECT_NE(sErr.find("cannot be read safely"), std::string::npos) << c.sWhat << ": " << sErr;
        EXPECT_EQ(released(), "none") << c.sWhat;
        cycle();  // reported once per run
        EXPECT_EQ(sErr, "") << c.sWhat;
    }
}

TEST_F(PollCycleTest, AvailableCountArithmeticWrapsInsteadOfOverflowing) {
    buffer(std::vector<uint32_t>(8, 0x00000100));
    run_.nSampleDelay = INT32_MIN;
    driverReports(-1, 0);  // -1 - INT32_MIN wraps to INT32_MAX scans, more than the buffer holds
    cycle();
    EXPECT_NE(sErr.find("cannot be read safely"), std::string::npos) << sErr;
}

TEST_F(FakeDriverTest, StartRefusedLeavesTheDriverTextAsTheMessage) {
    fake().setResults[ParamStartAcq] = -1201;
    RunState run = {};
    EXPECT_EQ(StartAcquisition(&run), 0);
    EXPECT_STREQ(run.sErrorText, "text of -1201");
    fake().bNullErrorText = true;
    EXPECT_EQ(StartAcquisition(&run), 0);
    EXPECT_STREQ(run.sErrorText, "driver result -1201");
}

}  // namespace
