// Reading a whole file that a user names (a description, a replay): only a regular file of at most
// nMaxBytes, opened without ever blocking on a FIFO or a device.
#pragma once

#include <stddef.h>

#include <string>

namespace qsim {

// False with the reason ("not a regular file", "larger than N bytes", the system's words).
bool readRegularFile(const char* sPath, size_t nMaxBytes, std::string* pText, std::string* pError);

}  // namespace qsim
