#include "channel_settings.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <strings.h>

#include <vector>

#include "kivo_codes.h"
#include "xml_util.h"

namespace qsim {

namespace {

// A number followed by an optional unit ("0.5 mA", "600 Ohm", "100").
bool parseQuantity(const std::string& sText, double* pdValue, std::string* pUnit) {
    const char* sBegin = sText.c_str();
    char* pEnd = nullptr;
    double d = strtod(sBegin, &pEnd);
    if (pEnd == sBegin || !isfinite(d)) return false;
    *pdValue = d;
    *pUnit = trimWhiteSpace(pEnd);
    return true;
}

bool nearlyEqual(double a, double b) { return fabs(a - b) <= 1e-9 * fmax(1.0, fmax(fabs(a), fabs(b))); }

std::string formatNumber(double d) {
    char sText[64];
    snprintf(sText, sizeof(sText), "%.15g", d);
    return sText;
}

std::vector<xmlNodePtr> listEntries(xmlNodePtr pList) {
    std::vector<xmlNodePtr> entries;
    for (xmlNodePtr p : childElements(pList)) {
        if (elementName(p).compare(0, 2, "ID") == 0) entries.push_back(p);
    }
    return entries;
}

}  // namespace

ChannelSettings::ChannelSettings(xmlNodePtr pChannelNode, int32_t nResolution)
    : pChannel_(pChannelNode), nResolution_(nResolution) {
    std::vector<xmlNodePtr> modes = childElements(pChannel_, "Mode");
    if (!modes.empty()) enterMode(modes.front());
}

xmlNodePtr ChannelSettings::findMode(const std::string& sMode) const {
    for (xmlNodePtr p : childElements(pChannel_, "Mode")) {
        if (attribute(p, "Mode") == sMode) return p;
    }
    return nullptr;
}

// A mode starts with its defaults: the first entry of every list, the Default (or Min) of every
// number, the first range.
void ChannelSettings::enterMode(xmlNodePtr pMode) {
    pMode_ = pMode;
    sMode_ = attribute(pMode, "Mode");
    values_.clear();
    range_ = RangeText();
    for (xmlNodePtr pProperty : childElements(pMode)) {
        std::string sName = elementName(pProperty);
        std::vector<xmlNodePtr> entries = listEntries(pProperty);
        if (sName == "Range") {
            if (!entries.empty()) parseRangeText(trimmedText(entries.front()), &range_);
        } else if (!entries.empty()) {
            values_[sName] = trimmedText(entries.front());
        } else if (hasAttribute(pProperty, "Min") || hasAttribute(pProperty, "Default")) {
            std::string sDefault = hasAttribute(pProperty, "Default") ? attribute(pProperty, "Default")
                                                                       : attribute(pProperty, "Min");
            std::string sUnit = attribute(pProperty, "Unit");
            values_[sName] = sUnit.empty() ? sDefault : sDefault + " " + sUnit;
        }
    }
}

int32_t ChannelSettings::write(const std::string& sProperty, const std::string& sValue) {
    if (sProperty == "Mode") {
        xmlNodePtr pMode = findMode(sValue);
        if (pMode == nullptr) return ResultModeNotAvailable;
        if (pMode != pMode_) enterMode(pMode);
        return ResultOk;
    }
    if (sProperty == "Used") {
        if (strcasecmp(sValue.c_str(), "True") == 0 || sValue == "1") {
            bUsed_ = true;
        } else if (strcasecmp(sValue.c_str(), "False") == 0 || sValue == "0") {
            bUsed_ = false;
        } else {
            return ResultInvalidPropertyValue;
        }
        return ResultOk;
    }
    if (sProperty == "scalevalue" || sProperty == "scaleoffset") return ResultReadOnlyProperty;
    if (pMode_ == nullptr) return ResultUnknownProperty;
    if (sProperty == "Range") return writeRange(sValue);

    xmlNodePtr pElement = firstChildElement(pMode_, sProperty.c_str());
    if (pElement == nullptr) return ResultUnknownProperty;
    if (!listEntries(pElement).empty()) return writeListEntry(pElement, sProperty, sValue);
    return writeNumber(pElement, sProperty, sValue);
}

// The hardware offers fixed ranges: the written one settles on the narrowest that holds it.
int32_t ChannelSettings::writeRange(const std::string& sValue) {
    xmlNodePtr pRanges = firstChildElement(pMode_, "Range");
    if (pRanges == nullptr) return ResultUnknownProperty;
    RangeText wanted;
    if (!parseRangeText(sValue, &wanted)) return ResultInvalidPropertyValue;
    const double dTolerance = 1e-9 * fmax(1.0, fmax(fabs(wanted.dMin), fabs(wanted.dMax)));
    bool bFound = false;
    RangeText best;
    for (xmlNodePtr pEntry : listEntries(pRanges)) {
        RangeText offered;
        if (!parseRangeText(trimmedText(pEntry), &offered)) continue;
        if (!wanted.sUnit.empty() && wanted.sUnit != offered.sUnit) continue;
        if (offered.dMin > wanted.dMin + dTolerance || offered.dMax < wanted.dMax - dTolerance) continue;
        if (!bFound || offered.dMax - offered.dMin < best.dMax - best.dMin) best = offered;
        bFound = true;
    }
    if (!bFound) return ResultRangeNotAvailable;
    range_ = best;
    return ResultOk;
}

int32_t ChannelSettings::writeListEntry(xmlNodePtr pList, const std::string& sProperty, const std::string& sValue) {
    double dWanted = 0;
    std::string sWantedUnit;
    bool bNumeric = parseQuantity(sValue, &dWanted, &sWantedUnit);
    for (xmlNodePtr pEntry : listEntries(pList)) {
        std::string sEntry = trimmedText(pEntry);
        double dOffered = 0;
        std::string sOfferedUnit;
        bool bMatch = sEntry == trimWhiteSpace(sValue);
        if (!bMatch && bNumeric && parseQuantity(sEntry, &dOffered, &sOfferedUnit)) {
            bMatch = nearlyEqual(dWanted, dOffered) && (sWantedUnit.empty() || sWantedUnit == sOfferedUnit);
        }
        if (bMatch) {
            values_[sProperty] = sEntry;
            return ResultOk;
        }
    }
    return ResultInvalidPropertyValue;
}

int32_t ChannelSettings::writeNumber(xmlNodePtr pLimits, const std::string& sProperty, const std::string& sValue) {
    double dValue = 0;
    std::string sUnit;
    if (!parseQuantity(sValue, &dValue, &sUnit)) return ResultInvalidPropertyValue;
    std::string sExpectedUnit = attribute(pLimits, "Unit");
    if (!sUnit.empty() && sUnit != sExpectedUnit) return ResultInvalidPropertyValue;
    if (hasAttribute(pLimits, "Min") && dValue < strtod(attribute(pLimits, "Min").c_str(), nullptr)) {
        return ResultInvalidPropertyValue;
    }
    if (hasAttribute(pLimits, "Max") && dValue > strtod(attribute(pLimits, "Max").c_str(), nullptr)) {
        return ResultInvalidPropertyValue;
    }
    std::string sNumber = formatNumber(dValue);
    values_[sProperty] = sExpectedUnit.empty() ? sNumber : sNumber + " " + sExpectedUnit;
    return ResultOk;
}

int32_t ChannelSettings::read(const std::string& sProperty, std::string* pValue) const {
    if (sProperty == "Mode") {
        if (pMode_ == nullptr) return ResultUnknownProperty;
        *pValue = sMode_;
        return ResultOk;
    }
    if (sProperty == "Used") {
        *pValue = bUsed_ ? "True" : "False";
        return ResultOk;
    }
    if (pMode_ == nullptr) return ResultUnknownProperty;
    bool bHasRange = firstChildElement(pMode_, "Range") != nullptr;
    if (sProperty == "Range" && bHasRange) {
        *pValue = formatRangeText(range_);
        return ResultOk;
    }
    // The driver's own linear scaling of the settled range: value = sample * scalevalue - scaleoffset.
    if ((sProperty == "scalevalue" || sProperty == "scaleoffset") && bHasRange) {
        double dFullScale = nResolution_ == 16 ? 32767.0 : 8388607.0;
        double dHalfSpan = (range_.dMax - range_.dMin) * 0.5;
        char sText[64];
        snprintf(sText, sizeof(sText), "%.17g",
                 sProperty == "scalevalue" ? dHalfSpan / dFullScale : dHalfSpan - range_.dMax);
        *pValue = sText;
        return ResultOk;
    }
    auto it = values_.find(sProperty);
    if (it == values_.end()) return ResultUnknownProperty;
    *pValue = it->second;
    return ResultOk;
}

double ChannelSettings::filter() const {
    auto it = values_.find("IIRFilter_VAL");
    return it == values_.end() ? 0.0 : strtod(it->second.c_str(), nullptr);
}

}  // namespace qsim
