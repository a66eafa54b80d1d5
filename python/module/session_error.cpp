#include "session_error.h"

#include <deque>
#include <mutex>

#include "driver_report.h"

namespace qpy {

namespace {

constexpr size_t kKept = 100;

std::mutex gMutex;
std::deque<Said> gSaid;
size_t gnSaid = 0;  // said in all, kept or not

void keep(const std::string& sText, int32_t nCode) {
    std::lock_guard<std::mutex> lock(gMutex);
    gSaid.push_back({sText, nCode});
    if (gSaid.size() > kKept) gSaid.pop_front();
    ++gnSaid;
}

}  // namespace

size_t messageMark() {
    static std::once_flag installed;
    std::call_once(installed, [] { qlog::setLineHandler(keep); });
    std::lock_guard<std::mutex> lock(gMutex);
    return gnSaid;
}

std::vector<Said> messagesSince(size_t nMark) {
    std::lock_guard<std::mutex> lock(gMutex);
    const size_t nNew = gnSaid - nMark;
    const size_t nFrom = nNew >= gSaid.size() ? 0 : gSaid.size() - nNew;
    return std::vector<Said>(gSaid.begin() + static_cast<std::ptrdiff_t>(nFrom), gSaid.end());
}

SessionError errorSince(size_t nMark, ErrorKind kind, const std::string& sFallback) {
    const std::vector<Said> said = messagesSince(nMark);
    if (said.empty()) return SessionError(kind, sFallback);
    int32_t nCode = 0;
    for (const Said& s : said) {
        if (s.nCode != 0) nCode = s.nCode;
    }
    return SessionError(kind, said.back().sText, nCode);
}

}  // namespace qpy
