// What goes wrong in a session, as the Python module raises it: the kind picks the exception
// class (queno.Error and its subclasses), the text is the message queno_log would have printed,
// the code the driver's result where one failed.
#pragma once

#include <stdint.h>

#include <deque>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "board_config.h"
#include "messages.h"

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

// The messages a board's setup and acquisition said (they never reach the terminal here), kept for
// the exception that follows. One per board; the library's CheckError has one of its own.
struct Said {
    std::string sText;
    int32_t nCode = 0;
};

class KeptMessages : public qacq::MessageSink {
public:
    void say(const std::string& sText, int32_t nResult) override;
    // How many were said so far.
    size_t mark() const;
    // The messages said since a mark, oldest first (at most the last 100).
    std::vector<Said> since(size_t nMark) const;
    // The last message since the mark as an error of this kind (with the last driver code said);
    // sFallback when none was said.
    SessionError errorSince(size_t nMark, ErrorKind kind, const std::string& sFallback) const;

private:
    mutable std::mutex mutex_;
    std::deque<Said> said_;
    size_t nSaid_ = 0;  // said in all, kept or not
};

// What the library's queries said through CheckError (the board list).
KeptMessages& checkErrorMessages();

// The exception class of a setup's outcome.
ErrorKind errorKindOf(const qacq::SetupOutcome& outcome);
SessionError setupError(const qacq::SetupOutcome& outcome, const std::string& sFallback);

}  // namespace qpy
