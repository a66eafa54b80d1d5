#include "xml_query.h"

#include <libxml/xpath.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "kivo_codes.h"
#include "xml_util.h"

namespace qsim {

namespace {

// libxml2 reports XPath errors on standard error by default; the caller gets a result code instead.
void ignoreXmlError(void*, const char*, ...) {}
void ignoreStructuredError(void*, xmlErrorPtr) {}

// "BoardID<n>[/Child/Child...]": the board element, then child elements by name.
xmlNodePtr resolveBase(const SystemDescription& system, const std::string& sBase) {
    static const char kPrefix[] = "BoardID";
    const size_t nPrefix = sizeof(kPrefix) - 1;
    if (sBase.compare(0, nPrefix, kPrefix) != 0) return nullptr;
    size_t nEnd = nPrefix;
    while (nEnd < sBase.size() && sBase[nEnd] >= '0' && sBase[nEnd] <= '9') ++nEnd;
    if (nEnd == nPrefix || nEnd - nPrefix > 9) return nullptr;
    const BoardDescription* pBoard = system.board(static_cast<int32_t>(strtol(sBase.c_str() + nPrefix, nullptr, 10)));
    if (pBoard == nullptr) return nullptr;
    xmlNodePtr pNode = pBoard->pNode;
    size_t nPos = nEnd;
    while (pNode != nullptr && nPos < sBase.size()) {
        if (sBase[nPos] != '/') return nullptr;
        size_t nNext = sBase.find('/', nPos + 1);
        if (nNext == std::string::npos) nNext = sBase.size();
        pNode = firstChildElement(pNode, sBase.substr(nPos + 1, nNext - nPos - 1).c_str());
        nPos = nNext;
    }
    return pNode;
}

std::string numberText(double d) {
    char sText[64];
    if (isnan(d)) return "NaN";
    if (isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
    if (d == floor(d) && fabs(d) < 1e15) {
        snprintf(sText, sizeof(sText), "%lld", static_cast<long long>(d));
    } else {
        snprintf(sText, sizeof(sText), "%.15g", d);
    }
    return sText;
}

}  // namespace

int32_t evaluateQuery(const SystemDescription& system, const char* sBase, const char* sQuery, std::string* pAnswer) {
    if (sBase == nullptr || sQuery == nullptr) return ResultNullArgument;
    xmlNodePtr pBase = resolveBase(system, sBase);
    if (pBase == nullptr) return ResultUnknownTarget;

    xmlSetGenericErrorFunc(nullptr, ignoreXmlError);
    xmlSetStructuredErrorFunc(nullptr, ignoreStructuredError);
    xmlXPathContextPtr pContext = xmlXPathNewContext(system.document());
    if (pContext == nullptr) return ResultOutOfMemory;
    pContext->node = pBase;
    xmlXPathObjectPtr pResult = xmlXPathEvalExpression(reinterpret_cast<const xmlChar*>(sQuery), pContext);
    xmlXPathFreeContext(pContext);
    if (pResult == nullptr) return ResultInvalidQuery;

    int32_t nResult = ResultOk;
    switch (pResult->type) {
        case XPATH_NUMBER: *pAnswer = numberText(pResult->floatval); break;
        case XPATH_BOOLEAN: *pAnswer = pResult->boolval ? "true" : "false"; break;
        case XPATH_STRING:
            *pAnswer = pResult->stringval != nullptr ? reinterpret_cast<const char*>(pResult->stringval) : "";
            break;
        case XPATH_NODESET:
            if (pResult->nodesetval == nullptr || pResult->nodesetval->nodeNr == 0) {
                nResult = ResultQueryNoMatch;
            } else {
                *pAnswer = trimmedText(pResult->nodesetval->nodeTab[0]);
            }
            break;
        default: nResult = ResultInvalidQuery; break;
    }
    xmlXPathFreeObject(pResult);
    return nResult;
}

}  // namespace qsim
