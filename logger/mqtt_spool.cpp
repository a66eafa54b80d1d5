#include "mqtt_spool.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>

namespace qlog {

MqttSpool::MqttSpool(uint64_t nCapacityRows, size_t nMemoryBytes, const std::string& sDirectory)
    : nCapacity_(nCapacityRows), nMemoryCap_(nMemoryBytes) {
    std::string sTemplate = sDirectory + "/queno_log-spool-XXXXXX";
    nFd_ = mkostemp(&sTemplate[0], O_CLOEXEC);
    if (nFd_ >= 0) {
        unlink(sTemplate.c_str());  // nobody else needs its name; it goes with the process
    } else {
        sFileProblem_ = "it could not be made: " + std::string(strerror(errno));
    }
}

MqttSpool::~MqttSpool() {
    if (nFd_ >= 0) close(nFd_);
}

// The position of a row in rows_ (rows_.size() when it is not there): rows_ is ordered by sequence.
size_t MqttSpool::indexOf(uint64_t nSeq) const {
    auto it = std::lower_bound(rows_.begin(), rows_.end(), nSeq, [](const Row& row, uint64_t n) { return row.nSeq < n; });
    return static_cast<size_t>(it - rows_.begin());
}

// Rows before nDropFrom_ were passed over once and can never be dropped, so a long outage does not
// search past them again.
bool MqttSpool::dropOldestUnsent() {
    for (size_t i = indexOf(nDropFrom_); i < rows_.size(); ++i) {
        const Row& row = rows_[i];
        if (row.bAcked || row.bEverSent) continue;
        nDropFrom_ = row.nSeq + 1;
        nMemoryBytes_ -= memoryOf(row.sPayload);
        rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(i));
        if (i < nSentPrefix_) --nSentPrefix_;
        nDropped_.fetch_add(1);
        return true;
    }
    if (nFileRows_ > 0) {  // everything in memory is in flight: the file's oldest goes
        std::string sDropped;
        if (readFileRow(&sDropped)) {
            nDropped_.fetch_add(1);
            return true;
        }
    }
    return false;
}

void MqttSpool::push(std::string sPayload) {
    nMemoryBytes_ += memoryOf(sPayload);
    rows_.push_back(Row{std::move(sPayload), nNextSeq_++, false, false});
}

bool MqttSpool::add(std::string sPayload, std::string* psProblem) {
    if (nCapacity_ > 0 && waiting() >= nCapacity_) dropOldestUnsent();
    if (nFileRows_ == 0 && nMemoryBytes_ + memoryOf(sPayload) <= nMemoryCap_) {
        push(std::move(sPayload));
        return true;
    }
    // Memory is full (or rows wait in the file already, which keeps the order): to the file.
    uint32_t nLength = static_cast<uint32_t>(sPayload.size());
    std::string sRecord(reinterpret_cast<const char*>(&nLength), sizeof(nLength));
    sRecord += sPayload;
    const ssize_t nWritten = nFd_ >= 0 ? pwrite(nFd_, sRecord.data(), sRecord.size(), nFileWrite_) : -1;
    if (nWritten == static_cast<ssize_t>(sRecord.size())) {
        nFileWrite_ += static_cast<int64_t>(sRecord.size());
        ++nFileRows_;  // numbered when it comes back: only the order of rows_ counts
        return true;
    }
    if (!bFileSaid_) {
        *psProblem = nFd_ < 0 ? sFileProblem_ : strerror(nWritten >= 0 ? ENOSPC : errno);
        bFileSaid_ = true;
    }
    nDropped_.fetch_add(1);
    return false;
}

bool MqttSpool::hasUnsent() const {
    return nSentPrefix_ < rows_.size();
}

const std::string* MqttSpool::nextUnsent(uint64_t* pnSeq) {
    // Rows acknowledged before a reconnect need not go again.
    while (nSentPrefix_ < rows_.size() && rows_[nSentPrefix_].bAcked) {
        ++nSentPrefix_;
        popAcknowledged();
    }
    if (nSentPrefix_ >= rows_.size()) return nullptr;
    *pnSeq = rows_[nSentPrefix_].nSeq;
    return &rows_[nSentPrefix_].sPayload;
}

void MqttSpool::sent() {
    if (nSentPrefix_ >= rows_.size()) return;
    rows_[nSentPrefix_].bEverSent = true;
    ++nSentPrefix_;
}

void MqttSpool::acknowledged(uint64_t nSeq) {
    const size_t nIndex = indexOf(nSeq);
    if (nIndex < rows_.size() && rows_[nIndex].nSeq == nSeq) rows_[nIndex].bAcked = true;
    popAcknowledged();
}

// The front rows the broker has taken leave; the file refills memory.
void MqttSpool::popAcknowledged() {
    while (!rows_.empty() && rows_.front().bAcked) {
        nMemoryBytes_ -= memoryOf(rows_.front().sPayload);
        rows_.pop_front();
        if (nSentPrefix_ > 0) --nSentPrefix_;
    }
    refillFromFile();
}

bool MqttSpool::readFileRow(std::string* pPayload) {
    uint32_t nLength = 0;
    if (pread(nFd_, &nLength, sizeof(nLength), nFileRead_) != static_cast<ssize_t>(sizeof(nLength))) return false;
    pPayload->assign(nLength, '\0');
    if (nLength > 0 && pread(nFd_, &(*pPayload)[0], nLength, nFileRead_ + static_cast<int64_t>(sizeof(nLength))) !=
                           static_cast<ssize_t>(nLength)) {
        return false;
    }
    nFileRead_ += static_cast<int64_t>(sizeof(nLength) + nLength);
    --nFileRows_;
    return true;
}

// Rows come back from the file, in order, when memory has room for them.
void MqttSpool::refillFromFile() {
    std::string sPayload;
    while (nFileRows_ > 0 && nMemoryBytes_ < nMemoryCap_ / 2 && readFileRow(&sPayload)) push(std::move(sPayload));
    if (nFileRows_ == 0 && nFileWrite_ > 0) {
        nFileRead_ = nFileWrite_ = 0;
        if (ftruncate(nFd_, 0) != 0) return;
    }
}

void MqttSpool::dropRest() {
    uint64_t nLeft = nFileRows_;
    for (const Row& row : rows_) nLeft += row.bAcked ? 0 : 1;
    nDropped_.fetch_add(nLeft);
    rows_.clear();
    nMemoryBytes_ = 0;
    nSentPrefix_ = 0;
    nFileRows_ = 0;
    nFileRead_ = nFileWrite_ = 0;
}

}  // namespace qlog
