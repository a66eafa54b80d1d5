// The call trace: one line per entry-point call with its arguments, its result and what it wrote.
//
//   KiVoSetParam_i32(0, 1, 0) = 0
//   KiVoGetParam_i32(0, 42) = 0 -> 4
//   KiVoGetParamStruct_str("BoardID0", "BoardName", 256) = 0 -> "QUENO-1600-UNIV"
#pragma once

#include <stdint.h>

#include <string>

namespace qsim {

class CallTrace {
public:
    ~CallTrace();
    // Appends to the file; an empty or null path leaves the trace off. False, with the reason, when
    // it cannot be opened or is neither a regular file nor a character device.
    bool open(const char* sPath, std::string* pError);
    bool enabled() const { return nFd_ >= 0; }
    void writeLine(const std::string& sLine);

private:
    int nFd_ = -1;
};

// A text argument as it appears in the trace: quoted, with control bytes and quotes escaped,
// null as null, cut after nMax bytes.
std::string traceText(const char* sText, size_t nMax = 512);

}  // namespace qsim
