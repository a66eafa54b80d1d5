// queno_log --http: the recording live in a browser. A small read-only HTTP server (GET only,
// nothing from the disk: the page, its script and the chart library are built in) that serves
//   /         the page: charts per unit or per channel over 10 s .. 1 h, latest values, gaps, facts
//   /events   Server-Sent Events, 6-7 a second: the new columns of the chosen window and the facts
//   /status   the facts as one JSON object, for scripts
//   /meta     what the file's header says, as MQTT's retained meta message carries it
// The server runs beside a recording that may last months on a machine shared with other users,
// so everything a client can make it hold is bounded: connections in all and per address (within
// the descriptors the recording leaves, never taking those it needs), memory per connection, and
// the time a request may take to arrive. At most kMaxViewers event streams; more get 503. A viewer
// that does not read loses updates (its writes time out), never scans: the recording's threads
// never wait for a viewer. Every connection is closed when the run ends.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "acquisition_core.h"
#include "view_envelope.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace qlog {

class LiveView {
public:
    static constexpr int kMaxViewers = 16;
    static constexpr unsigned kMaxConnections = 128;  // in all, fewer where descriptors are short
    static constexpr unsigned kMaxPerAddress = 64;
    static constexpr unsigned kReservedDescriptors = 64;  // the recording's: files, broker, driver
    static constexpr int kRequestSeconds = 10;  // from a connection's first byte to a whole request

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
    // Gives open event streams up to a second to send the end, then closes every connection.
    void stop();

private:
    // What one event stream has sent so far.
    struct StreamState {
        uint64_t nLast = 0;              // the last column's sequence number
        uint64_t nGaps = UINT64_MAX;     // gaps and limit changes as last sent
        uint64_t nLimits = UINT64_MAX;
        bool bFirst = true;
    };
    struct EventStream;
    // A connection waiting for a request since a moment; one that takes longer than
    // kRequestSeconds is cut, however slowly it keeps dripping bytes.
    struct Waiting {
        int fd = -1;
        bool bAnswering = false;
        std::chrono::steady_clock::time_point since;
    };

    struct Callbacks;  // the server library's callbacks, with its own types
    // A request refused at its headers (method, sizes, a body) is answered and closed here.
    void refuse(MHD_Connection* connection, const std::string& sUrl, const std::string& sMethod);
    int answer(MHD_Connection* connection, const std::string& sUrl);
    int answerEvents(MHD_Connection* connection);
    void cutSlowRequests();

    std::string statusJson();
    bool streamEvents(int nLevel, StreamState* pStream, std::string* pMessage);

    MHD_Daemon* daemon_ = nullptr;
    int nPort_ = 0;
    std::atomic<int> nViewers_{0};
    std::thread cutter_;

    std::mutex mutex_;
    std::condition_variable tick_;
    bool bStopping_ = false;
    std::map<MHD_Connection*, Waiting> waiting_;
    std::shared_ptr<ViewEnvelope> envelope_;
    std::string sBoard_;  // the run's fixed facts as JSON members
    std::string sMeta_;
    std::function<std::string()> facts_;
};

}  // namespace qlog
