// The names of the driver's entry points, for descriptions and fault rules that name calls.
#pragma once

#include <string>

namespace qsim {

bool isEntryPointName(const std::string& sName);

}  // namespace qsim
