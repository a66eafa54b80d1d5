#include "mqtt_publisher.h"

#include <errno.h>
#include <fcntl.h>
#include <mosquitto.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <chrono>
#include <fstream>

namespace qlog {

namespace {

constexpr size_t kWindow = 1000;                    // messages in flight at once
constexpr size_t kMemoryBytes = 64u << 20;          // payloads kept in memory; the rest in the spool file

std::once_flag gLibraryOnce;

bool readPassword(const std::string& sFile, std::string* pPassword, std::string* pError) {
    std::ifstream in(sFile);
    if (!in) {
        *pError = "cannot read the password file " + sFile + ": " + strerror(errno);
        return false;
    }
    std::getline(in, *pPassword);
    if (!pPassword->empty() && pPassword->back() == '\r') pPassword->pop_back();
    return true;
}

}  // namespace

MqttPublisher::MqttPublisher() { std::call_once(gLibraryOnce, [] { mosquitto_lib_init(); }); }

MqttPublisher::~MqttPublisher() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bStopping_ = true;
    }
    wake_.notify_all();
    if (sender_.joinable()) sender_.join();
    if (pMosq_ != nullptr) {
        mosquitto_disconnect(pMosq_);
        mosquitto_loop_stop(pMosq_, false);
        mosquitto_destroy(pMosq_);
    }
    if (nSpoolFd_ >= 0) close(nSpoolFd_);
}

bool MqttPublisher::start(const MqttOptions& options, uint64_t nSpoolRows, std::string* pError) {
    std::string sHost;
    int nPort = 0;
    bool bTls = false;
    if (!parseMqttUrl(options.sUrl, &sHost, &nPort, &bTls)) {
        *pError = "\"" + options.sUrl + "\" is not mqtt://host[:port] or mqtts://host[:port]";
        return false;
    }
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
        if (options.sCaFile.empty()) mosquitto_int_option(pMosq_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        int nTls = mosquitto_tls_set(pMosq_, options.sCaFile.empty() ? nullptr : options.sCaFile.c_str(), nullptr,
                                     options.sCert.empty() ? nullptr : options.sCert.c_str(),
                                     options.sKey.empty() ? nullptr : options.sKey.c_str(), nullptr);
        if (nTls != MOSQ_ERR_SUCCESS) {
            *pError = std::string("TLS cannot be set up: ") + mosquitto_strerror(nTls) + " (check --cafile, --cert, --key)";
            return false;
        }
    }
    mosquitto_max_inflight_messages_set(pMosq_, kWindow);
    // Back-off from 1 s, growing to 5 s: a broker that is back is found within seconds.
    mosquitto_reconnect_delay_set(pMosq_, 1, 5, true);
    mosquitto_connect_callback_set(pMosq_, onConnect);
    mosquitto_disconnect_callback_set(pMosq_, onDisconnect);
    mosquitto_publish_callback_set(pMosq_, onPublish);
    mosquitto_log_callback_set(pMosq_, onLog);

    const std::string sWhere = sHost + ":" + std::to_string(nPort);
    const std::string sTlsHint = bTls ? " (is the broker's certificate signed by the --cafile given?)" : "";
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
        wake_.wait_for(lock, std::chrono::seconds(kConnectSeconds), [this] { return nConnackResult_ != -1; });
        if (nConnackResult_ == -1) {
            *pError = "no connection to " + sWhere + " within " + std::to_string(kConnectSeconds) + " s" +
                      (sLastProblem_.empty() ? "" : ": " + sLastProblem_) + sTlsHint;
            return false;
        }
        if (nConnackResult_ != 0) {
            *pError = sWhere + " refused the connection: " + mosquitto_connack_string(nConnackResult_);
            return false;
        }
    }
    char sTemplate[] = "/tmp/queno_log-spool-XXXXXX";
    nSpoolFd_ = mkstemp(sTemplate);
    if (nSpoolFd_ >= 0) unlink(sTemplate);  // nobody else needs its name; it goes with the process
    sender_ = std::thread(&MqttPublisher::sendLoop, this);
    return true;
}

void MqttPublisher::publishMeta(const std::string& sMeta) {
    // Retained, for whoever subscribes later; the library sends it again after a reconnect.
    mosquitto_publish(pMosq_, nullptr, (sTopic_ + "/meta").c_str(), static_cast<int>(sMeta.size()), sMeta.data(), 1, true);
}

