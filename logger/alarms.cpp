#include "alarms.h"

#include <math.h>
#include <stdlib.h>

#include "log_options.h"

namespace qlog {

namespace {

const char* const kStateNames[] = {"normal", "lo", "lolo", "hi", "hihi", "fault"};

bool parseNumber(const std::string& sText, double* pdValue) {
    char* pEnd = nullptr;
    *pdValue = strtod(sText.c_str(), &pEnd);
    return !sText.empty() && *pEnd == '\0' && isfinite(*pdValue);
}

uint64_t scansOf(double dSeconds, double dRate) {
    const double dScans = nearbyint(dSeconds * dRate);
    return dScans <= 0 ? 0 : static_cast<uint64_t>(dScans);
}

// The first count whose value is above dLimit (value = count x scale - offset, scale > 0), found by
// the same arithmetic that judges the values.
int64_t firstCountAbove(double dLimit, double dScale, double dOffset) {
    const double dGuess = floor((dLimit + dOffset) / dScale);
    if (!(dGuess > -9e15 && dGuess < 9e15)) return dGuess < 0 ? INT64_MIN / 2 : INT64_MAX / 2;
    int64_t n = static_cast<int64_t>(dGuess);
    while (static_cast<double>(n) * dScale - dOffset > dLimit) --n;
    while (!(static_cast<double>(n) * dScale - dOffset > dLimit)) ++n;
    return n;
}

// The last count whose value is below dLimit.
int64_t lastCountBelow(double dLimit, double dScale, double dOffset) {
    const double dGuess = ceil((dLimit + dOffset) / dScale);
    if (!(dGuess > -9e15 && dGuess < 9e15)) return dGuess < 0 ? INT64_MIN / 2 : INT64_MAX / 2;
    int64_t n = static_cast<int64_t>(dGuess);
    while (static_cast<double>(n) * dScale - dOffset < dLimit) ++n;
    while (!(static_cast<double>(n) * dScale - dOffset < dLimit)) --n;
    return n;
}

// Counts a scan on which a condition holds; a scan on which it does not starts it over.
inline void count(uint64_t* pn, bool bHolds) { *pn = bHolds ? *pn + 1 : 0; }

}  // namespace

uint64_t captureRingBytes(double dPreSeconds, double dRate, size_t nChannels) {
    const double dBytes = ceil(dPreSeconds * dRate) * static_cast<double>(nChannels * sizeof(int32_t) + sizeof(uint64_t));
    return dBytes > 1e18 ? UINT64_MAX : static_cast<uint64_t>(dBytes);
}

const char* alarmStateName(AlarmState state) { return kStateNames[static_cast<int>(state)]; }

bool alarmStateOf(const std::string& sName, AlarmState* pState) {
    for (int i = 0; i < 6; ++i) {
        if (sName == kStateNames[i]) {
            *pState = static_cast<AlarmState>(i);
            return true;
        }
    }
    return false;
}

bool parseAlarmSpec(const std::string& sText, AlarmSpec* pSpec, std::string* pWhy) {
    AlarmSpec asked;
    const size_t nColon = sText.find(':');
    char* pEnd = nullptr;
    const long nChannel = sText.compare(0, 2, "AI") == 0 && nColon != std::string::npos ? strtol(sText.c_str() + 2, &pEnd, 10) : -1;
    if (nChannel < 0 || nChannel > 4095 || pEnd != sText.c_str() + nColon || nColon == 2) {
        *pWhy = "AI<k>:KEY=VALUE,... (keys lolo, lo, hi, hihi, deadband, delay, clear-delay)";
        return false;
    }
    asked.nChannel = static_cast<int32_t>(nChannel);
    std::vector<std::string> seen;
    size_t nAt = nColon + 1;
    while (nAt <= sText.size()) {
        size_t nComma = sText.find(',', nAt);
        if (nComma == std::string::npos) nComma = sText.size();
        const std::string sPair = sText.substr(nAt, nComma - nAt);
        nAt = nComma + 1;
        const size_t nEquals = sPair.find('=');
        const std::string sKey = sPair.substr(0, nEquals), sValue = nEquals == std::string::npos ? "" : sPair.substr(nEquals + 1);
        for (const std::string& s : seen) {
            if (s == sKey) {
                *pWhy = "\"" + sKey + "\" is given twice";
                return false;
            }
        }
        seen.push_back(sKey);
        double d = 0;
        const bool bLimit = sKey == "lolo" || sKey == "lo" || sKey == "hi" || sKey == "hihi";
        if (bLimit || sKey == "deadband") {
            if (!parseNumber(sValue, &d)) {
                *pWhy = sKey + " \"" + sValue + "\": a number in the channel's unit";
                return false;
            }
        } else if (sKey == "delay" || sKey == "clear-delay") {
            if (!(sValue == "0" || parseDuration(sValue, &d))) {
                *pWhy = sKey + " \"" + sValue + "\": a time such as 0, 500ms, 30s or 5m";
                return false;
            }
        } else {
            *pWhy = "unknown key \"" + sKey + "\" (lolo, lo, hi, hihi, deadband, delay, clear-delay)";
            return false;
        }
        if (sKey == "lolo") asked.bLoLo = true, asked.dLoLo = d;
        if (sKey == "lo") asked.bLo = true, asked.dLo = d;
        if (sKey == "hi") asked.bHi = true, asked.dHi = d;
        if (sKey == "hihi") asked.bHiHi = true, asked.dHiHi = d;
        if (sKey == "deadband") asked.dDeadband = d;
        if (sKey == "delay") asked.dDelaySeconds = d;
        if (sKey == "clear-delay") asked.dClearDelaySeconds = d;
    }
    if (!asked.bLoLo && !asked.bLo && !asked.bHi && !asked.bHiHi) {
        *pWhy = "no limit (lolo, lo, hi or hihi)";
        return false;
    }
    if (asked.dDeadband < 0) {
        *pWhy = "the deadband is negative";
        return false;
    }
    // From the bottom up: lolo, lo, hi, hihi, each above the one before.
    const std::pair<bool, double> limits[] = {{asked.bLoLo, asked.dLoLo}, {asked.bLo, asked.dLo}, {asked.bHi, asked.dHi}, {asked.bHiHi, asked.dHiHi}};
    const char* const kNames[] = {"lolo", "lo", "hi", "hihi"};
    int nBelow = -1;
    for (int i = 0; i < 4; ++i) {
        if (!limits[i].first) continue;
        if (nBelow >= 0 && !(limits[i].second > limits[nBelow].second)) {
            *pWhy = std::string(kNames[nBelow]) + " must be below " + kNames[i];
            return false;
        }
        nBelow = i;
    }
    *pSpec = asked;
    return true;
}

std::string alarmEventText(const AlarmEvent& event, const LoggedChannel& channel) {
    std::string s = std::string(alarmStateName(event.state)) + " at scan " + std::to_string(event.nScan);
    const std::string sValue = textf("%.*f", channel.nDecimals, event.dValue) + " " + channel.sUnit;
    switch (event.state) {
        case AlarmState::Normal:
            return s + " (" + (isnan(event.dValue) ? std::string() : sValue + ", ") + "was " + alarmStateName(event.previous) + ")";
        case AlarmState::Fault: return s + " (at a limit of its range)";
        default: break;
    }
    const bool bHigh = event.state == AlarmState::Hi || event.state == AlarmState::HiHi;
    return s + " (" + sValue + (bHigh ? " > " : " < ") + textf("%g", event.dLimit) + ")";
}

AlarmTracker::AlarmTracker(const std::vector<AlarmSpec>& specs, const BoardSetup& board)
    : nFullScale_(board.nFullScale), specs_(specs), counts_(board.channels.size(), 0) {
    for (const AlarmSpec& asked : specs) {
        for (size_t c = 0; c < board.channels.size(); ++c) {
            if (board.channels[c].nChannel != asked.nChannel) continue;
            Watch watch{c, asked, board.channels[c].scale.scale, board.channels[c].scale.offset,
                        scansOf(asked.dDelaySeconds, board.dRate), scansOf(asked.dClearDelaySeconds, board.dRate)};
            if (watch.dScale > 0) {
                watch.nQuietHigh = asked.bHi || asked.bHiHi ? firstCountAbove(asked.bHi ? asked.dHi : asked.dHiHi, watch.dScale, watch.dOffset)
                                                          : INT64_MAX;
                watch.nQuietLow = asked.bLo || asked.bLoLo ? lastCountBelow(asked.bLo ? asked.dLo : asked.dLoLo, watch.dScale, watch.dOffset)
                                                         : INT64_MIN;
            }
            watches_.push_back(watch);
        }
    }
}

void AlarmTracker::restart(Watch& w) {
    w.nAboveHi = w.nAboveHiHi = w.nBelowLo = w.nBelowLoLo = 0;
    w.nClearHi = w.nClearHiHi = w.nClearLo = w.nClearLoLo = 0;
}

void AlarmTracker::gap() {
    for (Watch& w : watches_) restart(w);
}

// The state a value moves a channel to, its counters updated by it.
AlarmState AlarmTracker::next(Watch& w, double dValue) const {
    const AlarmSpec& s = w.limits;
    count(&w.nAboveHi, s.bHi && dValue > s.dHi);
    count(&w.nAboveHiHi, s.bHiHi && dValue > s.dHiHi);
    count(&w.nBelowLo, s.bLo && dValue < s.dLo);
    count(&w.nBelowLoLo, s.bLoLo && dValue < s.dLoLo);
    count(&w.nClearHi, !s.bHi || dValue < s.dHi - s.dDeadband);
    count(&w.nClearHiHi, !s.bHiHi || dValue < s.dHiHi - s.dDeadband);
    count(&w.nClearLo, !s.bLo || dValue > s.dLo + s.dDeadband);
    count(&w.nClearLoLo, !s.bLoLo || dValue > s.dLoLo + s.dDeadband);
    const bool bHiHi = w.nAboveHiHi > w.nDelay, bHi = w.nAboveHi > w.nDelay;
    const bool bLoLo = w.nBelowLoLo > w.nDelay, bLo = w.nBelowLo > w.nDelay;
    const bool bHiCleared = w.nClearHi > w.nClearDelay, bHiHiCleared = w.nClearHiHi > w.nClearDelay;
    const bool bLoCleared = w.nClearLo > w.nClearDelay, bLoLoCleared = w.nClearLoLo > w.nClearDelay;
    switch (w.state) {
        case AlarmState::HiHi:
            if (!bHiHiCleared) return AlarmState::HiHi;
            return s.bHi && !bHiCleared ? AlarmState::Hi : AlarmState::Normal;
        case AlarmState::Hi:
            if (bHiHi) return AlarmState::HiHi;
            return bHiCleared ? AlarmState::Normal : AlarmState::Hi;
        case AlarmState::LoLo:
            if (!bLoLoCleared) return AlarmState::LoLo;
            return s.bLo && !bLoCleared ? AlarmState::Lo : AlarmState::Normal;
        case AlarmState::Lo:
            if (bLoLo) return AlarmState::LoLo;
            return bLoCleared ? AlarmState::Normal : AlarmState::Lo;
        default:  // normal, or a fault just left: the limits as the delays count them from here
            if (bHiHi) return AlarmState::HiHi;
            if (bHi) return AlarmState::Hi;
            if (bLoLo) return AlarmState::LoLo;
            if (bLo) return AlarmState::Lo;
            return AlarmState::Normal;
    }
}

bool AlarmTracker::step(const int32_t* pScan, uint64_t nScan, std::vector<AlarmEvent>* pEvents) {
    bool bChanged = false;
    for (Watch& w : watches_) {
        const int32_t nCount = pScan[w.nChannel];
        if (w.state == AlarmState::Normal && nCount > w.nQuietLow && nCount < w.nQuietHigh && nCount < nFullScale_ &&
            nCount > -nFullScale_ && (w.nAboveHi | w.nAboveHiHi | w.nBelowLo | w.nBelowLoLo) == 0) {
            continue;
        }
        AlarmState state;
        double dValue = NAN;
        if (limitSide(nCount, nFullScale_) != 0) {
            if (w.state != AlarmState::Fault) restart(w);
            state = AlarmState::Fault;
        } else {
            dValue = static_cast<double>(nCount) * w.dScale - w.dOffset;
            state = next(w, dValue);
        }
        if (state == w.state) continue;
        AlarmEvent event;
        event.nChannel = w.nChannel;
        event.previous = w.state;
        event.state = state;
        event.nScan = nScan;
        event.dValue = dValue;
        event.dLimit = state == AlarmState::Hi ? w.limits.dHi : state == AlarmState::HiHi ? w.limits.dHiHi
                     : state == AlarmState::Lo ? w.limits.dLo : state == AlarmState::LoLo ? w.limits.dLoLo : NAN;
        pEvents->push_back(event);
        ++counts_[w.nChannel];
        w.state = state;
        bChanged = true;
    }
    return bChanged;
}

}  // namespace qlog
