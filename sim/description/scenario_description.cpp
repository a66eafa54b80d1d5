#include "scenario_description.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>

#include "description_limits.h"
#include "entry_point_names.h"
#include "replay.h"
#include "xml_util.h"

namespace qsim {

namespace {

using L = ScenarioLimits;

bool refuse(xmlNodePtr pNode, const std::string& sWhy, std::string* pError) {
    *pError = describeElement(pNode) + ": " + sWhy;
    return false;
}

bool refuseAttribute(xmlNodePtr pNode, const char* sName, const std::string& sWhy, std::string* pError) {
    return refuse(pNode, std::string(sName) + "=\"" + attribute(pNode, sName) + "\" " + sWhy, pError);
}

// "12.5s", "500ms", "10m", "2h" or "1d" (the units queno_log's --duration takes): a time from 0 to
// kMaxSeconds. Absent leaves *pdSeconds as it is.
bool readTime(xmlNodePtr pNode, const char* sName, bool bPositive, double* pdSeconds, std::string* pError) {
    if (!hasAttribute(pNode, sName)) return true;
    std::string sText = attribute(pNode, sName);
    char* pEnd = nullptr;
    double d = strtod(sText.c_str(), &pEnd);
    std::string sUnit = pEnd != nullptr ? pEnd : "";
    static const std::pair<const char*, double> kUnits[] = {{"ms", 0.001}, {"s", 1}, {"m", 60}, {"h", 3600}, {"d", 86400}};
    double dScale = 0;
    for (const auto& unit : kUnits) {
        if (sUnit == unit.first) dScale = unit.second;
    }
    d *= dScale;
    if (pEnd == sText.c_str() || dScale == 0 || !isfinite(d) || d < 0 || d > L::kMaxSeconds ||
        (bPositive && d < L::kMinPeriod)) {
        return refuseAttribute(pNode, sName,
                               std::string("must be a time such as 12.5s, 500ms, 10m, 2h or 1d, ") +
                                   (bPositive ? "above 0" : "from 0") + " up to 1e9 s",
                               pError);
    }
    *pdSeconds = d;
    return true;
}

bool readBool(xmlNodePtr pNode, const char* sName, bool* pbValue, std::string* pError) {
    if (!hasAttribute(pNode, sName)) return true;
    std::string s = attribute(pNode, sName);
    if (s != "true" && s != "false") return refuseAttribute(pNode, sName, "must be true or false", pError);
    *pbValue = s == "true";
    return true;
}

// timebase="scan" (the board's own clock, the default) or "host".
bool readTimebase(xmlNodePtr pNode, bool* pbHostTime, std::string* pError) {
    if (!hasAttribute(pNode, "timebase")) return true;
    const std::string s = attribute(pNode, "timebase");
    if (s != "scan" && s != "host") return refuseAttribute(pNode, "timebase", "must be scan or host", pError);
    *pbHostTime = s == "host";
    return true;
}

bool readValue(xmlNodePtr pNode, const char* sName, double* pdValue, std::string* pError) {
    return readLimitedNumber(pNode, sName, -L::kMaxValue, L::kMaxValue, pdValue, pError);
}

bool require(xmlNodePtr pNode, const char* sName, std::string* pError) {
    if (hasAttribute(pNode, sName)) return true;
    return refuse(pNode, "needs a " + std::string(sName) + " attribute", pError);
}

// "AI0..AI3", "AI5", "AI1,AI4": AI indexes below nInputs, each at most once.
bool readChannels(xmlNodePtr pNode, int32_t nInputs, std::vector<int32_t>* pChannels, std::string* pError) {
    std::string sText = attribute(pNode, "channels");
    auto index = [&](const std::string& sName, int32_t* pn) {
        if (sName.size() < 3 || sName.size() > 6 || sName.compare(0, 2, "AI") != 0 ||
            sName.find_first_not_of("0123456789", 2) != std::string::npos) {
            return false;
        }
        long n = strtol(sName.c_str() + 2, nullptr, 10);
        if (n >= nInputs) return false;
        *pn = static_cast<int32_t>(n);
        return true;
    };
    const std::string sWhy = "must name analogue inputs of this board (AI0 to AI" + std::to_string(nInputs - 1) +
                             "), as AI0..AI3 or AI1,AI4";
    if (nInputs <= 0) return refuseAttribute(pNode, "channels", "names inputs, but the board has none", pError);
    for (size_t nFrom = 0; nFrom <= sText.size();) {
        size_t nComma = sText.find(',', nFrom);
        if (nComma == std::string::npos) nComma = sText.size();
        std::string sPart = trimWhiteSpace(sText.substr(nFrom, nComma - nFrom));
        nFrom = nComma + 1;
        size_t nDots = sPart.find("..");
        int32_t nFirst = 0, nLast = 0;
        if (!index(sPart.substr(0, nDots), &nFirst) ||
            !index(nDots == std::string::npos ? sPart.substr(0, nDots) : sPart.substr(nDots + 2), &nLast) ||
            nLast < nFirst) {
            return refuseAttribute(pNode, "channels", sWhy, pError);
        }
        for (int32_t n = nFirst; n <= nLast; ++n) pChannels->push_back(n);
    }
    return true;
}

std::string resolve(const std::string& sBaseDir, const std::string& sFile) {
    if (sFile.empty() || sFile[0] == '/' || sBaseDir.empty()) return sFile;
    return sBaseDir + "/" + sFile;
}

bool readSignal(xmlNodePtr pSignal, int32_t nInputs, const std::string& sBaseDir, Scenario* pScenario,
                std::string* pError) {
    std::vector<int32_t> channels;
    if (!require(pSignal, "channels", pError) || !require(pSignal, "kind", pError) ||
        !readChannels(pSignal, nInputs, &channels, pError)) {
        return false;
    }
    ScenarioSignal signal;
    std::string sKind = attribute(pSignal, "kind");
    double dSeed = 0;
    if (!readLimitedNumber(pSignal, "noise", 0, L::kMaxNoise, &signal.dNoise, pError) ||
        !readLimitedNumber(pSignal, "seed", 0, 4294967295.0, &dSeed, pError) || !readTimebase(pSignal, &signal.bHostTime, pError)) {
        return false;
    }
    if (dSeed != floor(dSeed)) return refuseAttribute(pSignal, "seed", "must be a whole number", pError);
    signal.nSeed = static_cast<uint32_t>(dSeed);
    if (sKind == "constant") {
        signal.kind = SignalKind::Constant;
        if (!require(pSignal, "value", pError) || !readValue(pSignal, "value", &signal.dValue, pError)) return false;
    } else if (sKind == "ramp") {
        signal.kind = SignalKind::Ramp;
        std::string sThen = hasAttribute(pSignal, "then") ? attribute(pSignal, "then") : "hold";
        if (sThen != "hold" && sThen != "repeat") return refuseAttribute(pSignal, "then", "must be hold or repeat", pError);
        signal.bRepeat = sThen == "repeat";
        if (!require(pSignal, "from", pError) || !require(pSignal, "to", pError) || !require(pSignal, "duration", pError) ||
            !readValue(pSignal, "from", &signal.dFrom, pError) || !readValue(pSignal, "to", &signal.dTo, pError) ||
            !readTime(pSignal, "duration", true, &signal.dDuration, pError)) {
            return false;
        }
    } else if (sKind == "sine") {
        signal.kind = SignalKind::Sine;
        if (!require(pSignal, "period", pError) || !readValue(pSignal, "offset", &signal.dOffset, pError) ||
            !readValue(pSignal, "amplitude", &signal.dAmplitude, pError) ||
            !readTime(pSignal, "period", true, &signal.dPeriod, pError)) {
            return false;
        }
    } else if (sKind == "steps") {
        signal.kind = SignalKind::Steps;
        if (!require(pSignal, "values", pError) || !require(pSignal, "every", pError) ||
            !readTime(pSignal, "every", true, &signal.dEvery, pError) || !readBool(pSignal, "repeat", &signal.bRepeat, pError)) {
            return false;
        }
        std::string sValues = attribute(pSignal, "values");
        const char* p = sValues.c_str();
        for (;;) {
            while (*p == ' ' || *p == '\t' || *p == '\n') ++p;
            if (*p == '\0') break;
            char* pEnd = nullptr;
            double d = strtod(p, &pEnd);
            bool bSeparated = *pEnd == '\0' || *pEnd == ' ' || *pEnd == '\t' || *pEnd == '\n';
            if (pEnd == p || !bSeparated || !isfinite(d) || fabs(d) > L::kMaxValue || signal.steps.size() >= L::kMaxSteps) {
                return refuseAttribute(pSignal, "values", "must be 1 to 256 finite numbers separated by spaces", pError);
            }
            signal.steps.push_back(d);
            p = pEnd;
        }
        if (signal.steps.empty()) {
            return refuseAttribute(pSignal, "values", "must be 1 to 256 finite numbers separated by spaces", pError);
        }
    } else if (sKind == "replay") {
        signal.kind = SignalKind::Replay;
        if (!require(pSignal, "file", pError) || !require(pSignal, "column", pError) ||
            !readLimitedNumber(pSignal, "speed", L::kMinSpeed, L::kMaxSpeed, &signal.dSpeed, pError) ||
            !readBool(pSignal, "loop", &signal.bLoop, pError)) {
            return false;
        }
        auto data = std::make_shared<ReplayData>();
        std::string sWhy;
        std::string sFile = resolve(sBaseDir, attribute(pSignal, "file"));
        if (!loadReplay(sFile, attribute(pSignal, "column"), data.get(), &sWhy)) {
            return refuseAttribute(pSignal, "file", "cannot be replayed: " + sFile + ": " + sWhy, pError);
        }
        signal.replay = data;
    } else {
        return refuseAttribute(pSignal, "kind", "must be constant, ramp, sine, steps or replay", pError);
    }
    for (int32_t nChannel : channels) {
        if (!pScenario->signals.emplace(nChannel, signal).second) {
            return refuse(pSignal, "AI" + std::to_string(nChannel) + " already has a signal", pError);
        }
    }
    return true;
}

bool readEvent(xmlNodePtr pEvent, int32_t nInputs, Scenario* pScenario, std::string* pError) {
    ScenarioEvent event;
    if (!require(pEvent, "at", pError) || !require(pEvent, "kind", pError) ||
        !readTime(pEvent, "at", false, &event.dAt, pError) || !readTime(pEvent, "duration", true, &event.dDuration, pError) ||
        !readTimebase(pEvent, &event.bHostTime, pError)) {
        return false;
    }
    static const std::pair<const char*, EventKind> kKinds[] = {
        {"open", EventKind::Open},         {"short", EventKind::Short}, {"overrange", EventKind::Overrange},
        {"stall", EventKind::Stall},       {"overflow", EventKind::Overflow}, {"fail", EventKind::Fail}};
    std::string sKind = attribute(pEvent, "kind");
    bool bKnown = false;
    for (const auto& kind : kKinds) {
        if (sKind == kind.first) {
            event.kind = kind.second;
            bKnown = true;
        }
    }
    if (!bKnown) return refuseAttribute(pEvent, "kind", "must be open, short, overrange, stall, overflow or fail", pError);
    const bool bChannelEvent = event.kind == EventKind::Open || event.kind == EventKind::Short || event.kind == EventKind::Overrange;
    if (bChannelEvent) {
        if (!require(pEvent, "channels", pError) || !readChannels(pEvent, nInputs, &event.channels, pError)) return false;
    } else if (hasAttribute(pEvent, "channels")) {
        return refuseAttribute(pEvent, "channels", "belongs to open, short and overrange events only", pError);
    }
    if (event.kind == EventKind::Stall && isinf(event.dDuration)) {
        return refuse(pEvent, "a stall needs a duration", pError);
    }
    if (event.kind == EventKind::Fail) {
        double dResult = 0;
        if (!require(pEvent, "calls", pError) || !require(pEvent, "result", pError) ||
            !readLimitedNumber(pEvent, "result", INT32_MIN, INT32_MAX, &dResult, pError)) {
            return false;
        }
        if (dResult != floor(dResult) || dResult == 0) {
            return refuseAttribute(pEvent, "result", "must be a whole result code other than 0", pError);
        }
        event.nResult = static_cast<int32_t>(dResult);
        std::string sCalls = attribute(pEvent, "calls");
        for (size_t nFrom = 0; nFrom <= sCalls.size();) {
            size_t nComma = sCalls.find(',', nFrom);
            if (nComma == std::string::npos) nComma = sCalls.size();
            std::string sName = trimWhiteSpace(sCalls.substr(nFrom, nComma - nFrom));
            nFrom = nComma + 1;
            if (!isEntryPointName(sName)) {
                return refuseAttribute(pEvent, "calls", "must name driver entry points, such as KiVoGetParam_i32", pError);
            }
            event.calls.push_back(sName);
        }
    } else if (hasAttribute(pEvent, "calls") || hasAttribute(pEvent, "result")) {
        return refuse(pEvent, "calls and result belong to fail events only", pError);
    }
    pScenario->events.push_back(event);
    return true;
}

}  // namespace

bool readScenario(xmlNodePtr pBoard, int32_t nInputs, const std::string& sBaseDir, Scenario* pScenario,
                  std::string* pError) {
    *pScenario = Scenario();
    std::vector<xmlNodePtr> signals = childElements(firstChildElement(pBoard, "Signals"), "Signal");
    std::vector<xmlNodePtr> events = childElements(firstChildElement(pBoard, "Events"), "Event");
    if (signals.size() > L::kMaxSignals) return refuse(signals[L::kMaxSignals], "more than 256 signals", pError);
    if (events.size() > L::kMaxEvents) return refuse(events[L::kMaxEvents], "more than 256 events", pError);
    for (xmlNodePtr pSignal : signals) {
        if (!readSignal(pSignal, nInputs, sBaseDir, pScenario, pError)) return false;
    }
    for (xmlNodePtr pEvent : events) {
        if (!readEvent(pEvent, nInputs, pScenario, pError)) return false;
    }
    return true;
}

}  // namespace qsim
