// A running acquisition: its ring buffer and the producer that fills it.
//
// In real time a producer thread wakes every 20 ms and writes as many scans as the elapsed time
// calls for at the board's rate as the host's clock sees it (a board's clock may run fast or slow),
// so there is no drift against that rate however long the run. With a script
// (QUENO_SIM_SCRIPT) there is no thread: each available-samples query delivers the script's next
// batch, made of numbered scans, so a test knows exactly which scan it read.
#pragma once

#include <stdint.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ring_buffer.h"
#include "scan_generator.h"

namespace qsim {

// "25,5,0,overflow": scans delivered by successive available-samples queries; "overflow" marks
// the buffer as overrun. After the last step every query answers the overflow, so a scripted run
// always ends by itself.
struct AcquisitionScript {
    static constexpr int64_t kOverflow = -1;
    std::vector<int64_t> steps;
    static bool parse(const char* sScript, AcquisitionScript* pScript, std::string* pError);
};

struct AcquisitionSetup {
    uint32_t nCapacityScans = 0;
    ScenarioClock clock;  // the rate, the board's clock error and where the scans stand in its world
    // When the first scan is due, on the host's clock: the world's moment of clock.nOffset, so that
    // scans are delivered when the scenario says they were measured.
    std::chrono::steady_clock::time_point firstScanTime = std::chrono::steady_clock::now();
    int32_t nResolution = 24;
    SensorModel sensor;
    std::vector<InputEncoding> inputs;
    const AcquisitionScript* pScript = nullptr;  // null: real time
    // Scenario events in scans: stalls hold scans [begin, end) back until their end is due, then
    // deliver them at once; the buffer overruns when the overflow scan is produced.
    std::vector<std::pair<uint64_t, uint64_t>> stalls;
    uint64_t nOverflowScan = UINT64_MAX;
};

class Acquisition {
public:
    explicit Acquisition(const AcquisitionSetup& setup);
    ~Acquisition();
    Acquisition(const Acquisition&) = delete;
    Acquisition& operator=(const Acquisition&) = delete;

    // The unreleased scans; the overflow result once unreleased scans would have been overwritten.
    int32_t queryAvailable(int64_t* pnAvailable);
    int32_t release(int64_t nScans);
    const RingBuffer& buffer() const { return ring_; }
    // False in a child forked from the process that started it: there the producer thread and its
    // waiters do not exist, and tearing the acquisition down would wait for them forever.
    bool ownedByThisProcess() const { return nOwner_ == getpid(); }

private:
    void produce(uint64_t nScans, bool bNumbered);
    void producerLoop();

    RingBuffer ring_;
    ScanGenerator generator_;
    double dHostRate_;  // scans per second of the host's clock
    std::chrono::steady_clock::time_point firstScanTime_;
    const AcquisitionScript* pScript_;
    size_t nNextStep_ = 0;
    uint64_t nScheduled_ = 0;  // scans the time line has called for, stored or not
    std::vector<std::pair<uint64_t, uint64_t>> stalls_;
    uint64_t nOverflowScan_;

    std::mutex mutex_;
    std::condition_variable wake_;
    bool bStop_ = false;
    std::thread producer_;
    pid_t nOwner_ = getpid();
};

}  // namespace qsim
