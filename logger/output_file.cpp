#include "output_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "program_messages.h"
#include "stop_signals.h"

namespace qlog {

namespace {

// A new file's name must reach the disk too, or a power cut can lose the whole file.
void syncDirectoryOf(const std::string& sName) {
    std::string sCopy = sName;
    int nDir = ::open(dirname(&sCopy[0]), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (nDir < 0) return;
    fsync(nDir);
    ::close(nDir);
}

// A FIFO opens for writing only once a reader has it open: waited for without blocking, so that a
// stop signal ends the wait (-1 with EINTR then).
int openFifo(const std::string& sName) {
    for (;;) {
        const int fd = ::open(sName.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);  // written whole, as any output
            return fd;
        }
        if (errno != ENXIO) return -1;
        if (StopSignalReceived() != 0) {
            errno = EINTR;
            return -1;
        }
        SleepUntilStopSignal(100);
    }
}

}  // namespace

std::string defaultOutputName(const std::string& sBoard, int64_t nMicros, const char* sExtension) {
    time_t t = static_cast<time_t>(nMicros / 1000000);
    struct tm parts = {};
    gmtime_r(&t, &parts);
    char sTime[32];
    strftime(sTime, sizeof(sTime), "%Y%m%dT%H%M%SZ", &parts);
    return "queno-" + sBoard + "-" + sTime + sExtension;
}

OutputFile::~OutputFile() {
    close();
    if (nNextFd_ >= 0) ::close(nNextFd_);
}

std::string OutputFile::numberedName(int nNumber) const {
    char sNumber[16];
    snprintf(sNumber, sizeof(sNumber), "-%04d", nNumber);
    size_t nSlash = sPath_.rfind('/');
    size_t nDot = sPath_.rfind('.');
    if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash) || nDot == nSlash + 1 || nDot == 0) {
        return sPath_ + sNumber;
    }
    return sPath_.substr(0, nDot) + sNumber + sPath_.substr(nDot);
}

// The next number whose name is free: a stranger's file with a later name of the rotation is passed
// over (and said when the run gets there), never overwritten, and never ends the run.
int OutputFile::nextFreeNumber() const {
    int nNumber = nNumber_ + 1;
    while (nNumber < 9999999 && nameTaken(numberedName(nNumber))) ++nNumber;
    return nNumber;
}

// Anything of that name, or of its companion, is there: a file, a directory, a FIFO, a symlink
// (even a dangling one, or one to a device). A name of the rotation is the run's own only when
// nothing has it.
bool OutputFile::nameTaken(const std::string& sName) const {
    struct stat info = {};
    if (lstat(sName.c_str(), &info) == 0) return true;
    return !sCompanionExt_.empty() && lstat(companionOf(sName).c_str(), &info) == 0;
}

std::string OutputFile::companionOf(const std::string& sName) const {
    if (sCompanionExt_.empty()) return "";
    size_t nSlash = sName.rfind('/');
    size_t nDot = sName.rfind('.');
    if (nDot == std::string::npos || (nSlash != std::string::npos && nDot < nSlash)) return sName + sCompanionExt_;
    return sName.substr(0, nDot) + sCompanionExt_;
}

std::string OutputFile::nextName() const { return numberedName(nNextFd_ >= 0 ? nNextNumber_ : nextFreeNumber()); }

bool OutputFile::open(const std::string& sPath, bool bRotating, std::string* pError) {
    sPath_ = sPath;
    bRotating_ = bRotating;
    if (sPath == "none") {  // publishing only: what would be written goes nowhere
        bNone_ = true;
        setName("no file");
        return true;
    }
    if (sPath == "-") {
        bStdout_ = true;
        setName("standard output");
        nFd_ = STDOUT_FILENO;
        return true;
    }
    if (bRotating && bContinueSeries_) nNumber_ = highestSeriesNumber(sPath) + 1;
    return openNamed(bRotating ? numberedName(nNumber_) : sPath, !bRotating, pError);
}

void OutputFile::setName(const std::string& sName) {
    sName_ = sName;
    std::lock_guard<std::mutex> lock(nameMutex_);
    sSharedName_ = sName;
}

