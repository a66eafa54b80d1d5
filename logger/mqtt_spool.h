// The rows waiting for the broker, in order: those not yet handed to the client and those sent but
// not yet acknowledged. The newest stay in memory up to a cap; beyond it they wait in a file (no
// name, gone with the process) and come back in order. When the spool holds its most rows, the
// oldest row never handed out is dropped, counted and freed: a row that may have reached the
// broker never is, so the count is exact. A file that cannot take a row costs that row, never
// more memory than the cap.
//
// Not locked: the publisher calls it under its own lock. dropped() may be read from any thread.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <atomic>
#include <deque>
#include <string>

namespace qlog {

class MqttSpool {
public:
    // At most nCapacityRows rows wait (0: no limit), nMemoryBytes of them in memory; the file is
    // made in sDirectory.
    MqttSpool(uint64_t nCapacityRows, size_t nMemoryBytes, const std::string& sDirectory);
    ~MqttSpool();
    MqttSpool(const MqttSpool&) = delete;
    MqttSpool& operator=(const MqttSpool&) = delete;

    // A new row at the end. False when it was dropped because the file could not take it; the
    // first time *psProblem says why.
    bool add(std::string sPayload, std::string* psProblem);

    // The oldest row not yet handed to the client (nullptr when there is none), its sequence
    // number in *pnSeq; sent() marks it handed out.
    const std::string* nextUnsent(uint64_t* pnSeq);
    void sent();
    // The broker has taken the row with this sequence number.
    void acknowledged(uint64_t nSeq);
    // The connection is gone: what was handed out and not acknowledged goes out again.
    void resendAll() { nSentPrefix_ = 0; }

    uint64_t waiting() const { return rows_.size() + nFileRows_; }
    bool empty() const { return waiting() == 0; }
    bool hasUnsent() const;
    uint64_t dropped() const { return nDropped_.load(); }
    size_t memoryBytes() const { return nMemoryBytes_; }
    // The end: every row the broker has not taken is counted as dropped; the spool empties.
    void dropRest();

    // What a row held in memory costs: its text, and the row and the allocation around it.
    static size_t memoryOf(const std::string& sPayload) { return sPayload.size() + 96; }

private:
    struct Row {
        std::string sPayload;
        uint64_t nSeq = 0;       // rows_ is ordered by it
        bool bAcked = false;     // taken by the broker
        bool bEverSent = false;  // may have reached the broker: never dropped
    };
    size_t indexOf(uint64_t nSeq) const;
    bool dropOldestUnsent();
    void push(std::string sPayload);
    void popAcknowledged();
    void refillFromFile();
    bool readFileRow(std::string* pPayload);

    const uint64_t nCapacity_;
    const size_t nMemoryCap_;
    std::deque<Row> rows_;        // the oldest rows, in order
    size_t nMemoryBytes_ = 0;
    uint64_t nNextSeq_ = 0;       // of the next row that comes in
    uint64_t nDropFrom_ = 0;      // rows before this sequence number cannot be dropped
    size_t nSentPrefix_ = 0;      // rows_[0 .. n) have been handed to the client
    int nFd_ = -1;
    std::string sFileProblem_;    // why the file could not be made
    uint64_t nFileRows_ = 0;
    int64_t nFileRead_ = 0, nFileWrite_ = 0;
    bool bFileSaid_ = false;
    std::atomic<uint64_t> nDropped_{0};
};

}  // namespace qlog
