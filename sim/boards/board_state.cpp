#include "board_state.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "checked_numbers.h"
#include "kivo_codes.h"
#include "xml_util.h"

namespace qsim {

namespace {

constexpr int32_t kBytesPerSample = 4;

bool isReadOnlyCommand(int32_t nCommand) {
    switch (nCommand) {
        case ParamBufferQuery32:
        case ParamBufferEnd:
        case ParamAvailableSamples:
        case ParamReadPosition:
        case ParamBufferSize:
        case ParamScanSize:
        case ParamSampleDelay: return true;
        default: return false;
    }
}

bool isWriteOnlyCommand(int32_t nCommand) {
    switch (nCommand) {
        case ParamOpenBoard:
        case ParamCloseBoard:
        case ParamResetBoard:
        case ParamStartAcq:
        case ParamStopAcq:
        case ParamApplySettings:
        case ParamReleaseSamples: return true;
        default: return false;
    }
}

bool isChannelGroup(const std::string& sNode) {
    for (const char* const* p = SystemDescription::kChannelKinds; *p != nullptr; ++p) {
        if (sNode == *p) return true;
    }
    return false;
}

xmlNodePtr sampleRateLimits(const BoardDescription& description) {
    xmlNodePtr pAcqProp = firstChildElement(
        firstChildElement(description.pBoardProperties, "AcquisitionProperties"), "AcqProp");
    return firstChildElement(pAcqProp, "SampleRate");
}

}  // namespace

BoardState::BoardState(const BoardDescription& description, const AcquisitionScript* pScript, HostEpoch* pEpoch)
    : description_(description), pScript_(pScript), pEpoch_(pEpoch) {
    resetSettings();
}

BoardState::~BoardState() { stopAcquisition(); }

void BoardState::resetSettings() {
    bApplied_ = false;
    nSetting258_ = 0;
    nSetting263_ = 0;
    xmlNodePtr pLimits = sampleRateLimits(description_);
    std::string sDefault = hasAttribute(pLimits, "Default") ? attribute(pLimits, "Default") : attribute(pLimits, "ProgMin");
    // The description's limits were checked when it was loaded: a finite, positive rate.
    dSampleRate_ = sDefault.empty() ? 1000.0 : strtod(sDefault.c_str(), nullptr);
    channels_.clear();
    xmlNodePtr pChannels = firstChildElement(description_.pBoardProperties, "ChannelProperties");
    for (xmlNodePtr pChannel : childElements(pChannels)) {
        channels_.emplace(elementName(pChannel), ChannelSettings(pChannel, description_.nResolution));
    }
}

ChannelSettings* BoardState::findChannel(const std::string& sNode) {
    auto it = channels_.find(sNode);
    return it == channels_.end() ? nullptr : &it->second;
}

const ChannelSettings* BoardState::findChannel(const std::string& sNode) const {
    auto it = channels_.find(sNode);
    return it == channels_.end() ? nullptr : &it->second;
}

// A scan holds one 32-bit word per used analogue input, in channel order.
int32_t BoardState::scanSize() const {
    int32_t nUsed = 0;
    auto it = description_.channelCounts.find("AI");
    int32_t nChannels = it == description_.channelCounts.end() ? 0 : it->second;
    for (int32_t i = 0; i < nChannels; ++i) {
        const ChannelSettings* pChannel = findChannel("AI" + std::to_string(i));
        if (pChannel != nullptr && pChannel->used()) ++nUsed;
    }
    return nUsed * kBytesPerSample;
}

// The IIR filter needs time to settle: a filter setting of F holds back ceil(F / 25) scans, the
// largest over the used inputs, unless the description fixes the delay.
int32_t BoardState::sampleDelay() const {
    if (description_.nSampleDelay >= 0) return description_.nSampleDelay;
    double dFilter = 0;
    for (const auto& entry : channels_) {
        if (entry.first.compare(0, 2, "AI") == 0 && entry.second.used()) dFilter = fmax(dFilter, entry.second.filter());
    }
    return saturatingInt32(ceil(dFilter / 25.0));
}

void BoardState::stopAcquisition() {
    if (!acquisition_) return;
    if (!acquisition_->ownedByThisProcess()) {
        (void)acquisition_.release();  // a forked child's copy: left as it is, its exit takes it
        return;
    }
    const RingBuffer& ring = acquisition_->buffer();
    stats_.nProduced += ring.produced();
    stats_.nReleased += ring.released();
    // A scripted world has no time: it goes on after the scans produced, and an overflow loses the
    // scan it happened at, so that it does not happen again.
    nScriptedScans_ += ring.produced() + (ring.overflowed() ? 1 : 0);
    if (ring.largestBacklog() > stats_.nLargestBacklog) stats_.nLargestBacklog = ring.largestBacklog();
    if (ring.overflowed()) ++stats_.nOverflows;
    acquisition_.reset();
}

// Where a new acquisition stands in the board's world: after a restart its first scan is the one
// the board's clock would be at by now, so the scenario goes on with a hole where scans were lost.
ScenarioClock BoardState::worldClock() {
    const auto now = std::chrono::steady_clock::now();
    if (!pEpoch_->bBegun) {
        pEpoch_->bBegun = true;
        pEpoch_->start = now;
    }
    if (!bWorldBegun_) {
        bWorldBegun_ = true;
        worldStart_ = now;
    }
    ScenarioClock clock;
    clock.dRate = dSampleRate_;
    clock.dHostRate = dSampleRate_ * (1.0 + description_.dClockPpm * 1e-6);
    if (pScript_ != nullptr) {
        clock.nOffset = nScriptedScans_;
    } else {
        clock.dHostLead = std::chrono::duration<double>(worldStart_ - pEpoch_->start).count();
        clock.nOffset = saturatingUint64(std::chrono::duration<double>(now - worldStart_).count() * clock.dHostRate);
    }
    return clock;
}

int32_t BoardState::startAcquisition() {
    if (acquisition_) return ResultAcqRunning;
    AcquisitionSetup setup;
    setup.nCapacityScans = static_cast<uint32_t>(description_.nBufferScans);
    setup.nResolution = description_.nResolution;
    setup.sensor = description_.sensor;
    setup.pScript = pScript_;
    // One word per used analogue input, in channel order.
    auto it = description_.channelCounts.find("AI");
    int32_t nChannels = it == description_.channelCounts.end() ? 0 : it->second;
    const double dFullScale = description_.nResolution == 16 ? 32767.0 : 8388607.0;
    bool bUsed = false;
    for (int32_t i = 0; i < nChannels && !bUsed; ++i) {
        const ChannelSettings* pChannel = findChannel("AI" + std::to_string(i));
        bUsed = pChannel != nullptr && pChannel->used();
    }
    if (!bUsed) return ResultNoChannelUsed;
    setup.clock = worldClock();
    setup.firstScanTime = worldStart_ + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                            std::chrono::duration<double>(static_cast<double>(setup.clock.nOffset) / setup.clock.dHostRate));
    for (int32_t i = 0; i < nChannels; ++i) {
        const ChannelSettings* pChannel = findChannel("AI" + std::to_string(i));
        if (pChannel == nullptr || !pChannel->used()) continue;
        InputEncoding input;
        const RangeText& range = pChannel->range();
        input.bTemperature = range.sUnit == "degC";
        input.dMidpoint = (range.dMin + range.dMax) * 0.5;
        double dHalfSpan = (range.dMax - range.dMin) * 0.5;
        input.dCountsPerUnit = dHalfSpan > 0 ? dFullScale / dHalfSpan : 0.0;
        addScenario(i, setup.clock, &input);
        setup.inputs.push_back(input);
    }
    // Events in the world's past do not happen again.
    for (const ScenarioEvent& event : description_.scenario.events) {
        if (setup.clock.firstWorldScanAt(event.dAt, event.bHostTime) < setup.clock.nOffset && event.kind == EventKind::Overflow) continue;
        const uint64_t nBegin = setup.clock.firstScanAt(event.dAt, event.bHostTime);
        if (event.kind == EventKind::Stall) {
            const uint64_t nEnd = setup.clock.firstScanAt(event.dAt + event.dDuration, event.bHostTime);
            if (nEnd > 0) setup.stalls.emplace_back(nBegin, nEnd);
        }
        if (event.kind == EventKind::Overflow && nBegin < setup.nOverflowScan) setup.nOverflowScan = nBegin;
    }
    clock_ = setup.clock;
    acquisition_.reset(new Acquisition(setup));
    ++stats_.nRuns;
    // Started all the same, but the user should know the board runs on settings never applied.
    return bApplied_ ? ResultOk : ResultSettingsNotApplied;
}