std::string OutputFile::currentName() const {
    std::lock_guard<std::mutex> lock(nameMutex_);
    return sSharedName_;
}

bool OutputFile::seriesNumberOf(const std::string& sPath, int* pnNumber) const {
    const std::string sZero = numberedName(0);  // "<stem>-0000<extension>"
    const size_t nAt = sZero.rfind("-0000");
    const std::string sStem = sZero.substr(0, nAt + 1), sExtension = sZero.substr(nAt + 5);
    if (sPath.size() < sStem.size() + 4 + sExtension.size() || sPath.compare(0, sStem.size(), sStem) != 0 ||
        sPath.compare(sPath.size() - sExtension.size(), sExtension.size(), sExtension) != 0) {
        return false;
    }
    const std::string sDigits = sPath.substr(sStem.size(), sPath.size() - sStem.size() - sExtension.size());
    if (sDigits.size() > 7 || sDigits.find_first_not_of("0123456789") != std::string::npos) return false;
    *pnNumber = atoi(sDigits.c_str());
    return *pnNumber > 0;
}

// The highest number of the series in its folder, 0 when there is none.
int OutputFile::highestSeriesNumber(const std::string& sPath) {
    sPath_ = sPath;
    const size_t nSlash = sPath.rfind('/');
    const std::string sFolder = nSlash == std::string::npos ? "." : (nSlash == 0 ? "/" : sPath.substr(0, nSlash));
    int nHighest = 0;
    DIR* dir = opendir(sFolder.c_str());
    if (dir == nullptr) return 0;
    while (const dirent* entry = readdir(dir)) {
        const std::string sName = nSlash == std::string::npos ? entry->d_name : sPath.substr(0, nSlash + 1) + entry->d_name;
        int nNumber = 0;
        if (seriesNumberOf(sName, &nNumber)) nHighest = std::max(nHighest, nNumber);
    }
    closedir(dir);
    return nHighest;
}

bool OutputFile::openNamed(const std::string& sName, bool bNamedByUser, std::string* pError) {
    setName(sName);
    nBytes_ = 0;
    bCreated_ = false;
    // A device or a pipe the user named (/dev/null, a FIFO) is written as it is; a regular file is
    // created new, so that no earlier recording is ever overwritten. A name of the rotation is
    // created new whatever is there: never through a stranger's symlink, FIFO or device.
    struct stat info = {};
    bool bExists = bNamedByUser ? stat(sName.c_str(), &info) == 0 : lstat(sName.c_str(), &info) == 0;
    if (bExists && (S_ISREG(info.st_mode) || !bNamedByUser)) {
        *pError = sName + " exists; a recording is never overwritten (remove it or choose another --output)";
        return false;
    }
    int nFlags = O_WRONLY | O_CLOEXEC | (bExists ? 0 : O_CREAT | O_EXCL | O_NOFOLLOW);
    nFd_ = bExists && S_ISFIFO(info.st_mode) ? openFifo(sName) : ::open(sName.c_str(), nFlags, 0644);
    if (nFd_ < 0) {
        *pError = "cannot create " + sName + ": " + strerror(errno);
        return false;
    }
    bCreated_ = !bExists;
    // The companion is written by its sink, complete, under its name; until then the data file
    // holds the pair's name (a name is free only when both are). One already there is never replaced.
    if (!sCompanionExt_.empty() && access(companionOf(sName).c_str(), F_OK) == 0) {
        *pError = companionOf(sName) + " exists; a recording is never overwritten (remove it or choose another --output)";
        ::close(nFd_);
        nFd_ = -1;
        if (bCreated_) unlink(sName.c_str());
        bCreated_ = false;
        return false;
    }
    if (bCreated_) syncDirectoryOf(sName);
    return true;
}

