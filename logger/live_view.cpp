#include "live_view.h"

#include <errno.h>
#include <sys/socket.h>
#include <stdlib.h>
#include <string.h>

#include <chrono>

#include <httplib.h>

#include "recording_json.h"
#include "web_assets.h"

namespace qlog {

namespace {

// 6-7 updates a second: smooth, and a few kB each.
constexpr auto kTick = std::chrono::milliseconds(150);
// Event streams and the page's own requests, with room for a few more.
constexpr size_t kThreads = LiveView::kMaxViewers + 8;
// A browser sends a dozen header lines of a few kB in all.
constexpr size_t kMaxHeaderLines = 100;
constexpr size_t kMaxHeaderBytes = 16 * 1024;

void secure(httplib::Response& res) {
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Content-Security-Policy", "default-src 'self'; style-src 'self' 'unsafe-inline'");
    res.set_header("Cache-Control", "no-store");
}

// The window asked for: 10, 60, 600 or 3600 (seconds), as the level showing it.
int levelOf(const httplib::Request& req) {
    const std::string sWindow = req.has_param("window") ? req.get_param_value("window") : "10";
    for (int l = 0; l < ViewEnvelope::kLevels; ++l) {
        if (sWindow == std::to_string(static_cast<int>(ViewEnvelope::kWindowSeconds[l]))) return l;
    }
    return -1;
}

}  // namespace

LiveView::LiveView() : server_(new httplib::Server) {}

LiveView::~LiveView() { stop(); }

bool LiveView::listen(const std::string& sHost, int nPort, std::string* pError) {
    httplib::Server& server = *server_;
    server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    server.set_read_timeout(5, 0);
    server.set_write_timeout(5, 0);
    server.set_keep_alive_timeout(5);
    server.set_keep_alive_max_count(1000);
    server.set_payload_max_length(4096);
    // The port is this run's alone: SO_REUSEADDR (a restart finds it free at once), never
    // SO_REUSEPORT, which would let a second run share it and answer half the requests.
    server.set_socket_options([](int fd) {
        int nYes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &nYes, sizeof(nYes));
    });
    // Only GET, and headers of a reasonable size: anything else is answered before a body is read.
    server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        size_t nHeaderBytes = 0;
        for (const auto& header : req.headers) nHeaderBytes += header.first.size() + header.second.size() + 4;
        if (req.headers.size() > kMaxHeaderLines || nHeaderBytes > kMaxHeaderBytes) {
            res.status = 431;
            res.set_header("Connection", "close");
            res.set_content("request header fields too large\n", "text/plain");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.method != "GET" && req.method != "HEAD") {
            res.status = 405;
            res.set_header("Allow", "GET");
            res.set_header("Connection", "close");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    for (size_t i = 0; i < kWebAssetCount; ++i) {
        const WebAsset& asset = kWebAssets[i];
        server.Get(asset.sPath, [&asset](const httplib::Request&, httplib::Response& res) {
            secure(res);
            res.set_content(reinterpret_cast<const char*>(asset.pData), asset.nSize, std::string(asset.sType) + "; charset=utf-8");
        });
    }
    server.Get("/favicon.ico", [](const httplib::Request&, httplib::Response& res) { res.status = 204; });
    server.Get("/status", [this](const httplib::Request&, httplib::Response& res) {
        secure(res);
        res.set_content(statusJson(), "application/json");
    });
    server.Get("/meta", [this](const httplib::Request&, httplib::Response& res) {
        secure(res);
        std::lock_guard<std::mutex> lock(mutex_);
        if (sMeta_.empty()) {
            res.status = 503;
            res.set_content("{\"error\":\"the board is being set up\"}", "application/json");
            return;
        }
        res.set_content(sMeta_, "application/json");
    });
    server.Get("/events", [this](const httplib::Request& req, httplib::Response& res) {
        secure(res);
        const int nLevel = levelOf(req);
        if (nLevel < 0) {
            res.status = 400;
            res.set_content("window must be 10, 60, 600 or 3600\n", "text/plain");
            return;
        }
        if (++nViewers_ > kMaxViewers) {
            --nViewers_;
            res.status = 503;
            res.set_content("too many viewers\n", "text/plain");
            return;
        }
        auto stream = std::make_shared<StreamState>();
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, nLevel, stream](size_t, httplib::DataSink& sink) {
                std::string sMessage;
                const bool bMore = streamEvents(nLevel, stream.get(), &sMessage);
                if (!sMessage.empty() && !sink.write(sMessage.data(), sMessage.size())) return false;
                if (!bMore) sink.done();
                return true;
            },
            [this](bool) { --nViewers_; });
    });

    errno = 0;
    if (nPort == 0) {
        nPort_ = server.bind_to_any_port(sHost);
        if (nPort_ <= 0) nPort_ = 0;
    } else if (server.bind_to_port(sHost, nPort)) {
        nPort_ = nPort;
    }
    if (nPort_ == 0) {
        *pError = "cannot listen on " + sHost + ":" + std::to_string(nPort) + ": " +
                  (errno != 0 ? strerror(errno) : "the address cannot be used");
        return false;
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    return true;
}