// An input's signal and the spans in which an open, short or over-range event holds it at full scale.
void BoardState::addScenario(int32_t nChannel, const ScenarioClock& clock, InputEncoding* pInput) const {
    const Scenario& scenario = description_.scenario;
    pInput->nChannel = nChannel;
    auto it = scenario.signals.find(nChannel);
    if (it != scenario.signals.end()) pInput->pSignal = &it->second;
    for (const ScenarioEvent& event : scenario.events) {
        if (event.kind != EventKind::Open && event.kind != EventKind::Short && event.kind != EventKind::Overrange) continue;
        for (int32_t nEventChannel : event.channels) {
            if (nEventChannel != nChannel) continue;
            FullScaleSpan span;
            span.nBegin = clock.firstScanAt(event.dAt, event.bHostTime);
            span.nEnd = clock.firstScanAt(event.dAt + event.dDuration, event.bHostTime);
            span.nSign = event.kind == EventKind::Short ? -1 : 1;
            if (span.nEnd > span.nBegin) pInput->fullScale.push_back(span);
        }
    }
}

bool BoardState::timedFailure(const char* sEntryPoint, int32_t* pnResult) const {
    if (!acquisition_ || sEntryPoint == nullptr) return false;
    const uint64_t nNow = clock_.nOffset + acquisition_->buffer().produced();
    for (const ScenarioEvent& event : description_.scenario.events) {
        if (event.kind != EventKind::Fail) continue;
        const double dNow = clock_.seconds(nNow, event.bHostTime);
        if (dNow < event.dAt || dNow >= event.dAt + event.dDuration) continue;
        for (const std::string& sCall : event.calls) {
            if (sCall == sEntryPoint) {
                *pnResult = event.nResult;
                return true;
            }
        }
    }
    return false;
}

