#include "status_line.h"

#include <math.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>

#include "value_text.h"

namespace qlog {

namespace {

// Messages come from both threads; the line is drawn by one. A stale answer costs one redraw.
std::atomic<bool> gbLineShown{false};

}  // namespace

void clearStatusLine() {
    if (gbLineShown.exchange(false)) fputs("\r\x1b[K", stderr);
}

std::string formatElapsed(double dSeconds) {
    uint64_t n = dSeconds > 0 ? static_cast<uint64_t>(dSeconds) : 0;
    char sText[48];
    if (n >= 86400) {
        snprintf(sText, sizeof(sText), "%llud %02u:%02u:%02u", static_cast<unsigned long long>(n / 86400),
                 static_cast<unsigned>(n / 3600 % 24), static_cast<unsigned>(n / 60 % 60), static_cast<unsigned>(n % 60));
    } else {
        snprintf(sText, sizeof(sText), "%02u:%02u:%02u", static_cast<unsigned>(n / 3600), static_cast<unsigned>(n / 60 % 60),
                 static_cast<unsigned>(n % 60));
    }
    return sText;
}

std::string progressText(double dFraction) {
    const int kWidth = 20;
    const double dDone = dFraction > 1 ? 1 : dFraction;
    const int nFilled = static_cast<int>(dDone * kWidth);
    char sPercent[8];
    snprintf(sPercent, sizeof(sPercent), "%3d%%", static_cast<int>(dDone * 100));
    return " [" + std::string(static_cast<size_t>(nFilled), '#') + std::string(static_cast<size_t>(kWidth - nFilled), '.') + "] " +
           sPercent;
}

StatusLine::StatusLine(const BoardSetup& board, bool bQuiet) : board_(board) {
    bEnabled_ = !bQuiet && isatty(STDERR_FILENO);
}

void StatusLine::update(const StatusFacts& facts, const std::vector<int32_t>& latest, bool bForce) {
    if (!bEnabled_) return;
    if (!bForce && bShown_ && monotonicMicros() / 1000 - nLastDraw_ < 250) return;
    std::string s = formatElapsed(facts.dElapsed);
    if (facts.dFraction >= 0) s += progressText(facts.dFraction);
    s += "  " + std::to_string(facts.nWritten) + " scans  queue " + std::to_string(facts.nQueuePerMille / 10) + "%";
    for (size_t c = 0; c < board_.channels.size() && c < latest.size() && c < 8; ++c) {
        const LoggedChannel& channel = board_.channels[c];
        const int nLimit = limitSide(latest[c], board_.nFullScale);
        if (nLimit != 0) {
            s += "  AI" + std::to_string(channel.nChannel) + (nLimit > 0 ? " over range" : " under range");
            continue;
        }
        char sValue[kMaxNumberText + 1];
        char* pEnd = writeFixed(sValue, ScaleSample(&channel.scale, static_cast<double>(latest[c])),
                                channel.nDecimals > 3 ? 3 : channel.nDecimals);
        *pEnd = '\0';
        s += "  AI" + std::to_string(channel.nChannel) + " " + sValue + " " + channel.sUnit;
    }
    if (board_.channels.size() > 8) s += "  ...";
    if (facts.nGaps > 0) s += "  gaps " + std::to_string(facts.nGaps) + " (" + std::to_string(facts.nLost) + " lost)";
    if (facts.bMqtt) {
        s += "  mqtt spool " + std::to_string(facts.nSpooled);
        if (facts.nDropped > 0) s += ", " + std::to_string(facts.nDropped) + " rows dropped";
    }
    show(s, true);
}

void StatusLine::show(const std::string& sText, bool bForce) {
    if (!bEnabled_) return;
    const int64_t nNow = monotonicMicros() / 1000;
    if (!bForce && bShown_ && nNow - nLastDraw_ < 250) return;
    nLastDraw_ = nNow;
    fputs(("\r" + sText + "\x1b[K").c_str(), stderr);
    fflush(stderr);
    bShown_ = true;
    gbLineShown.store(true);
}

void StatusLine::finish() {
    if (!bShown_ || !gbLineShown.exchange(false)) return;
    fputs("\n", stderr);
    fflush(stderr);
    bShown_ = false;
}

}  // namespace qlog
