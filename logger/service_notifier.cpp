#include "service_notifier.h"

#include <stdint.h>

#include <algorithm>
#include <chrono>

#include <systemd/sd-daemon.h>

#include "acquisition_core.h"

namespace qlog {

namespace {

// STATUS= this often: a systemctl status that is never more than a few seconds behind.
constexpr int64_t kStatusMicros = 5000000;
// A storm of reloads is told as it comes, up to this many messages behind.
constexpr size_t kMaxPending = 256;

}  // namespace

ServiceNotifier::ServiceNotifier(std::string sWhat, std::function<ServiceFacts()> facts)
    : sWhat_(std::move(sWhat)), facts_(std::move(facts)) {
    uint64_t nMicros = 0;
    if (sd_watchdog_enabled(0, &nMicros) > 0) nWatchdogMicros_ = nMicros;
    thread_ = std::thread([this] { run(); });
}

ServiceNotifier::~ServiceNotifier() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bStopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void ServiceNotifier::queue(std::string sMessage) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (pending_.size() < kMaxPending) pending_.push_back(std::move(sMessage));
    }
    wake_.notify_all();
}

void ServiceNotifier::reloading() { queue("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(monotonicMicros())); }

void ServiceNotifier::reloaded() { queue("READY=1"); }

void ServiceNotifier::stopping() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bToldStopping_ = true;  // nothing after it: no ping, no status
    }
    queue("STOPPING=1");
}

std::string ServiceNotifier::statusText(const ServiceFacts& facts) const {
    std::string s = "recording " + sWhat_ + " into " + facts.sWhere + ": " + std::to_string(facts.nScans) + " scans, " +
                    std::to_string(facts.nGaps) + (facts.nGaps == 1 ? " gap" : " gaps");
    if (facts.nLost > 0) s += " (" + std::to_string(facts.nLost) + " scans lost)";
    return facts.sMore.empty() ? s : s + "; " + facts.sMore;
}

// The pings follow the recording's progress: a look every quarter of the watchdog's interval (at
// most a second), a ping only when scans reached the outputs since the last one.
void ServiceNotifier::run() {
    const int64_t nLook = nWatchdogMicros_ > 0 ? std::min<int64_t>(static_cast<int64_t>(nWatchdogMicros_ / 4), 1000000) : 1000000;
    bool bReady = false;
    uint64_t nPinged = 0;
    int64_t nLastStatus = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        while (!pending_.empty()) {
            const std::string sMessage = std::move(pending_.front());
            pending_.pop_front();
            lock.unlock();
            sd_notify(0, sMessage.c_str());
            lock.lock();
        }
        if (bStopping_) break;
        if (bToldStopping_) {
            wake_.wait(lock, [this] { return bStopping_ || !pending_.empty(); });
            continue;
        }
        lock.unlock();
        const ServiceFacts facts = facts_();
        const int64_t nNow = monotonicMicros();
        std::string sMessage;
        if (!bReady && facts.nScans > 0) {
            bReady = true;
            sMessage += "READY=1\n";
        }
        if (nWatchdogMicros_ > 0 && facts.nScans > nPinged) {
            nPinged = facts.nScans;
            sMessage += "WATCHDOG=1\n";
        }
        if (nLastStatus == 0 || nNow - nLastStatus >= kStatusMicros || sMessage.find("READY") != std::string::npos) {
            nLastStatus = nNow;
            sMessage += "STATUS=" + statusText(facts) + "\n";
        }
        if (!sMessage.empty()) sd_notify(0, sMessage.c_str());
        lock.lock();
        wake_.wait_for(lock, std::chrono::microseconds(nLook), [this] { return bStopping_ || !pending_.empty(); });
    }
}

}  // namespace qlog