uint64_t MqttPublisher::spooled() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return rows_.size() + nFileRows_;
}

// The oldest row not yet handed to the library leaves the spool, counted. Rows in flight stay:
// they may already be with the broker.
void MqttPublisher::dropOldestUnsent() {
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (rows_[i].bAcked || rows_[i].bEverSent) continue;
        rows_[i].bAcked = true;  // never to be sent
        nMemoryBytes_ -= rows_[i].sPayload.size();
        rows_[i].sPayload.clear();
        nDropped_.fetch_add(1);
        return;
    }
    if (nFileRows_ > 0) {  // everything in memory is in flight: the file's oldest goes
        uint32_t nLength = 0;
        if (pread(nSpoolFd_, &nLength, sizeof(nLength), nFileRead_) == static_cast<ssize_t>(sizeof(nLength))) {
            nFileRead_ += static_cast<int64_t>(sizeof(nLength) + nLength);
            --nFileRows_;
            nDropped_.fetch_add(1);
        }
    }
}

void MqttPublisher::publish(std::string sPayload) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (nCapacity_ > 0 && rows_.size() + nFileRows_ >= nCapacity_) dropOldestUnsent();
    if (nSpoolFd_ >= 0 && (nFileRows_ > 0 || nMemoryBytes_ + sPayload.size() > kMemoryBytes)) {
        uint32_t nLength = static_cast<uint32_t>(sPayload.size());
        std::string sRecord(reinterpret_cast<const char*>(&nLength), sizeof(nLength));
        sRecord += sPayload;
        if (pwrite(nSpoolFd_, sRecord.data(), sRecord.size(), nFileWrite_) == static_cast<ssize_t>(sRecord.size())) {
            nFileWrite_ += static_cast<int64_t>(sRecord.size());
            ++nFileRows_;
            wake_.notify_all();
            return;
        }
    }
    nMemoryBytes_ += sPayload.size();
    rows_.push_back(Row{std::move(sPayload), false, false});
    wake_.notify_all();
}

// The front rows the broker has taken (or that were dropped) leave; the file refills memory.
void MqttPublisher::popAcknowledged() {
    while (!rows_.empty() && rows_.front().bAcked) {
        nMemoryBytes_ -= rows_.front().sPayload.size();
        rows_.pop_front();
        ++nFirstSeq_;
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
        nMemoryBytes_ += sPayload.size();
        rows_.push_back(Row{std::move(sPayload), false, false});
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
        const uint64_t nSeq = nFirstSeq_ + nSentPrefix_;
        if (row.bAcked) {  // dropped, or acknowledged before a reconnect
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
    self->wake_.notify_all();
}

void MqttPublisher::onDisconnect(mosquitto*, void* pSelf, int nResult) {
    auto* self = static_cast<MqttPublisher*>(pSelf);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->bConnected_ = false;
    if (nResult != 0) self->sLastProblem_ = mosquitto_strerror(nResult);
    // What was in flight is sent again after the reconnect: at least once.
    self->nSentPrefix_ = 0;
    self->inflight_.clear();
    self->wake_.notify_all();
}

void MqttPublisher::onPublish(mosquitto*, void* pSelf, int nMid) {
    auto* self = static_cast<MqttPublisher*>(pSelf);
    std::lock_guard<std::mutex> lock(self->mutex_);
    auto it = self->inflight_.find(nMid);
    if (it == self->inflight_.end()) return;  // the meta message, or one from before a reconnect
    const uint64_t nSeq = it->second;
    self->inflight_.erase(it);
    if (nSeq >= self->nFirstSeq_ && nSeq - self->nFirstSeq_ < self->rows_.size()) {
        self->rows_[static_cast<size_t>(nSeq - self->nFirstSeq_)].bAcked = true;
    }
    self->popAcknowledged();
    self->wake_.notify_all();
}

void MqttPublisher::onLog(mosquitto*, void* pSelf, int nLevel, const char* sText) {
    if (nLevel != MOSQ_LOG_ERR || sText == nullptr) return;
    auto* self = static_cast<MqttPublisher*>(pSelf);
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->sLastProblem_ = sText;
}

}  // namespace qlog
