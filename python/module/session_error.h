// What goes wrong in a session, as the Python module raises it: the kind picks the exception
// class (queno.Error and its subclasses), the text is the message queno_log would have printed,
// the code the driver's result where one failed.
#pragma once

#include <stdint.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace qpy {

enum class ErrorKind { Error, DriverNotFound, BoardNotFound, SettingRefused, BufferOverflow };

struct SessionError : std::runtime_error {
    SessionError(ErrorKind kind_, const std::string& sText, int32_t nCode_ = 0)
        : std::runtime_error(sText), kind(kind_), nCode(nCode_) {}
    ErrorKind kind;
    int32_t nCode;
    // BufferOverflow: the gap the scan met (next scan, scans lost, why).
    uint64_t nGapNext = 0;
    uint64_t nGapLost = 0;
    std::string sGapReason;
};

// The messages the board setup and the acquisition said (they never reach the terminal here).
struct Said {
    std::string sText;
    int32_t nCode = 0;
};

// Takes every message of this process from now on; returns how many were said so far.
size_t messageMark();
// The messages said since a mark, oldest first (at most the last 100).
std::vector<Said> messagesSince(size_t nMark);
// The last message since the mark as an error of this kind; sFallback when none was said.
SessionError errorSince(size_t nMark, ErrorKind kind, const std::string& sFallback);

}  // namespace qpy
