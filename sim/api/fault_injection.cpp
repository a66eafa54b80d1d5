#include "fault_injection.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "entry_point_names.h"
#include "plain_text.h"

namespace qsim {

namespace {

bool parseInteger(const std::string& sText, int64_t* pnValue) {
    if (sText.empty()) return false;
    errno = 0;
    char* pEnd = nullptr;
    long long n = strtoll(sText.c_str(), &pEnd, 0);
    if (errno != 0 || *pEnd != '\0') return false;
    *pnValue = n;
    return true;
}

bool startsWith(const std::string& s, const char* sPrefix) { return s.compare(0, strlen(sPrefix), sPrefix) == 0; }

// Splits "TARGET:PROPERTY" at its last colon.
bool splitTargetProperty(const std::string& s, std::string* pTarget, std::string* pProperty) {
    size_t nColon = s.rfind(':');
    if (nColon == std::string::npos || nColon == 0 || nColon + 1 == s.size()) return false;
    *pTarget = s.substr(0, nColon);
    *pProperty = s.substr(nColon + 1);
    return true;
}

}  // namespace

bool FaultSet::parse(const char* sRules, std::string* pError) {
    rules_.clear();
    if (sRules == nullptr) return true;
    std::vector<Rule> rules;
    std::string sAll = sRules;
    size_t nStart = 0;
    while (nStart <= sAll.size()) {
        size_t nEnd = sAll.find(';', nStart);
        if (nEnd == std::string::npos) nEnd = sAll.size();
        std::string sRule = trimWhiteSpace(sAll.substr(nStart, nEnd - nStart));
        if (!sRule.empty()) {
            Rule rule;
            if (!parseRule(sRule, &rule, pError)) return false;
            rules.push_back(rule);
        }
        nStart = nEnd + 1;
    }
    rules_ = std::move(rules);
    return true;
}

bool FaultSet::parseRule(const std::string& sRule, Rule* pRule, std::string* pError) {
    size_t nEquals = sRule.find('=');
    if (nEquals == std::string::npos) {
        *pError = "rule '" + sRule + "' has no '='";
        return false;
    }
    std::string sSelector = trimWhiteSpace(sRule.substr(0, nEquals));
    std::string sValue = sRule.substr(nEquals + 1);
    bool bText = startsWith(sSelector, "text:");

    // A count suffix after the last ':' of the selector: "@N" from the N-th call, "#N" only then.
    size_t nLastColon = sSelector.rfind(':');
    size_t nCount = sSelector.find_first_of("@#", nLastColon == std::string::npos ? 0 : nLastColon);
    if (nCount != std::string::npos) {
        int64_t nCall = 0;
        if (!parseInteger(sSelector.substr(nCount + 1), &nCall) || nCall < 1) {
            *pError = "rule '" + sRule + "' has a bad call number";
            return false;
        }
        pRule->nFromCall = nCall;
        pRule->bOnlyThatCall = sSelector[nCount] == '#';
        sSelector = sSelector.substr(0, nCount);
    }

    if (bText) {
        pRule->kind = Kind::Text;
        pRule->sText = sValue;
        if (!splitTargetProperty(sSelector.substr(5), &pRule->sName, &pRule->sProperty)) {
            *pError = "rule '" + sRule + "' needs text:TARGET:PROPERTY";
            return false;
        }
        return true;
    }

    if (!parseInteger(trimWhiteSpace(sValue), &pRule->nValue)) {
        *pError = "rule '" + sRule + "' needs a number after '='";
        return false;
    }
    int64_t nCommand = 0;
    if (sSelector == "boards") {
        pRule->kind = Kind::Boards;
    } else if (startsWith(sSelector, "cmd:") || startsWith(sSelector, "value:") || startsWith(sSelector, "offset:")) {
        pRule->kind = startsWith(sSelector, "cmd:") ? Kind::Command
                      : startsWith(sSelector, "value:") ? Kind::Value
                                                        : Kind::Offset;
        if (!parseInteger(sSelector.substr(sSelector.find(':') + 1), &nCommand)) {
            *pError = "rule '" + sRule + "' needs a command code";
            return false;
        }
        if (nCommand < INT32_MIN || nCommand > INT32_MAX) {
            *pError = "rule '" + sRule + "' has a command code beyond 32 bits";
            return false;
        }
        pRule->nCommand = static_cast<int32_t>(nCommand);
    } else if (startsWith(sSelector, "prop:")) {
        pRule->kind = Kind::Property;
        if (!splitTargetProperty(sSelector.substr(5), &pRule->sName, &pRule->sProperty)) {
            *pError = "rule '" + sRule + "' needs prop:TARGET:PROPERTY";
            return false;
        }
    } else if (startsWith(sSelector, "KiVo")) {
        pRule->kind = Kind::EntryPoint;
        pRule->sName = sSelector;
        if (!isEntryPointName(sSelector)) {
            *pError = "rule '" + sRule + "' names no entry point of the driver";
            return false;
        }
    } else {
        *pError = "rule '" + sRule + "' has an unknown selector";
        return false;
    }
    if ((pRule->kind == Kind::EntryPoint || pRule->kind == Kind::Command || pRule->kind == Kind::Property ||
         pRule->kind == Kind::Boards) &&
        (pRule->nValue < INT32_MIN || pRule->nValue > INT32_MAX)) {
        *pError = "rule '" + sRule + "' has a result beyond 32 bits";
        return false;
    }
    return true;
}

bool FaultSet::fieldMatches(const std::string& sPattern, const char* sValue) {
    return sValue != nullptr && (sPattern == "*" || sPattern == sValue);
}

bool FaultSet::countAndFire(Rule& rule) {
    ++rule.nCalls;
    return rule.bOnlyThatCall ? rule.nCalls == rule.nFromCall : rule.nCalls >= rule.nFromCall;
}

bool FaultSet::boardCount(int32_t* pnCount) const {
    for (const Rule& rule : rules_) {
        if (rule.kind == Kind::Boards) {
            *pnCount = static_cast<int32_t>(rule.nValue);
            return true;
        }
    }
    return false;
}

bool FaultSet::injectedResult(const char* sEntryPoint, bool bHasCommand, int32_t nCommand, const char* sTarget,
                              const char* sProperty, int32_t* pnResult) {
    bool bInjected = false;
    for (Rule& rule : rules_) {
        bool bMatches = false;
        switch (rule.kind) {
            case Kind::EntryPoint: bMatches = rule.sName == sEntryPoint; break;
            case Kind::Command: bMatches = bHasCommand && rule.nCommand == nCommand; break;
            case Kind::Property:
                bMatches = fieldMatches(rule.sName, sTarget) && fieldMatches(rule.sProperty, sProperty);
                break;
            default: break;
        }
        // Every matching rule counts the call, so each rule's "@N" is independent of the others.
        if (bMatches && countAndFire(rule) && !bInjected) {
            *pnResult = static_cast<int32_t>(rule.nValue);
            bInjected = true;
        }
    }
    return bInjected;
}

void FaultSet::adjustValue(int32_t nCommand, int64_t* pnValue) {
    for (Rule& rule : rules_) {
        if ((rule.kind != Kind::Value && rule.kind != Kind::Offset) || rule.nCommand != nCommand) continue;
        if (!countAndFire(rule)) continue;
        // Offsets wrap like the 64-bit registers they stand for.
        *pnValue = rule.kind == Kind::Value
                       ? rule.nValue
                       : static_cast<int64_t>(static_cast<uint64_t>(*pnValue) + static_cast<uint64_t>(rule.nValue));
        return;
    }
}

bool FaultSet::replacementText(const char* sTarget, const char* sProperty, std::string* pText) {
    for (Rule& rule : rules_) {
        if (rule.kind != Kind::Text) continue;
        if (!fieldMatches(rule.sName, sTarget) || !fieldMatches(rule.sProperty, sProperty)) continue;
        if (!countAndFire(rule)) continue;
        *pText = rule.sText;
        return true;
    }
    return false;
}

}  // namespace qsim
