#include "regular_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace qlog {

FileRead readRegularFile(const std::string& sPath, size_t nMaxBytes, std::string* pText, int* pnErrno) {
    const int fd = open(sPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat info = {};
    if (fd < 0 || fstat(fd, &info) != 0) {
        *pnErrno = errno;
        if (fd >= 0) close(fd);
        return FileRead::CannotOpen;
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        return FileRead::NotRegular;
    }
    std::string& s = *pText;
    s.resize(std::min<size_t>(static_cast<size_t>(info.st_size), nMaxBytes) + 1);
    size_t nHave = 0;
    for (;;) {
        const ssize_t n = read(fd, &s[nHave], s.size() - nHave);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *pnErrno = errno;
            close(fd);
            return FileRead::ReadFailed;
        }
        if (n == 0) break;
        nHave += static_cast<size_t>(n);
        if (nHave > nMaxBytes) break;
        if (nHave == s.size()) s.resize(std::min(s.size() * 2, nMaxBytes + 1));
    }
    close(fd);
    if (nHave > nMaxBytes) return FileRead::TooLarge;
    s.resize(nHave);
    return FileRead::Done;
}

}  // namespace qlog
