// Retention: months of a rotated recording must not fill the disk. After each new file of the
// series, and whenever the free space drops below its floor, the oldest files of this series go
// until --keep-files, --keep-for, --max-total and --min-free hold. Only files of this series go:
// names of its rotation that queno_log itself wrote (a CSV that begins as queno_log begins its
// files, a SigMF pair whose metadata names queno_log as its recorder), never the file being
// written and never anything else in the folder. When nothing more may go and the floor is still
// passed, the recording goes on and says so once.
#pragma once

#include <stdint.h>

#include <atomic>
#include <string>
#include <vector>

#include "log_options.h"
#include "output_file.h"

namespace qlog {

class Retention {
public:
    // The bounds are read at each check: a reload may change them (on the same thread).
    Retention(const RetentionOptions& bounds, const OutputFile& output);

    // On the writer's thread, between blocks: after a new file of the series at once, the free
    // space every ten seconds; with -1 at the end, once more for the last file.
    void check(int64_t nMonotonicMicros);
    // The floor of free space is passed and nothing more may go.
    bool floorPassed() const { return bFloorPassed_.load(); }

    struct SeriesFile {
        std::string sPath;
        std::string sCompanion;  // the SigMF metadata beside its data, or ""
        int nNumber = 0;
        uint64_t nBytes = 0;
        int64_t nModified = 0;   // seconds since 1970
    };
    // The files of the series there are now, oldest first; the one being written among them.
    std::vector<SeriesFile> seriesFiles() const;

private:
    bool writtenByQuenoLog(const SeriesFile& file) const;
    bool floorHolds() const;
    void remove(const SeriesFile& file);

    const RetentionOptions& bounds_;
    const OutputFile& output_;
    int nLastNumber_ = 0;
    int64_t nLastSpaceCheck_ = 0;
    std::atomic<bool> bFloorPassed_{false};
};

}  // namespace qlog
