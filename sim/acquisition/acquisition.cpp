#include "acquisition.h"

#include <stdlib.h>

#include <chrono>

#include "checked_numbers.h"
#include "kivo_codes.h"
#include "plain_text.h"

namespace qsim {

namespace {
constexpr std::chrono::milliseconds kProducerTick(20);
}

bool AcquisitionScript::parse(const char* sScript, AcquisitionScript* pScript, std::string* pError) {
    pScript->steps.clear();
    std::string sAll = sScript != nullptr ? sScript : "";
    size_t nStart = 0;
    while (nStart <= sAll.size()) {
        size_t nEnd = sAll.find(',', nStart);
        if (nEnd == std::string::npos) nEnd = sAll.size();
        std::string sStep = trimWhiteSpace(sAll.substr(nStart, nEnd - nStart));
        nStart = nEnd + 1;
        if (sStep.empty()) continue;
        if (sStep == "overflow") {
            pScript->steps.push_back(kOverflow);
            continue;
        }
        char* pEnd = nullptr;
        long long n = strtoll(sStep.c_str(), &pEnd, 10);
        if (*pEnd != '\0' || n < 0 || n > (1 << 24)) {
            *pError = "step '" + sStep + "' is neither a scan count (0 to 16777216) nor 'overflow'";
            return false;
        }
        pScript->steps.push_back(n);
    }
    return true;
}

Acquisition::Acquisition(const AcquisitionSetup& setup)
    : ring_(setup.nCapacityScans, static_cast<uint32_t>(setup.inputs.size())),
      generator_(setup.sensor, setup.clock, setup.nResolution, setup.inputs),
      dHostRate_(setup.clock.dHostRate),
      firstScanTime_(setup.firstScanTime),
      pScript_(setup.pScript),
      stalls_(setup.stalls),
      nOverflowScan_(setup.nOverflowScan) {
    if (pScript_ == nullptr) producer_ = std::thread(&Acquisition::producerLoop, this);
}

Acquisition::~Acquisition() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bStop_ = true;
    }
    wake_.notify_all();
    if (producer_.joinable()) producer_.join();
}

// Writes up to nScans new scans; those that do not fit without overwriting unreleased ones are
// lost, and the buffer counts as overrun from then on.
void Acquisition::produce(uint64_t nScans, bool bNumbered) {
    if (ring_.overflowed()) return;
    uint64_t nFree = ring_.freeScans();
    uint64_t nWrite = nScans < nFree ? nScans : nFree;
    // The scenario's overflow: the scans up to it are stored, and the buffer counts as overrun.
    const uint64_t nBefore = ring_.produced();
    const bool bOverflowEvent = nOverflowScan_ >= nBefore && nOverflowScan_ < nBefore + nScans;
    if (bOverflowEvent && nWrite > nOverflowScan_ - nBefore) nWrite = nOverflowScan_ - nBefore;
    uint64_t nFirst = ring_.produced();
    for (uint64_t nDone = 0; nDone < nWrite;) {
        // Up to the end of the buffer, then on from its start.
        uint64_t nSlot = (nFirst + nDone) % ring_.capacityScans();
        uint64_t nChunk = ring_.capacityScans() - nSlot;
        if (nChunk > nWrite - nDone) nChunk = nWrite - nDone;
        uint32_t* pWords = ring_.slot(nFirst + nDone);
        if (bNumbered) {
            generator_.fillNumbered(pWords, nFirst + nDone, nChunk);
        } else {
            generator_.fill(pWords, nFirst + nDone, nChunk);
        }
        nDone += nChunk;
    }
    if (nWrite > 0) ring_.publish(nWrite);
    if (nWrite < nScans || bOverflowEvent) ring_.markOverflow();
}

void Acquisition::producerLoop() {
    const auto start = firstScanTime_;
    std::unique_lock<std::mutex> lock(mutex_);
    for (uint64_t nTick = 1;; ++nTick) {
        // Ticks are counted from the start, so a late wake-up does not shift the ones after it.
        if (wake_.wait_until(lock, start + nTick * kProducerTick, [this] { return bStop_; })) return;
        double dElapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        uint64_t nDue = saturatingUint64(dElapsed * dHostRate_);
        // A stall holds back what falls in it until its end is due.
        for (const auto& stall : stalls_) {
            if (nDue > stall.first && nDue < stall.second) nDue = stall.first;
        }
        if (nDue > nScheduled_) {
            produce(nDue - nScheduled_, false);
            nScheduled_ = nDue;
        }
        if (ring_.overflowed()) return;  // nothing more is stored until the acquisition is stopped
    }
}

int32_t Acquisition::queryAvailable(int64_t* pnAvailable) {
    if (pScript_ != nullptr) {
        int64_t nStep = nNextStep_ < pScript_->steps.size() ? pScript_->steps[nNextStep_] : AcquisitionScript::kOverflow;
        ++nNextStep_;
        if (nStep == AcquisitionScript::kOverflow) {
            ring_.markOverflow();
        } else {
            produce(static_cast<uint64_t>(nStep), true);
        }
    }
    *pnAvailable = static_cast<int64_t>(ring_.available());
    return ring_.overflowed() ? ResultBufferOverflow : ResultOk;
}

int32_t Acquisition::release(int64_t nScans) {
    if (nScans < 0) return ResultInvalidValue;
    if (static_cast<uint64_t>(nScans) > ring_.available()) return ResultReleaseTooMany;
    ring_.release(static_cast<uint64_t>(nScans));
    return ResultOk;
}

}  // namespace qsim