int32_t BoardState::command(int32_t nCommand, int64_t nValue) {
    if (isReadOnlyCommand(nCommand)) return ResultReadOnlyCommand;
    if (nCommand == ParamOpenBoard) {
        if (bOpen_) return ResultBoardAlreadyOpen;
        bOpen_ = true;
        return ResultOk;
    }
    if (!bOpen_) {
        return (isWriteOnlyCommand(nCommand) || nCommand == ParamBoardSetting258 || nCommand == ParamBoardSetting263)
                   ? ResultBoardNotOpen
                   : ResultUnknownCommand;
    }
    switch (nCommand) {
        case ParamCloseBoard:
            stopAcquisition();
            bOpen_ = false;
            return ResultOk;
        case ParamResetBoard:
            stopAcquisition();
            resetSettings();
            return ResultOk;
        case ParamStartAcq: return startAcquisition();
        case ParamStopAcq: stopAcquisition(); return ResultOk;
        case ParamApplySettings:
            if ((acquisition_ != nullptr)) return ResultAcqRunning;
            bApplied_ = true;
            return ResultOk;
        case ParamReleaseSamples: return acquisition_ ? acquisition_->release(nValue) : ResultAcqNotRunning;
        case ParamBoardSetting258:
        case ParamBoardSetting263:
            if ((acquisition_ != nullptr)) return ResultAcqRunning;
            if (nValue < 0 || nValue > 65535) return ResultInvalidValue;
            (nCommand == ParamBoardSetting258 ? nSetting258_ : nSetting263_) = static_cast<int32_t>(nValue);
            bApplied_ = false;
            return ResultOk;
        default: return ResultUnknownCommand;
    }
}

