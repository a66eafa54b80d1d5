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
int32_t resolveBase(const SystemDescription& system, const std::string& sBase, xmlNodePtr* ppNode) {
    int32_t nBoardId = 0;
    std::string sPath;
    if (!parseBoardTarget(sBase, &nBoardId, &sPath)) return ResultUnknownTarget;
    const BoardDescription* pBoard = system.board(nBoardId);
    if (pBoard == nullptr) return ResultInvalidBoard;
    xmlNodePtr pNode = pBoard->pNode;
    for (size_t nPos = 0; pNode != nullptr && nPos < sPath.size();) {
        size_t nNext = sPath.find('/', nPos);
        if (nNext == std::string::npos) nNext = sPath.size();
        pNode = firstChildElement(pNode, sPath.substr(nPos, nNext - nPos).c_str());
        nPos = nNext + 1;
    }
    *ppNode = pNode;
    return pNode != nullptr ? ResultOk : ResultUnknownTarget;
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
    xmlNodePtr pBase = nullptr;
    int32_t nBaseResult = resolveBase(system, sBase, &pBase);
    if (nBaseResult != ResultOk) return nBaseResult;

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
