#include "retention.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

#include "program_messages.h"

namespace qlog {

namespace {

constexpr int64_t kSpaceCheckMicros = 10000000;

std::string folderOf(const std::string& sPath) {
    const size_t nSlash = sPath.rfind('/');
    return nSlash == std::string::npos ? "." : (nSlash == 0 ? "/" : sPath.substr(0, nSlash));
}

// The first bytes of a regular file (never through a symlink, never a FIFO waited on).
std::string headOf(const std::string& sPath, size_t nBytes) {
    const int fd = open(sPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return "";
    struct stat info = {};
    std::string s(nBytes, '\0');
    ssize_t n = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? read(fd, &s[0], nBytes) : -1;
    close(fd);
    s.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return s;
}

}  // namespace

Retention::Retention(const RetentionOptions& bounds, const OutputFile& output) : bounds_(bounds), output_(output) {}

bool Retention::writtenByQuenoLog(const SeriesFile& file) const {
    if (file.sCompanion.empty()) return headOf(file.sPath, 12) == "# queno_log ";
    return headOf(file.sCompanion, 4096).find("\"core:recorder\":\"queno_log ") != std::string::npos;
}

std::vector<Retention::SeriesFile> Retention::seriesFiles() const {
    std::vector<SeriesFile> files;
    const std::string sCurrent = output_.name();
    const std::string sFolder = folderOf(sCurrent);
    const bool bInFolder = sCurrent.find('/') != std::string::npos;
    DIR* dir = opendir(sFolder.c_str());
    if (dir == nullptr) return files;
    while (const dirent* entry = readdir(dir)) {
        SeriesFile file;
        file.sPath = bInFolder ? sFolder + (sFolder == "/" ? "" : "/") + entry->d_name : entry->d_name;
        struct stat info = {};
        if (!output_.seriesNumberOf(file.sPath, &file.nNumber) || lstat(file.sPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        file.nBytes = static_cast<uint64_t>(info.st_size);
        file.nModified = info.st_mtime;
        file.sCompanion = output_.companionOf(file.sPath);
        struct stat companion = {};
        if (!file.sCompanion.empty()) {
            if (lstat(file.sCompanion.c_str(), &companion) != 0 || !S_ISREG(companion.st_mode)) {
                if (file.sPath != sCurrent) continue;  // the pair's metadata is not there: not ours to judge
            } else {
                file.nBytes += static_cast<uint64_t>(companion.st_size);
            }
        }
        if (file.sPath != sCurrent && !writtenByQuenoLog(file)) continue;
        files.push_back(file);
    }
    closedir(dir);
    std::sort(files.begin(), files.end(), [](const SeriesFile& a, const SeriesFile& b) { return a.nNumber < b.nNumber; });
    return files;
}

bool Retention::floorHolds() const {
    if (bounds_.nMinFreeBytes == 0 && bounds_.dMinFreePercent <= 0) return true;
    struct statvfs space = {};
    if (statvfs(folderOf(output_.name()).c_str(), &space) != 0) return true;
    const double dFree = static_cast<double>(space.f_bavail) * space.f_frsize;
    if (bounds_.nMinFreeBytes > 0 && dFree < static_cast<double>(bounds_.nMinFreeBytes)) return false;
    const double dTotal = static_cast<double>(space.f_blocks) * space.f_frsize;
    return !(bounds_.dMinFreePercent > 0 && dFree < dTotal * bounds_.dMinFreePercent / 100);
}

void Retention::remove(const SeriesFile& file) {
    const bool bGone = unlink(file.sPath.c_str()) == 0 || errno == ENOENT;
    if (bGone && !file.sCompanion.empty()) unlink(file.sCompanion.c_str());
    if (!bGone) say("retention: cannot remove " + file.sPath + ": " + strerror(errno));
}

void Retention::check(int64_t nMonotonicMicros) {
    if (!bounds_.any() || !output_.rotating()) return;
    const bool bNewFile = output_.fileNumber() != nLastNumber_ || nMonotonicMicros < 0;
    const bool bSpaceDue = nMonotonicMicros - nLastSpaceCheck_ >= kSpaceCheckMicros;
    if (!bNewFile && !bSpaceDue) return;
    nLastNumber_ = output_.fileNumber();
    nLastSpaceCheck_ = nMonotonicMicros;
    const bool bFloorHolds = floorHolds();
    if (!bNewFile && bFloorHolds) {
        bFloorPassed_.store(false);
        return;
    }
    std::vector<SeriesFile> files = seriesFiles();
    const std::string sCurrent = output_.name();
    uint64_t nTotal = 0;
    for (const SeriesFile& file : files) nTotal += file.nBytes;
    const int64_t nNow = time(nullptr);
    size_t nLeft = files.size();
    bool bFloor = bFloorHolds;
    for (const SeriesFile& file : files) {  // oldest first
        if (file.sPath == sCurrent || file.nNumber >= output_.fileNumber()) break;  // the one written, and a next one made
        const bool bTooMany = bounds_.nKeepFiles > 0 && nLeft > bounds_.nKeepFiles;
        const bool bTooOld = bounds_.dKeepForSeconds > 0 && static_cast<double>(nNow - file.nModified) > bounds_.dKeepForSeconds;
        const bool bTooLarge = bounds_.nMaxTotalBytes > 0 && nTotal > bounds_.nMaxTotalBytes;
        if (!bTooMany && !bTooOld && !bTooLarge && bFloor) continue;
        remove(file);
        nTotal -= file.nBytes;
        --nLeft;
        if (!bFloor) bFloor = floorHolds();
    }
    if (!bFloor && !bFloorPassed_.exchange(true)) {
        say("retention: less free space than --min-free on " + folderOf(sCurrent) +
            ", and no more files of this series may go: the recording goes on");
    }
    if (bFloor) bFloorPassed_.store(false);
}

}  // namespace qlog
