// Where the CSV goes: a file (one, or a new one at each rotation) or standard output. Every write
// is whole lines, so a file cut short by a power cut or kill -9 ends with a complete line.
#pragma once

#include <stdint.h>

#include <mutex>
#include <string>

namespace qlog {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Files come in pairs: beside each file a companion of the same name with this extension
    // (".sigmf-meta" beside ".sigmf-data"), written complete by its sink. A name is free only when
    // both are. Before open().
    void pairWith(const std::string& sCompanionExtension) { sCompanionExt_ = sCompanionExtension; }
    std::string companionName() const { return companionOf(sName_); }
    // The companion's name beside a file of this name ("" without companions).
    std::string companionOf(const std::string& sName) const;
    std::string nextCompanionName() const { return companionOf(nextName()); }

    // Opens the first output: "-" standard output, "none" nothing; otherwise the path, or with rotation the path
    // with "-0001" before its extension. An existing regular file is never overwritten. False,
    // with the reason in *pError, when it cannot be created.
    bool open(const std::string& sPath, bool bRotating, std::string* pError);
    // Makes the next file of the rotation (the next number whose name is free), so that the current
    // one can name it; nextName() names it from then on.
    bool prepareNext(std::string* pError);
    // Closes the current file (synced) and goes on in the next one, made now if it was not yet.
    bool rotate(std::string* pError);
    // Removes the file again when nothing was ever written to it: the run did not start.
    void abandon();

    // Writes all of it; false (with errno kept in error()) when the output refused.
    bool write(const char* pData, size_t nSize);
    // Data to the disk (a no-op for pipes and terminals).
    void sync();
    void close();

    const std::string& name() const { return sName_; }
    // The current file's name, for other threads than the writer's.
    std::string currentName() const;
    // A series that goes on where an earlier run of it ended (a service restarted): its first file
    // is numbered after the highest number of the series there. Before open().
    void continueSeries() { bContinueSeries_ = true; }
    // Whether sPath is a name of this rotation's series, and its number.
    bool seriesNumberOf(const std::string& sPath, int* pnNumber) const;
    bool rotating() const { return bRotating_; }
    std::string nextName() const;
    uint64_t bytes() const { return nBytes_; }
    int fileNumber() const { return nNumber_; }
    // A regular file of this run's own (not standard output, a device or a FIFO).
    bool created() const { return bCreated_; }
    int error() const { return nError_; }

private:
    bool openNamed(const std::string& sName, bool bNamedByUser, std::string* pError);
    int highestSeriesNumber(const std::string& sPath);
    std::string numberedName(int nNumber) const;
    bool nameTaken(const std::string& sName) const;
    int nextFreeNumber() const;

    void setName(const std::string& sName);

    std::string sPath_;
    std::string sName_;
    mutable std::mutex nameMutex_;
    std::string sSharedName_;
    bool bContinueSeries_ = false;
    std::string sCompanionExt_;
    bool bRotating_ = false;
    bool bStdout_ = false;
    bool bNone_ = false;     // -o none: no file at all
    bool bCreated_ = false;  // a regular file this run created
    int nFd_ = -1;
    int nNumber_ = 1;
    int nNextFd_ = -1;       // the next file of the rotation, once made
    int nNextNumber_ = 0;
    uint64_t nBytes_ = 0;
    int nError_ = 0;
};

// queno-<board>-<UTC time>.csv (or another extension), the name when none is given.
std::string defaultOutputName(const std::string& sBoard, int64_t nMicros, const char* sExtension = ".csv");

// Text written to a temporary name of its own, synced and renamed into place: a reader finds the
// old text or the new, never a part of either. With bFirst the final name must still be free.
bool replaceFile(const std::string& sPath, const std::string& sText, bool bFirst, std::string* pError);

}  // namespace qlog
