// Texts of the simulated driver's result codes.
#pragma once

#include <stdint.h>

namespace qsim {

// A text for every code, an unknown one included; never null, valid for the life of the process.
const char* resultText(int32_t nResult);

}  // namespace qsim
