#include "session_error.h"

namespace qpy {

namespace {
constexpr size_t kKept = 100;
}  // namespace

void KeptMessages::say(const std::string& sText, int32_t nResult) {
    std::lock_guard<std::mutex> lock(mutex_);
    said_.push_back({sText, nResult});
    if (said_.size() > kKept) said_.pop_front();
    ++nSaid_;
}

size_t KeptMessages::mark() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return nSaid_;
}

std::vector<Said> KeptMessages::since(size_t nMark) const {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t nNew = nSaid_ - nMark;
    const size_t nFrom = nNew >= said_.size() ? 0 : said_.size() - nNew;
    return std::vector<Said>(said_.begin() + static_cast<std::ptrdiff_t>(nFrom), said_.end());
}

SessionError KeptMessages::errorSince(size_t nMark, ErrorKind kind, const std::string& sFallback) const {
    const std::vector<Said> said = since(nMark);
    if (said.empty()) return SessionError(kind, sFallback);
    int32_t nCode = 0;
    for (const Said& s : said) {
        if (s.nCode != 0) nCode = s.nCode;
    }
    return SessionError(kind, said.back().sText, nCode);
}

KeptMessages& checkErrorMessages() {
    static KeptMessages messages;
    return messages;
}

ErrorKind errorKindOf(const qacq::SetupOutcome& outcome) {
    switch (outcome.result) {
        case qacq::SetupResult::NoDriver: return ErrorKind::DriverNotFound;
        case qacq::SetupResult::NoBoard: return ErrorKind::BoardNotFound;
        case qacq::SetupResult::Refused: return ErrorKind::SettingRefused;
        case qacq::SetupResult::Done:
        case qacq::SetupResult::DriverFailure:
        case qacq::SetupResult::Stopped: break;
    }
    return ErrorKind::Error;
}

SessionError setupError(const qacq::SetupOutcome& outcome, const std::string& sFallback) {
    return SessionError(errorKindOf(outcome), outcome.sText.empty() ? sFallback : outcome.sText, outcome.nCode);
}

}  // namespace qpy
