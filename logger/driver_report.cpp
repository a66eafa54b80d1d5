#include "driver_report.h"

#include <stdio.h>

#include "kivo_api.h"
#include "status_line.h"

namespace qlog {

std::string driverText(int32_t nResult) {
    const char* sText = KiVoErrorConstantToString(nResult);
    return sText != nullptr && sText[0] != '\0' ? sText : "driver result " + std::to_string(nResult);
}

int32_t reportDriver(const std::string& sStep, int32_t nResult) {
    if (nResult == 0) return 0;
    clearStatusLine();
    fprintf(stderr, "queno_log: %s: %s\n", sStep.c_str(), driverText(nResult).c_str());
    return nResult;
}

}  // namespace qlog
