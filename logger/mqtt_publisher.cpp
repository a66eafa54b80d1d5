#include "mqtt_publisher.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <mosquitto.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <fstream>

#include "host_port.h"
#include "program_messages.h"
#include "stop_signals.h"
#include "value_text.h"

namespace qlog {

namespace {

constexpr size_t kWindow = 1000;                    // messages in flight at once
constexpr size_t kMemoryBytes = 64u << 20;          // rows kept in memory; the rest in the spool file
constexpr int kOfflineWaitSeconds = 2;              // for the broker to take the "offline" status
// The system's CA certificates: the library wants a CA file or folder for TLS even when it is told
// to trust the system's (and keeps TLS across reconnects only then).
constexpr char kSystemCaPath[] = "/etc/ssl/certs";

std::once_flag gLibraryOnce;

// A secret kept where others can read it is said; a directory is no password file.
bool readPassword(const std::string& sFile, std::string* pPassword, std::string* pError) {
    struct stat info = {};
    if (stat(sFile.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        *pError = "the password file " + sFile + " is a directory";
        return false;
    }
    if (stat(sFile.c_str(), &info) == 0 && (info.st_mode & 077) != 0) {
        say("MQTT: warning: the password file " + sFile + " can be read by others than its owner (chmod 600 " + sFile + ")");
    }
    std::ifstream in(sFile);
    if (!in) {
        *pError = "cannot read the password file " + sFile + ": " + strerror(errno);
        return false;
    }
    std::getline(in, *pPassword);
    if (!pPassword->empty() && pPassword->back() == '\r') pPassword->pop_back();
    return true;
}

// The broker's port is tried with a plain TCP connection first: a refused, unreachable or silent
// port is said at once, where the library would retry it quietly (and, with TLS, busily) until the
// time-out.
bool reachable(const std::string& sHost, int nPort, int nSeconds, std::string* pProblem) {
    addrinfo hints = {};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* pFound = nullptr;
    int nLookup = getaddrinfo(sHost.c_str(), std::to_string(nPort).c_str(), &hints, &pFound);
    if (nLookup != 0) {
        *pProblem = std::string("host not found: ") + gai_strerror(nLookup);
        return false;
    }
    bool bReached = false;
    *pProblem = "no address to connect to";
    for (addrinfo* p = pFound; p != nullptr && !bReached; p = p->ai_next) {
        int fd = socket(p->ai_family, p->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, p->ai_protocol);
        if (fd < 0) continue;
        int nError = connect(fd, p->ai_addr, p->ai_addrlen) == 0 ? 0 : errno;
        if (nError == EINPROGRESS) {
            // A stop signal ends the wait too (its descriptor turns readable).
            pollfd waits[2] = {{fd, POLLOUT, 0}, {StopSignalDescriptor(), POLLIN, 0}};
            socklen_t nSize = sizeof(nError);
            const int nReady = poll(waits, waits[1].fd >= 0 ? 2 : 1, nSeconds * 1000);
            if (StopSignalReceived() != 0) nError = EINTR;
            else if (nReady < 1 || (waits[0].revents & (POLLOUT | POLLERR | POLLHUP)) == 0) nError = ETIMEDOUT;
            else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &nError, &nSize) != 0) nError = errno;
        }
        close(fd);
        bReached = nError == 0;
        if (!bReached) *pProblem = nError == ETIMEDOUT ? "no answer within " + std::to_string(nSeconds) + " s" : strerror(nError);
    }
    freeaddrinfo(pFound);
    return bReached;
}

// What a row held in memory costs: its text, and the row and the allocation around it.
size_t memoryOf(const std::string& sPayload) { return sPayload.size() + 96; }

std::string utcNow() {
    char sTime[40];
    formatUtcMicros(utcMicrosNow(), sTime, sizeof(sTime));
    return sTime;
}

}  // namespace

MqttPublisher::MqttPublisher() { std::call_once(gLibraryOnce, [] { mosquitto_lib_init(); }); }

