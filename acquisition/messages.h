// What the board setup and the acquisition have to say goes to a sink their caller gives: a program
// prints it in its own name ("queno_log: BoardID0: opening the board: <the driver's text>"), the
// Python module keeps it for the exception it raises. Nothing here prints, and nothing is global:
// each board (or session) has its own sink.
#pragma once

#include <stdint.h>

#include <string>

namespace qacq {

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // One message; nResult is the driver's result it reports (0 when none). May be called from the
    // thread that polls the board as well as from the one that set it up.
    virtual void say(const std::string& sText, int32_t nResult) = 0;
};

// The driver's text for a result, or the number where it has none.
std::string driverText(int32_t nResult);

// Says a non-zero result as "<the step>: <the driver's text>"; returns it.
int32_t reportDriver(MessageSink& messages, const std::string& sStep, int32_t nResult);

// printf into a string.
std::string textf(const char* sFormat, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qacq
