// queno_log --service: what systemd is told through the notify protocol (sd_notify(3)). READY=1
// once the first scan is in the output; STATUS= every few seconds (what is recorded where, scans,
// gaps, the broker); WATCHDOG=1 only while scans keep reaching the outputs, so a driver that stops
// delivering stops the pings and systemd restarts the service; RELOADING=1 and READY=1 around a
// reload; STOPPING=1 when a stop begins. Everything is sent from the notifier's own thread: a send
// to a socket whose reader does not keep up blocks, and must never hold the acquisition or the
// writer. A notify socket that is missing or refuses costs nothing.
#pragma once

#include <stdint.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace qlog {

// The run's progress, read from the notifier's thread.
struct ServiceFacts {
    uint64_t nScans = 0;   // scans (of rows) handed to the outputs
    uint64_t nGaps = 0;
    uint64_t nLost = 0;
    std::string sWhere;    // the file being written
    std::string sMore;     // the broker's state, a retention warning, ...
};

class ServiceNotifier {
public:
    // sWhat: what is recorded, e.g. "AI0, AI1 at 10 S/s".
    ServiceNotifier(std::string sWhat, std::function<ServiceFacts()> facts);
    ~ServiceNotifier();
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    void reloading();
    void reloaded();
    void stopping();
    // The watchdog's interval from $WATCHDOG_USEC, 0 without one.
    uint64_t watchdogMicros() const { return nWatchdogMicros_; }

private:
    void run();
    void queue(std::string sMessage);
    std::string statusText(const ServiceFacts& facts) const;

    const std::string sWhat_;
    const std::function<ServiceFacts()> facts_;
    uint64_t nWatchdogMicros_ = 0;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool bStopping_ = false;
    bool bToldStopping_ = false;
    std::deque<std::string> pending_;  // sent by the thread, in order
    std::thread thread_;
};

}  // namespace qlog
