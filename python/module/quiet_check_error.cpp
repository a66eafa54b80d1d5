// The library's queries report a failed driver call through CheckError, which prints. In the
// Python module nothing prints: the text is kept instead, so an exception can carry it.
#include "kivo_api.h"
#include "messages.h"
#include "session_error.h"

extern "C" int32_t CheckError(int32_t nResult) {
    if (nResult == 0) return 0;
    qpy::checkErrorMessages().say(qacq::driverText(nResult), nResult);
    return nResult > 0 ? 1 : 0;
}
