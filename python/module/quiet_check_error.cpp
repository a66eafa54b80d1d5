// The library's queries report a failed driver call through CheckError, and the inventory its notes
// through sayInventoryNote; both print in a program. In the Python module nothing prints: the text
// is kept instead, so an exception can carry it.
#include "board_inventory.h"
#include "kivo_api.h"
#include "messages.h"
#include "session_error.h"

extern "C" int32_t CheckError(int32_t nResult) {
    if (nResult == 0) return 0;
    qpy::checkErrorMessages().say(qacq::driverText(nResult), nResult);
    return nResult > 0 ? 1 : 0;
}

void info::sayInventoryNote(const std::string& sText) { qpy::checkErrorMessages().say(sText, 0); }
