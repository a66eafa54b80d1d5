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
#include <vector>

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
        // A thread still stuck in a first handshake that never got an answer is not waited for: it
        // is cancelled, perhaps holding the client's locks, so the client is left to the process's
        // end rather than destroyed under them (a failed start ends the run).
        const bool bStuck = nConnackResult_ != 0;
        mosquitto_loop_stop(pMosq_, bStuck);
        if (bStuck) {
            // Still reachable to the end (never destroyed): kept on purpose, not lost.
            static std::vector<mosquitto*>* const abandoned = new std::vector<mosquitto*>;
            abandoned->push_back(pMosq_);
        } else {
            mosquitto_destroy(pMosq_);
        }
    }
}

bool MqttPublisher::start(const MqttOptions& options, uint64_t nSpoolRows, std::string* pError) {
    const std::string& sHost = options.sHost;
    const int nPort = options.nPort;
    const bool bTls = options.bTls;
    sTopic_ = options.sTopic;
    nQos_ = options.nQos;
    char sHostName[256] = {0};
    gethostname(sHostName, sizeof(sHostName) - 1);
    std::string sClientId = "queno_log-" + std::string(sHostName) + "-" + std::to_string(getpid()) + options.sClientSuffix;
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
    {
        std::lock_guard<std::mutex> lock(mutex_);
        spool_.reset(new MqttSpool(nSpoolRows, kMemoryBytes, sTmp != nullptr && sTmp[0] == '/' ? sTmp : "/tmp"));
    }
    sender_ = std::thread(&MqttPublisher::sendLoop, this);
    return true;
}

void MqttPublisher::publishRetained(const std::string& sSubtopic, const std::string& sPayload, int* pnMid) {
    mosquitto_publish(pMosq_, pnMid, (sTopic_ + sSubtopic).c_str(), static_cast<int>(sPayload.size()), sPayload.data(), 1,
                      true);
}

void MqttPublisher::publishAlarm(const std::string& sChannel, const std::string& sState, const std::string& sEvent) {
    std::lock_guard<std::mutex> lock(mutex_);
    alarmStates_[sChannel] = sState;
    if (!bConnected_) {
        if (waitingEvents_.size() < kMaxWaitingEvents) waitingEvents_.push_back(sEvent);
        return;
    }
    publishRetained("/alarm/" + sChannel, sState, nullptr);
    mosquitto_publish(pMosq_, nullptr, (sTopic_ + "/alarms").c_str(), static_cast<int>(sEvent.size()), sEvent.data(), nQos_, false);
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
    return spool_ != nullptr ? spool_->waiting() : 0;
}

void MqttPublisher::publish(std::string sPayload) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string sProblem;
    if (!spool_->add(std::move(sPayload), &sProblem) && !sProblem.empty()) {
        say(textf("MQTT: the spool file cannot be written (%s): rows beyond %zu MiB waiting are dropped", sProblem.c_str(),
                  kMemoryBytes >> 20));
    }
    wake_.notify_all();
}

void MqttPublisher::sendLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return bStopping_ || (bConnected_ && spool_->hasUnsent() && inflight_.size() < kWindow); });
        if (bStopping_) return;
        uint64_t nSeq = 0;
        const std::string* pPayload = spool_->nextUnsent(&nSeq);
        if (pPayload == nullptr) continue;
        int nMid = 0;
        // Under our lock: an acknowledgement of this message waits for its entry in inflight_.
        int nResult = mosquitto_publish(pMosq_, &nMid, sTopic_.c_str(), static_cast<int>(pPayload->size()), pPayload->data(),
                                        nQos_, false);
        if (nResult != MOSQ_ERR_SUCCESS) {
            bConnected_ = false;  // the connection is gone; the reconnect tells us when it is back
            continue;
        }
        spool_->sent();
        inflight_[nMid] = nSeq;
    }
}

void MqttPublisher::finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (spool_ == nullptr) return;
    wake_.wait_for(lock, std::chrono::seconds(kDrainSeconds), [this] { return spool_->empty(); });
    spool_->dropRest();
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
                      static_cast<unsigned long long>(self->spool_ != nullptr ? self->spool_->waiting() : 0)),
                Priority::Notice);
            self->nLostAt_ = 0;
        }
        // A broker restarted without persistence has forgotten both.
        self->publishRetained("/status", "online", nullptr);
        if (!self->sMeta_.empty()) self->publishRetained("/meta", self->sMeta_, nullptr);
        for (const auto& alarm : self->alarmStates_) self->publishRetained("/alarm/" + alarm.first, alarm.second, nullptr);
        for (const std::string& sEvent : self->waitingEvents_) {
            mosquitto_publish(self->pMosq_, nullptr, (self->sTopic_ + "/alarms").c_str(), static_cast<int>(sEvent.size()),
                              sEvent.data(), self->nQos_, false);
        }
        self->waitingEvents_.clear();
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
                  static_cast<unsigned long long>(self->spool_ != nullptr ? self->spool_->waiting() : 0)));
    }
    // What was in flight is sent again after the reconnect: at least once.
    if (self->spool_ != nullptr) self->spool_->resendAll();
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
    self->spool_->acknowledged(nSeq);
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