int32_t BoardState::read(int32_t nCommand, int64_t* pnValue) {
    if (isWriteOnlyCommand(nCommand)) return ResultWriteOnlyCommand;
    switch (nCommand) {
        case ParamScanSize: *pnValue = scanSize(); return ResultOk;
        case ParamSampleDelay: *pnValue = sampleDelay(); return ResultOk;
        case ParamBoardSetting258: *pnValue = nSetting258_; return ResultOk;
        case ParamBoardSetting263: *pnValue = nSetting263_; return ResultOk;
        case ParamBufferQuery32:
        case ParamBufferEnd:
        case ParamAvailableSamples:
        case ParamReadPosition:
        case ParamBufferSize: break;
        default: return ResultUnknownCommand;
    }
    if (!acquisition_) return ResultAcqNotRunning;
    const RingBuffer& ring = acquisition_->buffer();
    switch (nCommand) {
        case ParamBufferQuery32: *pnValue = ring.beginAddress(); return ResultOk;  // the buffer's start
        case ParamBufferEnd: *pnValue = ring.endAddress(); return ResultOk;
        case ParamBufferSize: *pnValue = ring.sizeBytes(); return ResultOk;
        case ParamReadPosition: *pnValue = ring.readAddress(); return ResultOk;
        default: return acquisition_->queryAvailable(pnValue);
    }
}

int32_t BoardState::writeSampleRate(const std::string& sValue) {
    char* pEnd = nullptr;
    double dRate = strtod(sValue.c_str(), &pEnd);
    if (pEnd == sValue.c_str() || !trimWhiteSpace(pEnd).empty() || !isfinite(dRate)) return ResultInvalidPropertyValue;
    xmlNodePtr pLimits = sampleRateLimits(description_);
    double dMin = hasAttribute(pLimits, "ProgMin") ? strtod(attribute(pLimits, "ProgMin").c_str(), nullptr) : 1.0;
    double dMax = hasAttribute(pLimits, "ProgMax") ? strtod(attribute(pLimits, "ProgMax").c_str(), nullptr) : 1e6;
    if (dRate < dMin || dRate > dMax) return ResultSampleRateOutOfLimits;
    dSampleRate_ = dRate;
    return ResultOk;
}

int32_t BoardState::setProperty(const std::string& sNode, const std::string& sProperty, const std::string& sValue) {
    ChannelSettings* pChannel = findChannel(sNode);
    bool bKnownNode = sNode.empty() || sNode == "AcqProp" || isChannelGroup(sNode);
    if (pChannel == nullptr && !bKnownNode) return ResultUnknownTarget;
    if (!bOpen_) return ResultBoardNotOpen;
    if ((acquisition_ != nullptr)) return ResultAcqRunning;

    int32_t nResult = ResultUnknownProperty;
    if (pChannel != nullptr) {
        nResult = pChannel->write(sProperty, sValue);
    } else if (sNode == "AcqProp" && sProperty == "Samplerate") {
        nResult = writeSampleRate(sValue);
    } else if (sNode.empty() && sProperty == "BoardName") {
        nResult = ResultReadOnlyProperty;
    } else if (sProperty == "Channels") {
        nResult = ResultReadOnlyProperty;
    }
    if (nResult == ResultOk) bApplied_ = false;
    return nResult;
}

int32_t BoardState::getProperty(const std::string& sNode, const std::string& sProperty, std::string* pValue) const {
    if (const ChannelSettings* pChannel = findChannel(sNode)) return pChannel->read(sProperty, pValue);
    if (sNode.empty()) {
        if (sProperty == "BoardName") *pValue = description_.sModel;
        else if (sProperty == "SerialNumber") *pValue = description_.sSerial;
        else return ResultUnknownProperty;
        return ResultOk;
    }
    if (sNode == "AcqProp") {
        if (sProperty != "Samplerate") return ResultUnknownProperty;
        char sText[64];
        snprintf(sText, sizeof(sText), "%.15g", dSampleRate_);
        *pValue = sText;
        return ResultOk;
    }
    if (!isChannelGroup(sNode)) return ResultUnknownTarget;
    if (sProperty != "Channels") return ResultUnknownProperty;
    auto it = description_.channelCounts.find(sNode);
    *pValue = std::to_string(it == description_.channelCounts.end() ? 0 : it->second);
    return ResultOk;
}

}  // namespace qsim
