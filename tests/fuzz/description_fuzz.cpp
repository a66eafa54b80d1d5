// Any bytes as a system description: refused with a message or loaded, within the limits.
#include <stddef.h>
#include <stdint.h>

#include <string>

#include "system_description.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    std::string sError;
    auto system = qsim::SystemDescription::parse(reinterpret_cast<const char*>(pData), nSize, "fuzz", &sError);
    if (system == nullptr && sError.empty()) __builtin_trap();  // a refusal always says why
    return 0;
}
