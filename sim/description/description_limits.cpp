#include "description_limits.h"

#include <math.h>
#include <stdlib.h>

#include "plain_text.h"
#include "xml_util.h"

namespace qsim {

namespace {

std::string formatLimit(double d) {
    char sText[32];
    snprintf(sText, sizeof(sText), "%g", d);
    return sText;
}

bool fail(std::string* pError, xmlNodePtr pNode, const std::string& sWhy) {
    *pError = describeElement(pNode) + ": " + sWhy;
    return false;
}

bool isListEntry(xmlNodePtr pNode) { return elementName(pNode).compare(0, 2, "ID") == 0; }

bool checkList(xmlNodePtr pList, std::string* pError) {
    size_t nEntries = 0;
    for (xmlNodePtr pEntry : childElements(pList)) {
        if (!isListEntry(pEntry)) continue;
        if (++nEntries > DescriptionLimits::kMaxListEntries) {
            return fail(pError, pList, "more than " + std::to_string(DescriptionLimits::kMaxListEntries) + " entries");
        }
        if (elementName(pList) != "Range") continue;
        RangeText range;
        std::string sText = trimmedText(pEntry);
        if (!parseRangeText(sText, &range) || fabs(range.dMin) > DescriptionLimits::kMaxMagnitude ||
            fabs(range.dMax) > DescriptionLimits::kMaxMagnitude) {
            return fail(pError, pEntry,
                        "range \"" + sText + "\" must be MIN..MAX with finite numbers, MIN below MAX, within ±" +
                            formatLimit(DescriptionLimits::kMaxMagnitude));
        }
    }
    return true;
}

// Min, Max and Default of a setting that takes a number: finite, Min <= Default <= Max.
bool checkNumberSetting(xmlNodePtr pSetting, std::string* pError) {
    const double dLimit = DescriptionLimits::kMaxMagnitude;
    double dMin = -dLimit, dMax = dLimit, dDefault = 0;
    if (!readLimitedNumber(pSetting, "Min", -dLimit, dLimit, &dMin, pError) ||
        !readLimitedNumber(pSetting, "Max", -dLimit, dLimit, &dMax, pError) ||
        !readLimitedNumber(pSetting, "Default", -dLimit, dLimit, &dDefault, pError)) {
        return false;
    }
    if (dMin > dMax) return fail(pError, pSetting, "Min=\"" + attribute(pSetting, "Min") + "\" is above Max=\"" +
                                                       attribute(pSetting, "Max") + "\"");
    if (hasAttribute(pSetting, "Default") && (dDefault < dMin || dDefault > dMax)) {
        return fail(pError, pSetting, "Default=\"" + attribute(pSetting, "Default") + "\" is outside Min..Max");
    }
    return true;
}

}  // namespace

std::string describeElement(xmlNodePtr pNode) {
    return "line " + std::to_string(xmlGetLineNo(pNode)) + ": <" + elementName(pNode) + ">";
}

bool readLimitedNumber(xmlNodePtr pNode, const char* sName, double dMin, double dMax, double* pdValue,
                       std::string* pError) {
    if (!hasAttribute(pNode, sName)) return true;
    std::string sText = attribute(pNode, sName);
    char* pEnd = nullptr;
    double d = strtod(sText.c_str(), &pEnd);
    if (sText.empty() || *pEnd != '\0' || !isfinite(d) || d < dMin || d > dMax) {
        return fail(pError, pNode, std::string(sName) + "=\"" + sText + "\" must be a finite number from " +
                                       formatLimit(dMin) + " to " + formatLimit(dMax));
    }
    *pdValue = d;
    return true;
}

size_t countElements(xmlNodePtr pNode, size_t nLimit) {
    size_t nCount = 0;
    // Iterative walk: a deeply nested document must not exhaust the stack.
    for (xmlNodePtr p = pNode; p != nullptr && nCount <= nLimit;) {
        if (p->type == XML_ELEMENT_NODE) ++nCount;
        if (p->children != nullptr && p->type == XML_ELEMENT_NODE) {
            p = p->children;
            continue;
        }
        while (p != nullptr && p != pNode && p->next == nullptr) p = p->parent;
        if (p == nullptr || p == pNode) break;
        p = p->next;
    }
    return nCount;
}

bool checkSampleRate(xmlNodePtr pSampleRate, std::string* pError) {
    if (pSampleRate == nullptr) return true;
    const double dTop = DescriptionLimits::kMaxSampleRate;
    double dMin = 1, dMax = 1e6, dDefault = 0;
    // A rate must be positive: zero would make the producer's schedule meaningless.
    const double dLowest = 1e-3;
    if (!readLimitedNumber(pSampleRate, "ProgMin", dLowest, dTop, &dMin, pError) ||
        !readLimitedNumber(pSampleRate, "ProgMax", dLowest, dTop, &dMax, pError) ||
        !readLimitedNumber(pSampleRate, "Default", dLowest, dTop, &dDefault, pError)) {
        return false;
    }
    if (dMin > dMax) return fail(pError, pSampleRate, "ProgMin is above ProgMax");
    if (hasAttribute(pSampleRate, "Default") && (dDefault < dMin || dDefault > dMax)) {
        return fail(pError, pSampleRate, "Default=\"" + attribute(pSampleRate, "Default") + "\" is outside ProgMin..ProgMax");
    }
    return true;
}

bool checkChannelModes(xmlNodePtr pChannel, std::string* pError) {
    std::vector<xmlNodePtr> modes = childElements(pChannel, "Mode");
    if (modes.size() > DescriptionLimits::kMaxModesPerChannel) {
        return fail(pError, pChannel, "more than " + std::to_string(DescriptionLimits::kMaxModesPerChannel) + " modes");
    }
    for (xmlNodePtr pMode : modes) {
        for (xmlNodePtr pSetting : childElements(pMode)) {
            bool bList = false;
            for (xmlNodePtr pChild : childElements(pSetting)) bList = bList || isListEntry(pChild);
            if (bList ? !checkList(pSetting, pError) : !checkNumberSetting(pSetting, pError)) return false;
        }
    }
    return true;
}

}  // namespace qsim
