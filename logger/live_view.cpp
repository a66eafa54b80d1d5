#include "live_view.h"

#include <dirent.h>
#include <errno.h>
#include <netdb.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <microhttpd.h>

#include "recording_json.h"
#include "web_assets.h"

namespace qlog {

namespace {

// 6-7 updates a second: smooth, and a few kB each.
constexpr auto kTick = std::chrono::milliseconds(150);
// A browser sends a dozen header lines of a few kB in all; a connection's whole request, its
// headers and what is being sent back live in this much memory, and a request that does not fit
// is answered 431 or 414 and the connection closed.
constexpr size_t kConnectionMemory = 32 * 1024;
constexpr size_t kMaxHeaderLines = 100;
constexpr size_t kMaxHeaderBytes = 16 * 1024;
constexpr size_t kMaxUriBytes = 8 * 1024;
// A connection with nothing to say, or a viewer that reads nothing, is closed after this long.
constexpr unsigned kIdleSeconds = 10;
constexpr size_t kThreadStack = 1024 * 1024;

// Descriptors open in this process now.
unsigned openDescriptors() {
    unsigned n = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr) ++n;
        closedir(dir);
    }
    return n;
}

// As many connections as the descriptors allow once the recording's reserve is set aside.
unsigned connectionLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return LiveView::kMaxConnections;
    const rlim_t nUsed = openDescriptors() + LiveView::kReservedDescriptors;
    if (limit.rlim_cur <= nUsed) return 0;
    return static_cast<unsigned>(std::min<rlim_t>(limit.rlim_cur - nUsed, LiveView::kMaxConnections));
}

// A listening socket on HOST:PORT, or -1 with errno set.
int listenOn(const std::string& sHost, int nPort) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* pFound = nullptr;
    const int nStatus = getaddrinfo(sHost.c_str(), std::to_string(nPort).c_str(), &hints, &pFound);
    if (nStatus != 0) {
        errno = nStatus == EAI_SYSTEM ? errno : EADDRNOTAVAIL;
        return -1;
    }
    int fd = -1;
    int nError = EADDRNOTAVAIL;
    for (addrinfo* p = pFound; p != nullptr && fd < 0; p = p->ai_next) {
        fd = socket(p->ai_family, p->ai_socktype | SOCK_CLOEXEC, p->ai_protocol);
        if (fd < 0) {
            nError = errno;
            continue;
        }
        // The port is this run's alone: SO_REUSEADDR (a restart finds it free at once), never
        // SO_REUSEPORT, which would let a second run share it and answer half the requests.
        int nYes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &nYes, sizeof(nYes));
        if (bind(fd, p->ai_addr, p->ai_addrlen) != 0 || ::listen(fd, 64) != 0) {
            nError = errno;
            close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(pFound);
    errno = nError;
    return fd;
}

int boundPort(int fd) {
    sockaddr_storage address{};
    socklen_t nSize = sizeof(address);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &nSize) != 0) return 0;
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
}

void secure(MHD_Response* response) {
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "Content-Security-Policy", "default-src 'self'; style-src 'self' 'unsafe-inline'");
    MHD_add_response_header(response, "Cache-Control", "no-store");
}

// Answers with a copy of sBody; a refusal also closes the connection, so nothing the client
// still sends is read.
int respond(MHD_Connection* connection, unsigned nStatus, const std::string& sBody, const char* sType,
            bool bClose = false) {
    MHD_Response* response = MHD_create_response_from_buffer(sBody.size(), const_cast<char*>(sBody.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) return MHD_NO;
    if (sType != nullptr) MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, sType);
    if (nStatus == MHD_HTTP_METHOD_NOT_ALLOWED) MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET");
    if (bClose) MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    if (nStatus == MHD_HTTP_OK) secure(response);
    const MHD_Result result = MHD_queue_response(connection, nStatus, response);
    MHD_destroy_response(response);
    return result;
}

struct HeaderSize {
    size_t nLines = 0;
    size_t nBytes = 0;
};

MHD_Result countHeader(void* pSize, MHD_ValueKind, const char* sKey, const char* sValue) {
    auto* size = static_cast<HeaderSize*>(pSize);
    ++size->nLines;
    size->nBytes += strlen(sKey) + (sValue != nullptr ? strlen(sValue) : 0) + 4;
    return MHD_YES;
}

// The window asked for: 10, 60, 600 or 3600 (seconds), as the level showing it.
int levelOf(MHD_Connection* connection) {
    const char* sAsked = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "window");
    const std::string sWindow = sAsked != nullptr ? sAsked : "10";
    for (int l = 0; l < ViewEnvelope::kLevels; ++l) {
        if (sWindow == std::to_string(static_cast<int>(ViewEnvelope::kWindowSeconds[l]))) return l;
    }
    return -1;
}

