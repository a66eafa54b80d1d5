// The one way queno_log and queno_convert say something on standard error: "<program>: <text>",
// with a status line cleared first. The program's name is set once in its main; sinks, files, the
// broker and the view say everything through here, so no tool speaks in another's name.
#pragma once

#include <stdint.h>

#include <string>

#include "messages.h"

namespace qlog {

void setProgramName(const char* sName);
const char* programName();

// "<program>: <text>" on standard error.
void say(const std::string& sText);

// The acquisition core's messages, said the same way.
class ProgramMessages : public qacq::MessageSink {
public:
    void say(const std::string& sText, int32_t) override { qlog::say(sText); }
};

}  // namespace qlog
