#include "view_envelope.h"

#include <math.h>
#include <stdio.h>

#include <algorithm>

#include "recording_json.h"

namespace qlog {

constexpr double ViewEnvelope::kWindowSeconds[];

namespace {

constexpr double kColumnsPerWindow = 1000;
constexpr size_t kGapsKept = 100;

void appendNumber(std::string* pOut, double d) {
    if (!isfinite(d)) {
        *pOut += "null";
        return;
    }
    char s[32];
    snprintf(s, sizeof(s), "%.7g", d);
    *pOut += s;
}

void appendSeconds(std::string* pOut, int64_t nMicros) {
    char s[32];
    snprintf(s, sizeof(s), "%.6f", static_cast<double>(nMicros) / 1e6);
    *pOut += s;
}

}  // namespace

ViewEnvelope::ViewEnvelope(const BoardSetup& board, const ScanClock& clock)
    : board_(board), clock_(clock), nChannels_(board.channels.size()), row_(nChannels_), rowLimited_(nChannels_),
      latest_(nChannels_, NAN) {
    // Each level's column holds a whole number of the finer level's columns, so it is folded
    // from them rather than from every sample.
    uint64_t nFiner = 1;
    for (int l = 0; l < kLevels; ++l) {
        const double dWanted = kWindowSeconds[l] / kColumnsPerWindow * board.dRate;
        uint64_t nFactor = dWanted / static_cast<double>(nFiner) < 1.5 ? 1 : llround(dWanted / static_cast<double>(nFiner));
        Level& level = levels_[l];
        level.nScansPerColumn = nFiner * nFactor;
        level.dColumnSeconds = static_cast<double>(level.nScansPerColumn) / board.dRate;
        level.ringIndex.assign(kRingColumns, 0);
        level.ringMins.assign(kRingColumns * nChannels_, NAN);
        level.ringMaxs.assign(kRingColumns * nChannels_, NAN);
        resetColumn(&level.current, 0);
        nFiner = level.nScansPerColumn;
    }
}

void ViewEnvelope::resetColumn(Column* pColumn, uint64_t nIndex) const {
    pColumn->nIndex = nIndex;
    pColumn->mins.assign(nChannels_, NAN);
    pColumn->maxs.assign(nChannels_, NAN);
    pColumn->bEmpty = true;
}

// Into the current column of a level: from one row (nLevel 0, from row_) or a finer column.
void ViewEnvelope::fold(int nLevel, const Column& from) {
    Column& to = levels_[nLevel].current;
    const uint64_t nIndex = from.nIndex * levels_[nLevel - 1].nScansPerColumn / levels_[nLevel].nScansPerColumn;
    if (!to.bEmpty && to.nIndex != nIndex) publish(nLevel);
    if (to.bEmpty) to.nIndex = nIndex;
    to.bEmpty = false;
    for (size_t c = 0; c < nChannels_; ++c) {
        if (from.mins[c] < to.mins[c] || isnan(to.mins[c])) to.mins[c] = from.mins[c];
        if (from.maxs[c] > to.maxs[c] || isnan(to.maxs[c])) to.maxs[c] = from.maxs[c];
    }
}

void ViewEnvelope::publish(int nLevel) {
    Level& level = levels_[nLevel];
    if (level.current.bEmpty) return;
    if (nLevel + 1 < kLevels) fold(nLevel + 1, level.current);
    ++level.nPublished;
    const size_t nSlot = level.nPublished % kRingColumns;
    level.ringIndex[nSlot] = level.current.nIndex;
    std::copy(level.current.mins.begin(), level.current.mins.end(), level.ringMins.begin() + nSlot * nChannels_);
    std::copy(level.current.maxs.begin(), level.current.maxs.end(), level.ringMaxs.begin() + nSlot * nChannels_);
    resetColumn(&level.current, 0);
}

void ViewEnvelope::takeRow(uint64_t nScan) {
    Column& column = levels_[0].current;
    const uint64_t nIndex = nScan / levels_[0].nScansPerColumn;
    if (!column.bEmpty && column.nIndex != nIndex) publish(0);
    if (column.bEmpty) column.nIndex = nIndex;
    column.bEmpty = false;
    for (size_t c = 0; c < nChannels_; ++c) {
        const float f = static_cast<float>(row_[c]);
        if (rowLimited_[c]) continue;  // no measurement
        if (!(f >= column.mins[c])) column.mins[c] = f;  // NaN compares false: the first sample
        if (!(f <= column.maxs[c])) column.maxs[c] = f;
    }
}

void ViewEnvelope::add(const RowBlock& block) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (size_t r = 0; r < block.nRows; ++r) {
        for (size_t c = 0; c < nChannels_; ++c) {
            if (block.pCounts != nullptr) {
                const int32_t nCount = block.pCounts[r * nChannels_ + c];
                row_[c] = nCount;
                rowLimited_[c] = limitSide(nCount, board_.nFullScale) != 0;
            } else {
                row_[c] = block.pMeans[r * nChannels_ + c];
                rowLimited_[c] = block.pLimited != nullptr && block.pLimited[r * nChannels_ + c] != 0;
            }
        }
        takeRow(block.nFirstScan + r * block.nScansPerRow);
    }
    if (block.nRows > 0) {
        for (size_t c = 0; c < nChannels_; ++c) latest_[c] = rowLimited_[c] ? NAN : row_[c];
        bHaveLatest_ = true;
    }
}