// Marks the request's first call, after which the server library would read a body.
char gRequestSeen;

}  // namespace

struct LiveView::EventStream {
    LiveView* view;
    int nLevel;
    StreamState state;
    std::string sPending;
    size_t nSent = 0;
    bool bEnded = false;
};

struct LiveView::Callbacks {
    static MHD_Result onRequest(void* pThis, MHD_Connection* connection, const char* sUrl, const char* sMethod,
                                const char*, const char*, size_t* pnUpload, void** ppRequest) {
        auto* view = static_cast<LiveView*>(pThis);
        if (*ppRequest == nullptr) {
            // The headers are in: what cannot be answered is refused now, before any body is read,
            // and the connection closed. The rest is answered at the next call, as the library
            // keeps a connection open only for a request answered after its headers were taken.
            *ppRequest = &gRequestSeen;
            view->refuse(connection, sUrl, sMethod);
            return MHD_YES;
        }
        if (*pnUpload != 0) {  // nothing is uploaded to the view
            *pnUpload = 0;
            return MHD_YES;
        }
        {
            std::lock_guard<std::mutex> lock(view->mutex_);
            auto found = view->waiting_.find(connection);
            if (found != view->waiting_.end()) found->second.bAnswering = true;
        }
        return view->answer(connection, sUrl) == MHD_YES ? MHD_YES : MHD_NO;
    }

    static void onCompleted(void* pThis, MHD_Connection* connection, void**, MHD_RequestTerminationCode) {
        auto* view = static_cast<LiveView*>(pThis);
        std::lock_guard<std::mutex> lock(view->mutex_);
        auto found = view->waiting_.find(connection);
        if (found == view->waiting_.end()) return;
        found->second.bAnswering = false;
        found->second.since = std::chrono::steady_clock::now();
    }

    static void onConnection(void* pThis, MHD_Connection* connection, void**, MHD_ConnectionNotificationCode what) {
        auto* view = static_cast<LiveView*>(pThis);
        std::lock_guard<std::mutex> lock(view->mutex_);
        if (what == MHD_CONNECTION_NOTIFY_CLOSED) {
            view->waiting_.erase(connection);
            return;
        }
        const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
        Waiting& waiting = view->waiting_[connection];
        waiting.fd = info != nullptr ? info->connect_fd : -1;
        waiting.since = std::chrono::steady_clock::now();
    }

    static ssize_t readEvents(void* pStream, uint64_t, char* pBuffer, size_t nMax) {
        auto* stream = static_cast<EventStream*>(pStream);
        while (stream->nSent == stream->sPending.size()) {
            if (stream->bEnded) return MHD_CONTENT_READER_END_OF_STREAM;
            stream->sPending.clear();
            stream->nSent = 0;
            stream->bEnded = !stream->view->streamEvents(stream->nLevel, &stream->state, &stream->sPending);
        }
        const size_t n = std::min(nMax, stream->sPending.size() - stream->nSent);
        memcpy(pBuffer, stream->sPending.data() + stream->nSent, n);
        stream->nSent += n;
        return static_cast<ssize_t>(n);
    }

    static void endEvents(void* pStream) {
        auto* stream = static_cast<EventStream*>(pStream);
        --stream->view->nViewers_;
        delete stream;
    }
};

LiveView::LiveView() = default;

LiveView::~LiveView() { stop(); }

bool LiveView::listen(const std::string& sHost, int nPort, std::string* pError) {
    const auto fail = [&](const std::string& sWhy) {
        *pError = "cannot listen on " + sHost + ":" + std::to_string(nPort) + ": " + sWhy;
        return false;
    };
    const unsigned nConnections = connectionLimit();
    if (nConnections < 8) {
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        return fail("too few file descriptors to serve a view beside the recording (ulimit -n is " +
                    std::to_string(limit.rlim_cur) + ")");
    }
    const int fd = listenOn(sHost, nPort);
    if (fd < 0) return fail(strerror(errno));
    nPort_ = boundPort(fd);
    // One thread per connection: a slow client holds its own thread only, never another's answer.
    daemon_ = MHD_start_daemon(
        MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL, 0, nullptr, nullptr,
        &Callbacks::onRequest, this,
        MHD_OPTION_LISTEN_SOCKET, fd,
        MHD_OPTION_CONNECTION_LIMIT, nConnections,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, std::min(kMaxPerAddress, nConnections),
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory,
        MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds,
        MHD_OPTION_THREAD_STACK_SIZE, kThreadStack,
        MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::onCompleted, this,
        MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::onConnection, this,
        MHD_OPTION_END);
    if (daemon_ == nullptr) {
        close(fd);
        return fail("the server could not start");
    }
    cutter_ = std::thread([this] { cutSlowRequests(); });
    return true;
}

