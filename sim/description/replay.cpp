#include "replay.h"

#include <errno.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>

#include "regular_file.h"

namespace qsim {

namespace {

// The nIndex-th comma-separated field of a line, or false.
bool field(const char* pLine, const char* pEnd, size_t nIndex, const char** ppBegin, const char** ppFieldEnd) {
    const char* p = pLine;
    for (size_t i = 0; i < nIndex; ++i) {
        p = static_cast<const char*>(memchr(p, ',', static_cast<size_t>(pEnd - p)));
        if (p == nullptr) return false;
        ++p;
    }
    const char* pComma = static_cast<const char*>(memchr(p, ',', static_cast<size_t>(pEnd - p)));
    *ppBegin = p;
    *ppFieldEnd = pComma != nullptr ? pComma : pEnd;
    return true;
}

}  // namespace

bool loadReplay(const std::string& sPath, const std::string& sColumn, ReplayData* pData, std::string* pError) {
    std::string sText;
    if (!readRegularFile(sPath.c_str(), ReplayLimits::kMaxFileBytes, &sText, pError)) return false;
    *pData = ReplayData();
    size_t nScanField = 0, nValueField = 0;
    bool bColumns = false;
    size_t nLineNo = 0;
    auto fail = [&](const std::string& sWhy) {
        *pError = "line " + std::to_string(nLineNo) + ": " + sWhy;
        return false;
    };
    for (size_t nStart = 0; nStart < sText.size();) {
        size_t nNewline = sText.find('\n', nStart);
        if (nNewline == std::string::npos) nNewline = sText.size();
        const char* pLine = sText.data() + nStart;
        const char* pEnd = sText.data() + nNewline;
        nStart = nNewline + 1;
        ++nLineNo;
        if (pEnd > pLine && pEnd[-1] == '\r') --pEnd;
        if (pLine == pEnd) continue;
        std::string sLine(pLine, pEnd);
        if (*pLine == '#') {
            if (sLine.compare(0, 7, "# rate ") == 0 && pData->dRate == 0) {
                double dRate = strtod(sLine.c_str() + 7, nullptr);
                if (!(dRate > 0) || !isfinite(dRate) || dRate > 1e8) return fail("the rate is not a number of scans per second");
                pData->dRate = dRate;
            }
            continue;
        }
        if (!bColumns) {
            // The column names: the scan column, and the one asked for.
            bColumns = true;
            size_t nIndex = 0;
            bool bScan = false, bValue = false;
            for (size_t nFrom = 0; nFrom <= sLine.size(); ++nIndex) {
                size_t nComma = sLine.find(',', nFrom);
                if (nComma == std::string::npos) nComma = sLine.size();
                std::string sName = sLine.substr(nFrom, nComma - nFrom);
                nFrom = nComma + 1;
                if (sName == "scan") {
                    nScanField = nIndex;
                    bScan = true;
                } else if (!bValue && (sName == sColumn || sName.compare(0, sColumn.size() + 1, sColumn + " ") == 0)) {
                    nValueField = nIndex;
                    bValue = true;
                }
            }
            if (!bScan) return fail("no scan column: not a file written by queno_log");
            if (!bValue) return fail("no column " + sColumn);
            if (pData->dRate == 0) return fail("no \"# rate\" line before the column names");
            continue;
        }
        if (pData->scans.size() >= ReplayLimits::kMaxRows) {
            return fail("more than " + std::to_string(ReplayLimits::kMaxRows) + " rows");
        }
        const char *pScan, *pScanEnd, *pValue, *pValueEnd;
        if (!field(pLine, pEnd, nScanField, &pScan, &pScanEnd) || !field(pLine, pEnd, nValueField, &pValue, &pValueEnd)) {
            return fail("fewer fields than the column names");
        }
        std::string sScan(pScan, pScanEnd), sValue(pValue, pValueEnd);
        char* pStop = nullptr;
        errno = 0;
        unsigned long long nScan = strtoull(sScan.c_str(), &pStop, 10);
        if (sScan.empty() || sScan[0] == '-' || *pStop != '\0' || errno != 0) return fail("scan \"" + sScan + "\" is not a scan number");
        if (!pData->scans.empty() && nScan <= pData->scans.back()) return fail("scan " + sScan + " does not follow the scan before");
        // An empty value was a sample at its range's limit (an open sensor): it plays back as one.
        double dValue = sValue.empty() ? NAN : strtod(sValue.c_str(), &pStop);
        if (!sValue.empty() && (*pStop != '\0' || !isfinite(dValue))) return fail("value \"" + sValue + "\" is not a finite number");
        pData->scans.push_back(nScan);
        pData->values.push_back(dValue);
    }
    if (!bColumns) {
        *pError = "no column names: not a file written by queno_log";
        return false;
    }
    if (pData->scans.empty()) {
        *pError = "no rows";
        return false;
    }
    return true;
}

}  // namespace qsim