void ViewEnvelope::addGap(const GapRecord& gap) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int l = 0; l < kLevels; ++l) publish(l);
    std::string s = "{\"from\":";
    appendSeconds(&s, clock_.micros(gap.nNextScan - gap.nLost));
    s += ",\"to\":";
    appendSeconds(&s, clock_.micros(gap.nNextScan));
    s += ",\"lost\":" + std::to_string(gap.nLost) + ",\"text\":" + jsonText(gapText(gap)) + "}";
    gaps_.push_back(s);
    if (gaps_.size() > kGapsKept) gaps_.pop_front();
    ++nGaps_;
}

void ViewEnvelope::addLimit(const LimitChange& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (change.nOldSide != 0) {
        for (Stretch& stretch : stretches_) {
            if (stretch.bOpen && stretch.nChannel == change.nChannel) {
                stretch.bOpen = false;
                stretch.nScans = change.nOldScans;
            }
        }
    }
    if (change.nNewSide != 0) stretches_.push_back({change.nChannel, change.nNewSide, change.nScan, 0, true});
    while (stretches_.size() > kGapsKept) stretches_.pop_front();
    ++nLimitChanges_;
}

void ViewEnvelope::end() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int l = 0; l < kLevels; ++l) publish(l);
    bEnded_ = true;
}

bool ViewEnvelope::ended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return bEnded_;
}

size_t ViewEnvelope::ringBytes() const {
    return kLevels * kRingColumns * (sizeof(uint64_t) + nChannels_ * 2 * sizeof(float));
}

