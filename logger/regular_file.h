// A file read whole as a file anyone may have put there: only a regular file (a FIFO is never
// waited on, /dev/zero never read for ever), at most a bound of bytes, however it grows meanwhile.
#pragma once

#include <stddef.h>

#include <string>

namespace qlog {

enum class FileRead { Done, CannotOpen, NotRegular, TooLarge, ReadFailed };

// *pText holds the file on Done; *pnErrno the reason on CannotOpen and ReadFailed.
FileRead readRegularFile(const std::string& sPath, size_t nMaxBytes, std::string* pText, int* pnErrno);

}  // namespace qlog
