#include "regular_file.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qsim {

bool readRegularFile(const char* sPath, size_t nMaxBytes, std::string* pText, std::string* pError) {
    int fd = open(sPath, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *pError = strerror(errno);
        return false;
    }
    struct stat info = {};
    bool bOk = false;
    if (fstat(fd, &info) != 0) {
        *pError = strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        *pError = "not a regular file";
    } else if (static_cast<uint64_t>(info.st_size) > nMaxBytes) {
        *pError = "larger than " + std::to_string(nMaxBytes) + " bytes";
    } else {
        pText->resize(static_cast<size_t>(info.st_size));
        size_t nRead = 0;
        while (nRead < pText->size()) {
            ssize_t n = read(fd, &(*pText)[nRead], pText->size() - nRead);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            nRead += static_cast<size_t>(n);
        }
        pText->resize(nRead);  // a file that shrank while being read is taken as it was read
        bOk = true;
    }
    close(fd);
    return bOk;
}

}  // namespace qsim
