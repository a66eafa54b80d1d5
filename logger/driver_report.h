// How queno_log says that a driver call failed: on standard error, the status line cleared first,
// "queno_log: <the step>: <the driver's text>" (a warning in the same words). The caller gets the
// result back and decides what it means for the run.
//
// Every message of the board setup and the acquisition goes through sayLine, so that a program
// that must not print (the Python module, which raises them as exceptions) can take them instead.
#pragma once

#include <stdint.h>

#include <string>

namespace qlog {

// The driver's text for a result, or the number where it has none.
std::string driverText(int32_t nResult);

// Says a non-zero result; returns it.
int32_t reportDriver(const std::string& sStep, int32_t nResult);

// Says one message; nResult is the driver's result it reports (0 when none).
void sayLine(const std::string& sText, int32_t nResult = 0);

// printf into a string.
std::string textf(const char* sFormat, ...) __attribute__((format(printf, 1, 2)));

// Where messages go instead of standard error; nullptr for standard error again. Set it before
// the threads that may say something start.
using LineHandler = void (*)(const std::string& sText, int32_t nResult);
void setLineHandler(LineHandler handler);

}  // namespace qlog
