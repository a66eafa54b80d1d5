// Publishing rows to an MQTT broker (libmosquitto): one message per written row, at least once,
// in order, through the spool (mqtt_spool.h) between the writer and the broker.
//
// While the broker cannot be reached the rows wait in the spool and go out in order when it is
// back (rows in flight when it went away are sent again: a subscriber may see a scan twice and
// drops the repeat).
//
// What a dashboard needs beside the rows is retained on the broker and sent again at every
// (re)connect, since a broker restarted without persistence has forgotten it: <topic>/meta (what
// the rows mean) and <topic>/status ("online"; "offline" at a clean end, and as the last will when
// the logger goes away without one). A lost and a regained broker are said on standard error.
#pragma once

#include <stdint.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "log_options.h"
#include "mqtt_spool.h"

struct mosquitto;

namespace qlog {

class MqttPublisher {
public:
    MqttPublisher();
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Connects (waiting at most kConnectSeconds). False with the reason: a refused connection,
    // wrong credentials, an unknown CA.
    bool start(const MqttOptions& options, uint64_t nSpoolRows, std::string* pError);
    // The retained message on <topic>/meta (QoS 1) that says what the rows mean; sent now and at
    // every reconnect.
    void publishMeta(const std::string& sMeta);
    // A row's message, from the writer thread.
    void publish(std::string sPayload);
    // An alarm event: the channel's state retained on <topic>/alarm/<channel> (sent again at every
    // reconnect) and the event on <topic>/alarms, with the rows' QoS; events while the broker is
    // away wait for it (up to kMaxWaitingEvents).
    void publishAlarm(const std::string& sChannel, const std::string& sState, const std::string& sEvent);
    // Waits at most kDrainSeconds for the broker to take what is left, counts the rest as dropped,
    // and disconnects.
    void finish();

    uint64_t dropped() const { return spool_ != nullptr ? spool_->dropped() : 0; }
    uint64_t spooled() const;

    static constexpr int kConnectSeconds = 10;
    static constexpr int kDrainSeconds = 10;
    static constexpr int kConnectFailed = -2;
    static constexpr size_t kMaxWaitingEvents = 1000;  // nConnackResult_: the first connection failed without an answer

private:
    void sendLoop();
    void publishRetained(const std::string& sSubtopic, const std::string& sPayload, int* pnMid);
    void sayOffline(std::unique_lock<std::mutex>& lock);
    static void onConnect(mosquitto* pMosq, void* pSelf, int nResult);
    static void onDisconnect(mosquitto* pMosq, void* pSelf, int nResult);
    static void onPublish(mosquitto* pMosq, void* pSelf, int nMid);
    static void onLog(mosquitto* pMosq, void* pSelf, int nLevel, const char* sText);

    mosquitto* pMosq_ = nullptr;
    std::string sTopic_;
    int nQos_ = 1;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::unique_ptr<MqttSpool> spool_;  // made at the start; guarded by mutex_
    std::map<int, uint64_t> inflight_;  // message id -> sequence number of its row
    bool bConnected_ = false;
    bool bStopping_ = false;
    int nConnackResult_ = -1;           // the broker's answer to the first connection
    std::string sLastProblem_;
    std::string sMeta_;
    std::map<std::string, std::string> alarmStates_;  // channel -> its retained state
    std::vector<std::string> waitingEvents_;          // events while the broker was away
    int nOfflineMid_ = -1;              // the "offline" status at the end, until the broker has it
    int64_t nLostAt_ = 0;               // monotonic µs when the broker was lost; 0: connected
    std::thread sender_;
};

}  // namespace qlog