// The next file of the rotation is made before the current one names it: a "continued in" line
// names only a file that exists.
bool OutputFile::prepareNext(std::string* pError) {
    if (nNextFd_ >= 0) return true;
    const int nNext = nextFreeNumber();
    const std::string sNext = numberedName(nNext);
    const int fd = ::open(sNext.c_str(), O_WRONLY | O_CLOEXEC | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
    if (fd < 0) {
        *pError = "cannot create " + sNext + ": " + strerror(errno);
        return false;
    }
    if (nNext != nNumber_ + 1) say(numberedName(nNumber_ + 1) + " exists and is left alone; the recording goes on in " + sNext);
    nNextFd_ = fd;
    nNextNumber_ = nNext;
    return true;
}

bool OutputFile::rotate(std::string* pError) {
    if (!prepareNext(pError)) {
        close();
        return false;
    }
    close();
    nFd_ = nNextFd_;
    nNextFd_ = -1;
    nNumber_ = nNextNumber_;
    setName(numberedName(nNumber_));
    nBytes_ = 0;
    bCreated_ = true;
    syncDirectoryOf(sName_);
    return true;
}

void OutputFile::abandon() {
    if (bCreated_ && nBytes_ == 0) {
        unlink(sName_.c_str());  // a companion is written only once a recording began
    }
    bCreated_ = false;
    close();
}

bool OutputFile::write(const char* pData, size_t nSize) {
    if (bNone_) return true;
    const uint64_t nBefore = nBytes_;
    while (nSize > 0) {
        ssize_t nDone = ::write(nFd_, pData, nSize);
        if (nDone < 0) {
            if (errno == EINTR) continue;
            nError_ = errno;
            // What the disk took of these lines is cut off again: the file ends with a whole line.
            if (!bStdout_ && ftruncate(nFd_, static_cast<off_t>(nBefore)) == 0) nBytes_ = nBefore;
            return false;
        }
        pData += nDone;
        nSize -= static_cast<size_t>(nDone);
        nBytes_ += static_cast<uint64_t>(nDone);
    }
    return true;
}

void OutputFile::sync() {
    if (nFd_ >= 0 && !bStdout_ && !bNone_) fdatasync(nFd_);
}

void OutputFile::close() {
    if (nFd_ < 0) return;
    if (!bStdout_) {
        fsync(nFd_);
        ::close(nFd_);
    }
    nFd_ = -1;
}

// Written to a temporary name of its own (made new: a name someone planted, a symlink or a file, is
// never opened), synced, renamed into place, and the rename synced: a reader finds the old
// metadata or the new, never a part of either, and the final name appears only complete. The first
// time (bFirst) the final name must still be free: a file someone put there meanwhile is left
// alone and the recording stops.
bool replaceFile(const std::string& sPath, const std::string& sText, bool bFirst, std::string* pError) {
    std::string sCopy = sPath;
    const std::string sDirectory = dirname(&sCopy[0]);
    std::string sTemporary = sDirectory + "/.queno_log-meta-XXXXXX";
    int fd = mkostemp(&sTemporary[0], O_CLOEXEC);
    bool bOk = fd >= 0;
    if (bOk) fchmod(fd, 0644);
    for (size_t nDone = 0; bOk && nDone < sText.size();) {
        ssize_t n = ::write(fd, sText.data() + nDone, sText.size() - nDone);
        if (n < 0 && errno == EINTR) continue;
        bOk = n > 0;
        if (bOk) nDone += static_cast<size_t>(n);
    }
    bOk = bOk && fsync(fd) == 0;
    if (!bOk) *pError = "cannot write the metadata beside " + sPath + ": " + strerror(errno);
    if (fd >= 0) ::close(fd);
    if (bOk && renameat2(AT_FDCWD, sTemporary.c_str(), AT_FDCWD, sPath.c_str(), bFirst ? RENAME_NOREPLACE : 0) != 0) {
        *pError = errno == EEXIST ? sPath + " appeared meanwhile and is left alone" : "cannot rename the metadata to " + sPath + ": " + strerror(errno);
        bOk = false;
    }
    if (!bOk) {
        if (fd >= 0) unlink(sTemporary.c_str());
        return false;
    }
    int nDir = ::open(sDirectory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (nDir >= 0) {
        fsync(nDir);
        ::close(nDir);
    }
    return true;
}


}  // namespace qlog