std::string ViewEnvelope::columnsJson(int nLevel, uint64_t nAfter, uint64_t* pnLast, bool* pbReset) const {
    const Level& level = levels_[nLevel];
    std::vector<uint64_t> indices;
    std::vector<float> mins, maxs;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const uint64_t nLast = level.nPublished;
        *pbReset = nAfter == 0 || nAfter > nLast || nLast - nAfter >= kRingColumns;
        const uint64_t nFrom = *pbReset ? (nLast >= kRingColumns ? nLast - kRingColumns + 1 : 1) : nAfter + 1;
        indices.reserve(nLast + 1 - nFrom);
        mins.reserve((nLast + 1 - nFrom) * nChannels_);
        maxs.reserve(mins.capacity());
        for (uint64_t n = nFrom; n <= nLast; ++n) {
            const size_t nSlot = n % kRingColumns;
            indices.push_back(level.ringIndex[nSlot]);
            mins.insert(mins.end(), level.ringMins.begin() + nSlot * nChannels_, level.ringMins.begin() + (nSlot + 1) * nChannels_);
            maxs.insert(maxs.end(), level.ringMaxs.begin() + nSlot * nChannels_, level.ringMaxs.begin() + (nSlot + 1) * nChannels_);
        }
        *pnLast = nLast;
    }
    std::string s = "[";
    s.reserve(indices.size() * nChannels_ * 24 + 2);
    for (size_t i = 0; i < indices.size(); ++i) {
        s += i == 0 ? "[" : ",[";
        appendSeconds(&s, clock_.micros(indices[i] * level.nScansPerColumn));
        for (size_t c = 0; c < nChannels_; ++c) {
            const ScaleInfo& scale = board_.channels[c].scale;
            s += ',';
            appendNumber(&s, ScaleSample(&scale, mins[i * nChannels_ + c]));
            s += ',';
            appendNumber(&s, ScaleSample(&scale, maxs[i * nChannels_ + c]));
        }
        s += ']';
    }
    return s + "]";
}

std::string ViewEnvelope::latestJson() const {
    std::vector<double> latest;
    bool bHave = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        latest = latest_;
        bHave = bHaveLatest_;
    }
    std::string s = "{";
    for (size_t c = 0; c < nChannels_; ++c) {
        const LoggedChannel& channel = board_.channels[c];
        s += (c == 0 ? "\"AI" : ",\"AI") + std::to_string(channel.nChannel) + "\":{\"value\":";
        appendNumber(&s, bHave ? ScaleSample(&channel.scale, latest[c]) : NAN);
        s += ",\"unit\":" + jsonText(channel.sUnit) + ",\"decimals\":" + std::to_string(channel.nDecimals) + "}";
    }
    return s + "}";
}

void ViewEnvelope::addAlarm(const AlarmEvent& event) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (alarms_.empty()) alarms_.resize(nChannels_);
    alarms_[event.nChannel] = event;
}

std::string ViewEnvelope::alarmsJson() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string s = "[";
    for (const AlarmEvent& event : alarms_) {
        if (event.state == AlarmState::Normal) continue;
        s += std::string(s.size() > 1 ? "," : "") + "{\"channel\":\"AI" + std::to_string(board_.channels[event.nChannel].nChannel) +
             "\",\"state\":\"" + alarmStateName(event.state) + "\",\"since_scan\":" + std::to_string(event.nScan) + ",\"since\":";
        appendSeconds(&s, clock_.micros(event.nScan));
        s += ",\"value\":";
        appendNumber(&s, event.dValue);
        s += "}";
    }
    return s + "]";
}

std::string ViewEnvelope::limitsJson(uint64_t* pnChanges) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string s = "[";
    for (size_t i = 0; i < stretches_.size(); ++i) {
        const Stretch& stretch = stretches_[i];
        s += std::string(i == 0 ? "" : ",") + "{\"channel\":\"AI" + std::to_string(board_.channels[stretch.nChannel].nChannel) +
             "\",\"side\":\"" + (stretch.nSide > 0 ? "over range" : "under range") + "\",\"from\":";
        appendSeconds(&s, clock_.micros(stretch.nFrom));
        s += ",\"to\":";
        if (stretch.bOpen) {
            s += "null";
        } else {
            appendSeconds(&s, clock_.micros(stretch.nFrom + stretch.nScans));
        }
        s += ",\"from_scan\":" + std::to_string(stretch.nFrom) + ",\"scans\":" + (stretch.bOpen ? "null" : std::to_string(stretch.nScans)) + "}";
    }
    *pnChanges = nLimitChanges_;
    return s + "]";
}

std::string ViewEnvelope::gapsJson(uint64_t* pnCount) const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string s = "[";
    for (size_t i = 0; i < gaps_.size(); ++i) s += (i == 0 ? "" : ",") + gaps_[i];
    *pnCount = nGaps_;
    return s + "]";
}

}  // namespace qlog