MqttPublisher::~MqttPublisher() {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!bStopping_ && bConnected_) sayOffline(lock);  // a run that ended without finish()
        bStopping_ = true;
    }
    wake_.notify_all();
    if (sender_.joinable()) sender_.join();
    if (pMosq_ != nullptr) {
        mosquitto_disconnect(pMosq_);
        // A thread still stuck in a first handshake that never got an answer is not waited for.
        mosquitto_loop_stop(pMosq_, nConnackResult_ != 0);
        mosquitto_destroy(pMosq_);
    }
    if (nSpoolFd_ >= 0) close(nSpoolFd_);
}

bool MqttPublisher::start(const MqttOptions& options, uint64_t nSpoolRows, std::string* pError) {
    const std::string& sHost = options.sHost;
    const int nPort = options.nPort;
    const bool bTls = options.bTls;
    sTopic_ = options.sTopic;
    nQos_ = options.nQos;
    nCapacity_ = nSpoolRows;
    char sHostName[256] = {0};
    gethostname(sHostName, sizeof(sHostName) - 1);
    std::string sClientId = "queno_log-" + std::string(sHostName) + "-" + std::to_string(getpid());
    if (sClientId.size() > 64) sClientId = sClientId.substr(sClientId.size() - 64);
    pMosq_ = mosquitto_new(sClientId.c_str(), true, this);
    if (pMosq_ == nullptr) {
        *pError = std::string("cannot make an MQTT client: ") + strerror(errno);
        return false;
    }
    if (!options.sUser.empty()) {
        std::string sPassword;
        if (!options.sPasswordFile.empty() && !readPassword(options.sPasswordFile, &sPassword, pError)) return false;
        mosquitto_username_pw_set(pMosq_, options.sUser.c_str(), options.sPasswordFile.empty() ? nullptr : sPassword.c_str());
    }
    if (bTls) {
        // Without --cafile the system's CAs are trusted (SSL_CERT_FILE and SSL_CERT_DIR move them).
        if (options.sCaFile.empty()) mosquitto_int_option(pMosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        int nTls = mosquitto_tls_set(pMosq_, options.sCaFile.empty() ? nullptr : options.sCaFile.c_str(),
                                     options.sCaFile.empty() ? kSystemCaPath : nullptr,
                                     options.sCert.empty() ? nullptr : options.sCert.c_str(),
                                     options.sKey.empty() ? nullptr : options.sKey.c_str(), nullptr);
        if (nTls != MOSQ_ERR_SUCCESS) {
            *pError = std::string("TLS cannot be set up: ") + mosquitto_strerror(nTls) + " (check --cafile, --cert, --key)";
            return false;
        }
    }
    // A logger that goes away without its clean end leaves "offline" all the same.
    const std::string sStatusTopic = sTopic_ + "/status";
    mosquitto_will_set(pMosq_, sStatusTopic.c_str(), 7, "offline", 1, true);
    mosquitto_max_inflight_messages_set(pMosq_, kWindow);
    // Back-off from 1 s, growing to 5 s: a broker that is back is found within seconds.
    mosquitto_reconnect_delay_set(pMosq_, 1, 5, true);
    mosquitto_connect_callback_set(pMosq_, onConnect);
    mosquitto_disconnect_callback_set(pMosq_, onDisconnect);
    mosquitto_publish_callback_set(pMosq_, onPublish);
    mosquitto_log_callback_set(pMosq_, onLog);

    const std::string sWhere = hostPortText(sHost, nPort);
    const std::string sTlsHint =
        " (the broker's certificate was not accepted: is it signed by " +
        std::string(options.sCaFile.empty() ? "a CA of this system (or give --cafile)" : "the --cafile given") +
        ", issued for " + sHost + " and within its dates?)";
    std::string sProblem;
    if (!reachable(sHost, nPort, kConnectSeconds, &sProblem)) {
        *pError = StopSignalReceived() != 0 ? "stopped while connecting to " + sWhere : "cannot connect to " + sWhere + ": " + sProblem;
        return false;
    }
    int nResult = mosquitto_connect_async(pMosq_, sHost.c_str(), nPort, 30);
    if (nResult != MOSQ_ERR_SUCCESS) {
        std::lock_guard<std::mutex> lock(mutex_);
        *pError = "cannot connect to " + sWhere + ": " +
                  (nResult == MOSQ_ERR_ERRNO ? strerror(errno) : mosquitto_strerror(nResult)) +
                  (sLastProblem_.empty() ? "" : " " + sLastProblem_) + (nResult == MOSQ_ERR_TLS ? sTlsHint : "");
        return false;
    }
    mosquitto_loop_start(pMosq_);
    {
        std::unique_lock<std::mutex> lock(mutex_);
        // In slices, so that a stop signal is taken within a tenth of a second of a silent broker.
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(kConnectSeconds);
        while (nConnackResult_ == -1 && StopSignalReceived() == 0 && std::chrono::steady_clock::now() < giveUp) {
            wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return nConnackResult_ != -1; });
        }
        if (nConnackResult_ == -1 && StopSignalReceived() != 0) {
            *pError = "stopped while connecting to " + sWhere;
            return false;
        }
        const bool bCertificate = sLastProblem_.find("certificate") != std::string::npos;
        if (nConnackResult_ == kConnectFailed) {
            *pError = "cannot connect to " + sWhere + ": " + sLastProblem_ + (bTls && bCertificate ? sTlsHint : "");
            return false;
        }
        if (nConnackResult_ == -1) {
            *pError = "no connection to " + sWhere + " within " + std::to_string(kConnectSeconds) + " s" +
                      (sLastProblem_.empty() ? "" : ": " + sLastProblem_) + (bTls && bCertificate ? sTlsHint : "");
            return false;
        }
        if (nConnackResult_ != 0) {
            *pError = sWhere + " refused the connection: " + mosquitto_connack_string(nConnackResult_);
            return false;
        }
    }
    const char* sTmp = getenv("TMPDIR");
    std::string sTemplate = std::string(sTmp != nullptr && sTmp[0] == '/' ? sTmp : "/tmp") + "/queno_log-spool-XXXXXX";
    nSpoolFd_ = mkstemp(&sTemplate[0]);
    if (nSpoolFd_ >= 0) unlink(sTemplate.c_str());  // nobody else needs its name; it goes with the process
    sender_ = std::thread(&MqttPublisher::sendLoop, this);
    return true;
}

