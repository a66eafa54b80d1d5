// The library's queries report a failed driver call through CheckError, which prints. In the
// Python module nothing prints: the text is kept with the session's other messages instead, so an
// exception can carry it.
#include "driver_report.h"
#include "kivo_api.h"

extern "C" int32_t CheckError(int32_t nResult) {
    if (nResult == 0) return 0;
    qlog::sayLine(KiVoErrorConstantToString != nullptr ? qlog::driverText(nResult) : "driver result " + std::to_string(nResult),
                  nResult);
    return nResult > 0 ? 1 : 0;
}
