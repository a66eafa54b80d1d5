#include "channel_request.h"

#include <stdlib.h>

#include <algorithm>

namespace qacq {

namespace {

struct Preset {
    const char* sName;
    std::vector<PropertyWrite> writes;  // in the order the driver wants them: the mode first
};

// The rtd preset is the example's channel, written in the example's order. The range of each is
// what the sensor can measure; the driver settles it on the nearest range the board offers.
const std::vector<Preset>& presets() {
    static const std::vector<Preset> kPresets = {
        {"rtd", {{"Mode", "RTD-Temperature"}, {"LinearisationTable", "PTX"}, {"Excitation", "0.500000 mA"},
                 {"SensorRes0", "600 Ohm"}, {"Range", "-100.000000..200.000000 degC"}, {"IIRFilter_VAL", "100"}}},
        {"pt100", {{"Mode", "RTD-Temperature"}, {"LinearisationTable", "PT100"}, {"Excitation", "1.000000 mA"},
                   {"SensorRes0", "100 Ohm"}, {"Range", "-200.000000..850.000000 degC"}}},
        {"pt1000", {{"Mode", "RTD-Temperature"}, {"LinearisationTable", "PT1000"}, {"Excitation", "0.250000 mA"},
                    {"SensorRes0", "1000 Ohm"}, {"Range", "-200.000000..850.000000 degC"}}},
        {"tc-k", {{"Mode", "Thermocouple"}, {"LinearisationTable", "TypeK"}, {"Range", "-270.000000..1372.000000 degC"}}},
        {"tc-j", {{"Mode", "Thermocouple"}, {"LinearisationTable", "TypeJ"}, {"Range", "-210.000000..1200.000000 degC"}}},
        {"voltage", {{"Mode", "Voltage"}, {"Range", "-10.000000..10.000000 V"}}},
        {"bridge", {{"Mode", "Bridge"}, {"Excitation", "5.000000 V"}, {"Range", "-2.000000..2.000000 mV/V"}}},
    };
    return kPresets;
}


void setWrite(std::vector<PropertyWrite>* pWrites, const std::string& sName, const std::string& sValue) {
    for (PropertyWrite& write : *pWrites) {
        if (write.first == sName) {
            write.second = sValue;
            return;
        }
    }
    pWrites->emplace_back(sName, sValue);
}

bool validPropertyName(const std::string& s) {
    if (s.empty() || s.size() > 64) return false;
    for (char c : s) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-')) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::string presetNames() {
    std::string s;
    for (const Preset& preset : presets()) s += (s.empty() ? "" : ", ") + std::string(preset.sName);
    return s;
}

bool parseChannelRequest(const std::string& sText, ChannelRequest* pRequest, std::string* pError) {
    *pRequest = ChannelRequest();
    size_t nComma = sText.find(',');
    std::string sHead = sText.substr(0, nComma);
    size_t nColon = sHead.find(':');
    std::string sName = sHead.substr(0, nColon);
    if (sName.size() < 3 || sName.compare(0, 2, "AI") != 0 || sName.size() > 5 ||
        sName.find_first_not_of("0123456789", 2) != std::string::npos) {
        *pError = "channel \"" + sText + "\": expected AI<k>[:<preset>][,<Property>=<value>]...";
        return false;
    }
    pRequest->nChannel = static_cast<int32_t>(strtol(sName.c_str() + 2, nullptr, 10));

    std::vector<PropertyWrite> writes;
    if (nColon != std::string::npos) {
        pRequest->sPreset = sHead.substr(nColon + 1);
        const Preset* pFound = nullptr;
        for (const Preset& preset : presets()) {
            if (pRequest->sPreset == preset.sName) pFound = &preset;
        }
        if (pFound == nullptr) {
            *pError = "channel \"" + sText + "\": unknown preset \"" + pRequest->sPreset + "\" (presets: " + presetNames() + ")";
            return false;
        }
        writes = pFound->writes;
    }
    // The board acquires only the inputs marked as used.
    setWrite(&writes, "Used", "True");

    while (nComma != std::string::npos) {
        size_t nNext = sText.find(',', nComma + 1);
        std::string sPair = sText.substr(nComma + 1, nNext == std::string::npos ? std::string::npos : nNext - nComma - 1);
        nComma = nNext;
        size_t nEquals = sPair.find('=');
        std::string sProperty = trimmed(sPair.substr(0, nEquals));
        if (nEquals == std::string::npos || !validPropertyName(sProperty)) {
            *pError = "channel \"" + sText + "\": \"" + sPair + "\" is not <Property>=<value>";
            return false;
        }
        std::string sValue = trimmed(sPair.substr(nEquals + 1));
        if (sProperty == "Mode") {
            // The mode goes first: entering it resets what depends on it.
            if (writes.front().first == "Mode") {
                writes.front().second = sValue;
            } else {
                writes.insert(writes.begin(), PropertyWrite(sProperty, sValue));
            }
            continue;
        }
        if (sProperty == "Range") pRequest->bRangeGiven = true;
        setWrite(&writes, sProperty, sValue);
    }
    pRequest->writes = writes;
    return true;
}

bool addChannelRequests(const std::vector<std::string>& texts, std::vector<ChannelRequest>* pChannels, std::string* pError) {
    for (const std::string& sText : texts) {
        ChannelRequest request;
        if (!parseChannelRequest(sText, &request, pError)) return false;
        for (const ChannelRequest& other : *pChannels) {
            if (other.nChannel == request.nChannel) {
                *pError = "AI" + std::to_string(request.nChannel) + " is named twice";
                return false;
            }
        }
        pChannels->push_back(request);
    }
    // The scan carries the used inputs in ascending order, and so do the columns.
    std::sort(pChannels->begin(), pChannels->end(),
              [](const ChannelRequest& a, const ChannelRequest& b) { return a.nChannel < b.nChannel; });
    return true;
}

bool splitBoardOfChannel(const std::string& sText, int32_t* pnBoardId, std::string* psSerial, std::string* psChannel,
                         std::string* pError) {
    *pnBoardId = -1;
    psSerial->clear();
    *psChannel = sText;
    // The board stands before the first '/' that comes before the channel's own text.
    const size_t nSlash = sText.find('/');
    const size_t nSettings = sText.find_first_of(":,");
    if (nSlash == std::string::npos || (nSettings != std::string::npos && nSettings < nSlash && sText.compare(0, 7, "serial:") != 0)) {
        return true;
    }
    const std::string sBoard = sText.substr(0, nSlash);
    *psChannel = sText.substr(nSlash + 1);
    if (sBoard.compare(0, 7, "serial:") == 0) {
        *psSerial = sBoard.substr(7);
        if (!psSerial->empty()) return true;
    } else if (!sBoard.empty() && sBoard.size() <= 4 && sBoard.find_first_not_of("0123456789") == std::string::npos) {
        *pnBoardId = static_cast<int32_t>(strtol(sBoard.c_str(), nullptr, 10));
        return true;
    }
    *pError = "'" + sText + "': the board before '/' must be its id (such as 1) or serial:<number>";
    return false;
}

std::string trimmed(const std::string& s) {
    size_t nBegin = s.find_first_not_of(" \t");
    if (nBegin == std::string::npos) return "";
    size_t nEnd = s.find_last_not_of(" \t");
    return s.substr(nBegin, nEnd - nBegin + 1);
}

}  // namespace qacq
