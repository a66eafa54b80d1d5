#include "program_messages.h"

#include <stdio.h>

#include <atomic>

#include "status_line.h"

namespace qlog {

namespace {
std::atomic<const char*> gsProgram{"queno_log"};
}  // namespace

void setProgramName(const char* sName) { gsProgram.store(sName); }
const char* programName() { return gsProgram.load(); }

void say(const std::string& sText) {
    clearStatusLine();
    fprintf(stderr, "%s: %s\n", programName(), sText.c_str());
}

}  // namespace qlog
