#include "call_trace.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <stdio.h>
#include <unistd.h>

namespace qsim {

CallTrace::~CallTrace() {
    if (nFd_ >= 0) close(nFd_);
}

// Opened without blocking, and only a regular file or a character device (/dev/null, a terminal):
// a FIFO without a reader would hold the driver's initialisation in open() for as long as nobody
// reads, and one with a reader would let that reader hold every call.
bool CallTrace::open(const char* sPath, std::string* pError) {
    if (sPath == nullptr || sPath[0] == '\0') return true;
    int fd = ::open(sPath, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0) {
        *pError = strerror(errno);
        return false;
    }
    struct stat info = {};
    if (fstat(fd, &info) != 0 || !(S_ISREG(info.st_mode) || S_ISCHR(info.st_mode))) {
        *pError = "not a regular file or a character device";
        ::close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    nFd_ = fd;
    return true;
}

void CallTrace::writeLine(const std::string& sLine) {
    if (nFd_ < 0) return;
    // One write per line, so lines of several processes appending to one file stay whole.
    std::string sOut = sLine + "\n";
    const char* p = sOut.data();
    size_t nLeft = sOut.size();
    while (nLeft > 0) {
        ssize_t n = write(nFd_, p, nLeft);
        if (n <= 0) return;
        p += n;
        nLeft -= static_cast<size_t>(n);
    }
}

std::string traceText(const char* sText, size_t nMax) {
    if (sText == nullptr) return "null";
    std::string sOut = "\"";
    size_t i = 0;
    for (; sText[i] != '\0' && i < nMax; ++i) {
        unsigned char c = static_cast<unsigned char>(sText[i]);
        switch (c) {
            case '"': sOut += "\\\""; break;
            case '\\': sOut += "\\\\"; break;
            case '\n': sOut += "\\n"; break;
            case '\r': sOut += "\\r"; break;
            case '\t': sOut += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7f) {
                    char sHex[8];
                    snprintf(sHex, sizeof(sHex), "\\x%02x", c);
                    sOut += sHex;
                } else {
                    sOut += static_cast<char>(c);
                }
        }
    }
    sOut += "\"";
    if (sText[i] != '\0') sOut += "...";
    return sOut;
}

}  // namespace qsim