void MqttPublisher::publishRetained(const std::string& sSubtopic, const std::string& sPayload, int* pnMid) {
    mosquitto_publish(pMosq_, pnMid, (sTopic_ + sSubtopic).c_str(), static_cast<int>(sPayload.size()), sPayload.data(), 1,
                      true);
}

void MqttPublisher::publishMeta(const std::string& sMeta) {
    std::lock_guard<std::mutex> lock(mutex_);
    sMeta_ = sMeta;
    if (bConnected_) publishRetained("/meta", sMeta_, nullptr);
}

// The clean end's "offline", waited for a moment: the disconnect after it would lose it.
void MqttPublisher::sayOffline(std::unique_lock<std::mutex>& lock) {
    int nMid = -1;
    publishRetained("/status", "offline", &nMid);
    nOfflineMid_ = nMid;
    wake_.wait_for(lock, std::chrono::seconds(kOfflineWaitSeconds), [this] { return nOfflineMid_ == -1 || !bConnected_; });
    nOfflineMid_ = -1;
}

uint64_t MqttPublisher::spooled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rows_.size() + nFileRows_;
}

// The position of a row in rows_ (rows_.size() when it is not there): rows_ is ordered by sequence.
size_t MqttPublisher::indexOf(uint64_t nSeq) const {
    auto it = std::lower_bound(rows_.begin(), rows_.end(), nSeq, [](const Row& row, uint64_t n) { return row.nSeq < n; });
    return static_cast<size_t>(it - rows_.begin());
}

// The oldest row never handed to the library leaves the spool, counted, and its memory with it.
// Rows that may already be with the broker stay, so a drop is exact. Rows before nDropFrom_ were
// passed over once and can never be dropped, so a long outage does not search past them again.
bool MqttPublisher::dropOldestUnsent() {
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
        uint32_t nLength = 0;
        if (pread(nSpoolFd_, &nLength, sizeof(nLength), nFileRead_) == static_cast<ssize_t>(sizeof(nLength))) {
            nFileRead_ += static_cast<int64_t>(sizeof(nLength) + nLength);
            --nFileRows_;
            nDropped_.fetch_add(1);
            return true;
        }
    }
    return false;
}

