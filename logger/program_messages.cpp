#include "program_messages.h"

#include <stdio.h>
#include <string.h>

#include <atomic>

#include "status_line.h"

namespace qlog {

namespace {
std::atomic<const char*> gsProgram{"queno_log"};
std::atomic<bool> gbService{false};

bool endsWith(const std::string& s, const char* sEnd) {
    const size_t n = strlen(sEnd);
    return s.size() >= n && s.compare(s.size() - n, n, sEnd) == 0;
}
}  // namespace

void setServiceMessages(bool bService) { gbService.store(bService); }

void setProgramName(const char* sName) { gsProgram.store(sName); }
const char* programName() { return gsProgram.load(); }

void say(const std::string& sText, Priority priority) {
    if (gbService.load()) {
        if (endsWith(sText, " - stopping")) priority = Priority::Error;
        fprintf(stderr, "<%d>%s\n", static_cast<int>(priority), sText.c_str());
        return;
    }
    clearStatusLine();
    fprintf(stderr, "%s: %s\n", programName(), sText.c_str());
}

}  // namespace qlog
