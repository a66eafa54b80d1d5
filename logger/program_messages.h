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

// How much a message matters, as syslog ranks it.
enum class Priority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// Under a service manager: each message as "<N>text", which the journal files at priority N
// (sd-daemon(3)); the journal names the program itself.
void setServiceMessages(bool bService);

// "<program>: <text>" on standard error. A message that ends the run ("... - stopping") is an
// error whatever it is said as.
void say(const std::string& sText, Priority priority = Priority::Warning);

// The acquisition core's messages, said the same way.
class ProgramMessages : public qacq::MessageSink {
public:
    void say(const std::string& sText, int32_t) override { qlog::say(sText); }
};

}  // namespace qlog