void MqttPublisher::pushRow(std::string sPayload) {
    nMemoryBytes_ += memoryOf(sPayload);
    rows_.push_back(Row{std::move(sPayload), nNextSeq_++, false, false});
}

void MqttPublisher::publish(std::string sPayload) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (nCapacity_ > 0 && rows_.size() + nFileRows_ >= nCapacity_) dropOldestUnsent();
    if (nFileRows_ > 0 || nMemoryBytes_ + memoryOf(sPayload) > kMemoryBytes) {
        // Memory is full: the row waits in the file. A file that cannot take it costs the row,
        // never more memory than the cap.
        uint32_t nLength = static_cast<uint32_t>(sPayload.size());
        std::string sRecord(reinterpret_cast<const char*>(&nLength), sizeof(nLength));
        sRecord += sPayload;
        const ssize_t nWritten = nSpoolFd_ >= 0 ? pwrite(nSpoolFd_, sRecord.data(), sRecord.size(), nFileWrite_) : -1;
        if (nWritten == static_cast<ssize_t>(sRecord.size())) {
            nFileWrite_ += static_cast<int64_t>(sRecord.size());
            ++nFileRows_;  // numbered when it comes back: only the order of rows_ counts
            wake_.notify_all();
            return;
        }
        if (!bSpoolFileSaid_) {
            say(textf("MQTT: the spool file cannot be written (%s): rows beyond %zu MiB waiting are dropped",
                      nSpoolFd_ < 0 ? "it could not be made" : nWritten >= 0 ? strerror(ENOSPC) : strerror(errno),
                      kMemoryBytes >> 20));
            bSpoolFileSaid_ = true;
        }
        nDropped_.fetch_add(1);
        return;
    }
    pushRow(std::move(sPayload));
    wake_.notify_all();
}

// The front rows the broker has taken (or that were dropped) leave; the file refills memory.
void MqttPublisher::popAcknowledged() {
    while (!rows_.empty() && rows_.front().bAcked) {
        nMemoryBytes_ -= memoryOf(rows_.front().sPayload);
        rows_.pop_front();
        if (nSentPrefix_ > 0) --nSentPrefix_;
    }
    refillFromFile();
}

// Rows come back from the file, in order, when memory has room for them.
void MqttPublisher::refillFromFile() {
    while (nFileRows_ > 0 && nMemoryBytes_ < kMemoryBytes / 2) {
        uint32_t nLength = 0;
        if (pread(nSpoolFd_, &nLength, sizeof(nLength), nFileRead_) != static_cast<ssize_t>(sizeof(nLength))) break;
        std::string sPayload(nLength, '\0');
        if (pread(nSpoolFd_, &sPayload[0], nLength, nFileRead_ + static_cast<int64_t>(sizeof(nLength))) !=
            static_cast<ssize_t>(nLength)) {
            break;
        }
        nFileRead_ += static_cast<int64_t>(sizeof(nLength) + nLength);
        --nFileRows_;
        pushRow(std::move(sPayload));
    }
    if (nFileRows_ == 0 && nFileWrite_ > 0) {
        nFileRead_ = nFileWrite_ = 0;
        if (ftruncate(nSpoolFd_, 0) != 0) return;
    }
}

void MqttPublisher::sendLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] {
            return bStopping_ || (bConnected_ && nSentPrefix_ < rows_.size() && inflight_.size() < kWindow);
        });
        if (bStopping_) return;
        Row& row = rows_[nSentPrefix_];
        const uint64_t nSeq = row.nSeq;
        if (row.bAcked) {  // acknowledged before a reconnect
            ++nSentPrefix_;
            popAcknowledged();
            continue;
        }
        int nMid = 0;
        // Under our lock: an acknowledgement of this message waits for its entry in inflight_.
        int nResult = mosquitto_publish(pMosq_, &nMid, sTopic_.c_str(), static_cast<int>(row.sPayload.size()),
                                        row.sPayload.data(), nQos_, false);
        if (nResult != MOSQ_ERR_SUCCESS) {
            bConnected_ = false;  // the connection is gone; the reconnect tells us when it is back
            continue;
        }
        row.bEverSent = true;
        inflight_[nMid] = nSeq;
        ++nSentPrefix_;
    }
}

