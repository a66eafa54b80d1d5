// Publishing rows to an MQTT broker (libmosquitto): one message per written row, at least once,
// in order, with a spool of the logger's own between the writer and the broker.
//
// The spool holds rows not yet acknowledged: those sent and waiting for the broker's PUBACK count
// too. While the broker cannot be reached the rows wait there and go out in order when it is back
// (rows in flight when it went away are sent again: a subscriber may see a scan twice and drops
// the repeat). The newest rows stay in memory up to a cap; beyond it they wait in a spool file and
// come back in order. When the spool is full the oldest unsent row is dropped, counted and freed.
//
// What a dashboard needs beside the rows is retained on the broker and sent again at every
// (re)connect, since a broker restarted without persistence has forgotten it: <topic>/meta (what
// the rows mean) and <topic>/status ("online"; "offline" at a clean end, and as the last will when
// the logger goes away without one). A lost and a regained broker are said on standard error.
#pragma once

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "log_options.h"

struct mosquitto;

namespace qlog {

class MqttPublisher {
public:
    MqttPublisher();
    ~MqttPublisher();

    // Connects (waiting at most kConnectSeconds). False with the reason: a refused connection,
    // wrong credentials, an unknown CA.
    bool start(const MqttOptions& options, uint64_t nSpoolRows, std::string* pError);
    // The retained message on <topic>/meta (QoS 1) that says what the rows mean; sent now and at
    // every reconnect.
    void publishMeta(const std::string& sMeta);
    // A row's message, from the writer thread.
    void publish(std::string sPayload);
    // Waits at most kDrainSeconds for the broker to take what is left, counts the rest as dropped,
    // and disconnects.
    void finish();

    uint64_t dropped() const { return nDropped_.load(); }
    uint64_t spooled() const;

    static constexpr int kConnectSeconds = 10;
    static constexpr int kDrainSeconds = 10;
    static constexpr int kConnectFailed = -2;  // nConnackResult_: the first connection failed without an answer

private:
    struct Row {
        std::string sPayload;
        uint64_t nSeq = 0;       // rows_ is ordered by it
        bool bAcked = false;     // taken by the broker
        bool bEverSent = false;  // may have reached the broker: never dropped, so a drop is exact
    };
    void sendLoop();
    void refillFromFile();
    bool dropOldestUnsent();
    void dropOne(const char* sWhy);
    void popAcknowledged();
    void pushRow(std::string sPayload);
    size_t indexOf(uint64_t nSeq) const;
    void publishRetained(const std::string& sSubtopic, const std::string& sPayload, int* pnMid);
    void sayOffline(std::unique_lock<std::mutex>& lock);
    static void onConnect(mosquitto* pMosq, void* pSelf, int nResult);
    static void onDisconnect(mosquitto* pMosq, void* pSelf, int nResult);
    static void onPublish(mosquitto* pMosq, void* pSelf, int nMid);
    static void onLog(mosquitto* pMosq, void* pSelf, int nLevel, const char* sText);

    mosquitto* pMosq_ = nullptr;
    std::string sTopic_;
    int nQos_ = 1;
    uint64_t nCapacity_ = 0;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Row> rows_;              // the oldest rows, in order
    size_t nMemoryBytes_ = 0;
    std::map<int, uint64_t> inflight_;  // message id -> sequence number of its row
    uint64_t nNextSeq_ = 0;             // of the next row that comes in
    uint64_t nDropFrom_ = 0;            // rows before this sequence number cannot be dropped
    size_t nSentPrefix_ = 0;            // rows_[0 .. n) have been handed to the library
    // Rows beyond the memory cap, oldest first, in a file that is read back in order.
    int nSpoolFd_ = -1;
    uint64_t nFileRows_ = 0;
    int64_t nFileRead_ = 0, nFileWrite_ = 0;
    bool bConnected_ = false;
    bool bStopping_ = false;
    int nConnackResult_ = -1;           // the broker's answer to the first connection
    std::string sLastProblem_;
    std::string sMeta_;
    int nOfflineMid_ = -1;              // the "offline" status at the end, until the broker has it
    int64_t nLostAt_ = 0;               // monotonic µs when the broker was lost; 0: connected
    bool bSpoolFileSaid_ = false;
    std::atomic<uint64_t> nDropped_{0};
    std::thread sender_;
};

}  // namespace qlog
