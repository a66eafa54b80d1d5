// Turns a driver result into a message on standard error.
#include <stdio.h>

#include "kivo_api.h"

extern "C" int32_t CheckError(int32_t nResult) {
    if (nResult == 0) return 0;
    // Without a bound driver, or when the driver has no text, the code itself is the message.
    const char* sText = KiVoErrorConstantToString != nullptr ? KiVoErrorConstantToString(nResult) : nullptr;
    if (sText != nullptr) {
        fprintf(stderr, "\nError: %s\n", sText);
    } else {
        fprintf(stderr, "\nError: driver result %d (no text available)\n", static_cast<int>(nResult));
    }
    fflush(stderr);
    return nResult > 0 ? 1 : 0;
}
