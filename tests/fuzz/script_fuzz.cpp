// Any text as QUENO_SIM_SCRIPT: refused with a message or read as steps within the limits.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "acquisition.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    std::string sScript(reinterpret_cast<const char*>(pData), nSize);
    qsim::AcquisitionScript script;
    std::string sError;
    if (!qsim::AcquisitionScript::parse(sScript.c_str(), &script, &sError)) {
        if (sError.empty()) __builtin_trap();
        return 0;
    }
    for (int64_t nStep : script.steps) {
        if (nStep != qsim::AcquisitionScript::kOverflow && (nStep < 0 || nStep > (1 << 24))) __builtin_trap();
    }
    return 0;
}