void LiveView::refuse(MHD_Connection* connection, const std::string& sUrl, const std::string& sMethod) {
    if (sMethod != MHD_HTTP_METHOD_GET && sMethod != MHD_HTTP_METHOD_HEAD) {
        respond(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "", nullptr, true);
        return;
    }
    HeaderSize headers;
    MHD_get_connection_values(connection, MHD_HEADER_KIND, &countHeader, &headers);
    if (headers.nLines > kMaxHeaderLines || headers.nBytes > kMaxHeaderBytes) {
        respond(connection, MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE, "request header fields too large\n", "text/plain", true);
        return;
    }
    HeaderSize query;
    MHD_get_connection_values(connection, MHD_GET_ARGUMENT_KIND, &countHeader, &query);
    if (sUrl.size() + query.nBytes > kMaxUriBytes) {
        respond(connection, MHD_HTTP_URI_TOO_LONG, "request line too long\n", "text/plain", true);
        return;
    }
    const char* sLength = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if ((sLength != nullptr && strcmp(sLength, "0") != 0) ||
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING) != nullptr) {
        respond(connection, MHD_HTTP_CONTENT_TOO_LARGE, "a GET has no body\n", "text/plain", true);
    }
}

int LiveView::answer(MHD_Connection* connection, const std::string& sUrl) {
    for (size_t i = 0; i < kWebAssetCount; ++i) {
        const WebAsset& asset = kWebAssets[i];
        if (sUrl != asset.sPath) continue;
        MHD_Response* response = MHD_create_response_from_buffer(asset.nSize, const_cast<unsigned char*>(asset.pData),
                                                                 MHD_RESPMEM_PERSISTENT);
        if (response == nullptr) return MHD_NO;
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, (std::string(asset.sType) + "; charset=utf-8").c_str());
        secure(response);
        const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
        MHD_destroy_response(response);
        return result;
    }
    if (sUrl == "/favicon.ico") return respond(connection, MHD_HTTP_NO_CONTENT, "", nullptr);
    if (sUrl == "/status") return respond(connection, MHD_HTTP_OK, statusJson(), "application/json");
    if (sUrl == "/meta") {
        std::string sMeta;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            sMeta = sMeta_;
        }
        if (sMeta.empty()) {
            return respond(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "{\"error\":\"the board is being set up\"}",
                           "application/json");
        }
        return respond(connection, MHD_HTTP_OK, sMeta, "application/json");
    }
    if (sUrl == "/events") return answerEvents(connection);
    return respond(connection, MHD_HTTP_NOT_FOUND, "not found\n", "text/plain");
}

int LiveView::answerEvents(MHD_Connection* connection) {
    const int nLevel = levelOf(connection);
    if (nLevel < 0) return respond(connection, MHD_HTTP_BAD_REQUEST, "window must be 10, 60, 600 or 3600\n", "text/plain");
    if (++nViewers_ > kMaxViewers) {
        --nViewers_;
        return respond(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "too many viewers\n", "text/plain");
    }
    auto* stream = new EventStream{this, nLevel, {}, {}, 0, false};
    MHD_Response* response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16 * 1024, &Callbacks::readEvents,
                                                                stream, &Callbacks::endEvents);
    if (response == nullptr) {
        Callbacks::endEvents(stream);
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
    secure(response);
    const MHD_Result result = MHD_queue_response(connection, MHD_HTTP_OK, response);
    MHD_destroy_response(response);
    return result;
}

// Cuts connections whose request has not arrived whole within kRequestSeconds: a client that
// drips a byte now and then is never idle, and would hold its connection for ever.
void LiveView::cutSlowRequests() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!bStopping_) {
        tick_.wait_for(lock, std::chrono::seconds(1), [this] { return bStopping_; });
        const auto now = std::chrono::steady_clock::now();
        for (auto& entry : waiting_) {
            Waiting& waiting = entry.second;
            if (waiting.bAnswering || waiting.fd < 0 || now - waiting.since < std::chrono::seconds(kRequestSeconds)) continue;
            // The library closes the descriptor only after telling us, under this lock.
            shutdown(waiting.fd, SHUT_RDWR);
            waiting.fd = -1;
        }
    }
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
           ",\"latest\":" + envelope->latestJson() + ",\"alarms\":" + envelope->alarmsJson() + "}";
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
    if (daemon_ == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bStopping_ = true;
    }
    tick_.notify_all();
    cutter_.join();
    // Open streams send their last event (the end) at the next tick.
    for (int i = 0; i < 20 && nViewers_.load() > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    // Closes the listening socket and every connection, whatever its client is doing.
    MHD_stop_daemon(daemon_);
    daemon_ = nullptr;
}

}  // namespace qlog
