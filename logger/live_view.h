// queno_log --http: the recording live in a browser. A small read-only HTTP server (GET only,
// nothing from the disk: the page, its script and the chart library are built in) that serves
//   /         the page: charts per unit or per channel over 10 s .. 1 h, latest values, gaps, facts
//   /events   Server-Sent Events, 6-7 a second: the new columns of the chosen window and the facts
//   /status   the facts as one JSON object, for scripts
//   /meta     what the file's header says, as MQTT's retained meta message carries it
// At most kMaxViewers event streams; more get 503. A viewer that does not read loses updates (its
// writes time out), never scans: the recording's threads never wait for a viewer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "acquisition_core.h"
#include "view_envelope.h"

namespace httplib {
class Server;
}

namespace qlog {

class LiveView {
public:
    static constexpr int kMaxViewers = 16;

    LiveView();
    ~LiveView();
    LiveView(const LiveView&) = delete;
    LiveView& operator=(const LiveView&) = delete;

    // Binds HOST:PORT (port 0: a free one) and starts serving. False with *pError when it cannot.
    bool listen(const std::string& sHost, int nPort, std::string* pError);
    int port() const { return nPort_; }

    // The run: its envelope, the meta message, and the facts of the moment as JSON members
    // ("elapsed_s":..,"scans_written":..,...).
    void attach(const BoardSetup& board, std::shared_ptr<ViewEnvelope> envelope, const std::string& sMeta,
                std::function<std::string()> facts);
    // Gives open event streams up to a second to send the end, then stops the server.
    void stop();

private:
    std::string statusJson();
    // What one event stream has sent so far.
    struct StreamState {
        uint64_t nLast = 0;              // the last column's sequence number
        uint64_t nGaps = UINT64_MAX;     // gaps and limit changes as last sent
        uint64_t nLimits = UINT64_MAX;
        bool bFirst = true;
    };
    bool streamEvents(int nLevel, StreamState* pStream, std::string* pMessage);

    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int nPort_ = 0;
    std::atomic<int> nViewers_{0};

    std::mutex mutex_;
    std::condition_variable tick_;
    bool bStopping_ = false;
    std::shared_ptr<ViewEnvelope> envelope_;
    std::string sBoard_;  // the run's fixed facts as JSON members
    std::string sMeta_;
    std::function<std::string()> facts_;
};

}  // namespace qlog