void LiveView::attach(const BoardSetup& board, std::shared_ptr<ViewEnvelope> envelope, const std::string& sMeta,
                      std::function<std::string()> facts) {
    // The run's fixed facts, as members of /status: the board's and its channels'.
    Json fixed = boardJson(board);
    fixed["channels"] = channelsJson(board);
    const std::string sFacts = jsonDump(fixed);
    const std::string s = sFacts.substr(1, sFacts.size() - 2);
    std::lock_guard<std::mutex> lock(mutex_);
    envelope_ = std::move(envelope);
    sBoard_ = s;
    sMeta_ = sMeta;
    facts_ = std::move(facts);
    tick_.notify_all();
}

std::string LiveView::statusJson() {
    std::shared_ptr<ViewEnvelope> envelope;
    std::string sBoard;
    std::function<std::string()> facts;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        envelope = envelope_;
        sBoard = sBoard_;
        facts = facts_;
    }
    if (envelope == nullptr) return "{\"state\":\"starting\",\"ended\":false}";
    const bool bEnded = envelope->ended();
    return "{\"state\":\"" + std::string(bEnded ? "ended" : "recording") + "\"," + sBoard + "," + facts() +
           ",\"ended\":" + (bEnded ? "true" : "false") + ",\"view_bytes\":" + std::to_string(envelope->ringBytes()) +
           ",\"latest\":" + envelope->latestJson() + "}";
}

// One event of a stream, after waiting for the next tick. False when the stream is over: the
// run has ended (this event says so) or the server stops.
bool LiveView::streamEvents(int nLevel, StreamState* pStream, std::string* pMessage) {
    uint64_t* pnLast = &pStream->nLast;
    uint64_t* pnGaps = &pStream->nGaps;
    uint64_t* pnLimits = &pStream->nLimits;
    bool* pbFirst = &pStream->bFirst;
    std::shared_ptr<ViewEnvelope> envelope;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!*pbFirst || envelope_ == nullptr) tick_.wait_for(lock, kTick, [this] { return bStopping_; });
        if (bStopping_ && (envelope_ == nullptr || !envelope_->ended())) return false;
        envelope = envelope_;
    }
    if (envelope == nullptr) {
        *pMessage = ": the board is being set up\n\n";  // a comment keeps the connection alive
        return true;
    }
    *pbFirst = false;
    const bool bEnded = envelope->ended();
    bool bReset = false;
    std::string s = "event: view\ndata: {\"window\":" + std::to_string(static_cast<int>(ViewEnvelope::kWindowSeconds[nLevel]));
    char sWidth[32];
    snprintf(sWidth, sizeof(sWidth), "%.9g", envelope->columnSeconds(nLevel));
    s += ",\"column_s\":";
    s += sWidth;
    const std::string sColumns = envelope->columnsJson(nLevel, *pnLast, pnLast, &bReset);
    s += std::string(",\"reset\":") + (bReset ? "true" : "false") + ",\"columns\":" + sColumns;
    uint64_t nGaps = 0;
    const std::string sGaps = envelope->gapsJson(&nGaps);
    if (nGaps != *pnGaps || bReset) s += ",\"gaps\":" + sGaps;
    *pnGaps = nGaps;
    uint64_t nLimitChanges = 0;
    const std::string sLimits = envelope->limitsJson(&nLimitChanges);
    if (nLimitChanges != *pnLimits || bReset) s += ",\"limits\":" + sLimits;
    *pnLimits = nLimitChanges;
    s += ",\"status\":" + statusJson() + "}\n\n";
    *pMessage = s;
    return !bEnded;
}

void LiveView::stop() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bStopping_ = true;
    }
    tick_.notify_all();
    // Open streams send their last event (the end) at the next tick.
    for (int i = 0; i < 20 && nViewers_.load() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server_->stop();
    thread_.join();
}

}  // namespace qlog
