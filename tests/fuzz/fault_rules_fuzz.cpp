// Any text as QUENO_SIM_FAULTS: refused with a message or obeyed.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "fault_injection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    std::string sRules(reinterpret_cast<const char*>(pData), nSize);
    qsim::FaultSet faults;
    std::string sError;
    if (!faults.parse(sRules.c_str(), &sError)) {
        if (sError.empty()) __builtin_trap();
        return 0;
    }
    // Exercise what the rules do to calls, counts and values.
    int32_t nResult = 0, nBoards = 0;
    int64_t nValue = 1;
    std::string sText;
    for (int nCall = 0; nCall < 3; ++nCall) {
        faults.injectedResult("KiVoSetParam_i32", true, nCall, "BoardID0/AI0", "Range", &nResult);
        faults.adjustValue(38, &nValue);
        faults.replacementText("BoardID0/AI0", "Range", &sText);
    }
    faults.boardCount(&nBoards);
    return 0;
}