void MqttPublisher::finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::seconds(kDrainSeconds), [this] { return rows_.empty() && nFileRows_ == 0; });
    uint64_t nLeft = nFileRows_;
    for (const Row& row : rows_) nLeft += row.bAcked ? 0 : 1;
    nDropped_.fetch_add(nLeft);
    rows_.clear();
    nFileRows_ = 0;
    if (bConnected_) sayOffline(lock);
    bStopping_ = true;
    lock.unlock();
    wake_.notify_all();
    if (sender_.joinable()) sender_.join();
}

void MqttPublisher::onConnect(mosquitto*, void* pSelf, int nResult) {
    auto* self = static_cast<MqttPublisher*>(pSelf);
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (self->nConnackResult_ == -1) self->nConnackResult_ = nResult;
    self->bConnected_ = nResult == 0;
    if (nResult != 0) self->sLastProblem_ = mosquitto_connack_string(nResult);
    if (nResult == 0) {
        if (self->nLostAt_ != 0) {
            say(textf("MQTT: broker back after %.1f s, %llu rows to send", static_cast<double>(monotonicMicros() - self->nLostAt_) / 1e6,
                      static_cast<unsigned long long>(self->rows_.size() + self->nFileRows_)));
            self->nLostAt_ = 0;
        }
        // A broker restarted without persistence has forgotten both.
        self->publishRetained("/status", "online", nullptr);
        if (!self->sMeta_.empty()) self->publishRetained("/meta", self->sMeta_, nullptr);
    }
    self->wake_.notify_all();
}

void MqttPublisher::onDisconnect(mosquitto*, void* pSelf, int nResult) {
    auto* self = static_cast<MqttPublisher*>(pSelf);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->bConnected_ = false;
    if (nResult != 0) self->sLastProblem_ = mosquitto_strerror(nResult);
    if (self->nConnackResult_ == -1 && nResult != 0) {
        self->nConnackResult_ = kConnectFailed;  // the first connection failed before the broker answered
    } else if (nResult != 0 && !self->bStopping_ && self->nLostAt_ == 0) {
        self->nLostAt_ = monotonicMicros();
        say(textf("MQTT: broker lost at %s (%s), %llu rows waiting", utcNow().c_str(), self->sLastProblem_.c_str(),
                  static_cast<unsigned long long>(self->rows_.size() + self->nFileRows_)));
    }
    // What was in flight is sent again after the reconnect: at least once.
    self->nSentPrefix_ = 0;
    self->inflight_.clear();
    self->wake_.notify_all();
}

void MqttPublisher::onPublish(mosquitto*, void* pSelf, int nMid) {
    auto* self = static_cast<MqttPublisher*>(pSelf);
    std::lock_guard<std::mutex> lock(self->mutex_);
    if (nMid == self->nOfflineMid_) {
        self->nOfflineMid_ = -1;
        self->wake_.notify_all();
        return;
    }
    auto it = self->inflight_.find(nMid);
    if (it == self->inflight_.end()) return;  // meta or status, or a message from before a reconnect
    const uint64_t nSeq = it->second;
    self->inflight_.erase(it);
    const size_t nIndex = self->indexOf(nSeq);
    if (nIndex < self->rows_.size() && self->rows_[nIndex].nSeq == nSeq) self->rows_[nIndex].bAcked = true;
    self->popAcknowledged();
    self->wake_.notify_all();
}

void MqttPublisher::onLog(mosquitto*, void* pSelf, int nLevel, const char* sText) {
    if (nLevel != MOSQ_LOG_ERR || sText == nullptr) return;
    auto* self = static_cast<MqttPublisher*>(pSelf);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->sLastProblem_ = sText;
    // An error before the broker ever answered (a certificate refused): the start need not wait.
    if (self->nConnackResult_ == -1) {
        self->nConnackResult_ = kConnectFailed;
        self->wake_.notify_all();
    }
}

}  // namespace qlog
