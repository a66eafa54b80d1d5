// Retention: which files of a folder are the series' own, and which of them go.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "output_file.h"
#include "retention.h"

namespace {

using qlog::OutputFile;
using qlog::Retention;
using qlog::RetentionOptions;

struct Folder {
    std::string sPath;
    Folder() {
        char sTemplate[] = "/tmp/queno-retention-XXXXXX";
        sPath = mkdtemp(sTemplate);
    }
    ~Folder() { (void)!system(("rm -rf " + sPath).c_str()); }
    std::string file(const std::string& sName, const std::string& sText) const {
        std::ofstream(sPath + "/" + sName) << sText;
        return sPath + "/" + sName;
    }
    bool has(const std::string& sName) const {
        struct stat info = {};
        return lstat((sPath + "/" + sName).c_str(), &info) == 0;
    }
};

const char kOurs[] = "# queno_log 1.2.0\n# board 0\n";

TEST(Retention, OnlyTheSeriesOwnFilesGoOldestFirstNeverTheCurrentOne) {
    Folder folder;
    struct Case {
        const char* sName;
        const char* sText;  // nullptr: made otherwise (below)
        bool bSeries;
    };
    const Case kCases[] = {
        {"run-0001.csv", kOurs, true},
        {"run-0002.csv", "someone's notes\n", false},  // a name of the series, not queno_log's
        {"run-0003.csv", kOurs, true},
        {"run-0004.csv.bak", kOurs, false},
        {"xrun-0005.csv", kOurs, false},
        {"run-12.csv", kOurs, false},
        {"run-0006", kOurs, false},
        {"run-0007x.csv", kOurs, false},
        {"run-0008.csv", nullptr, false},  // a folder
        {"run-0009.csv", nullptr, false},  // a symlink to one of ours
        {"run-0010.csv", kOurs, true},
    };
    for (const Case& c : kCases) {
        if (c.sText != nullptr) folder.file(c.sName, c.sText);
    }
    mkdir((folder.sPath + "/run-0008.csv").c_str(), 0755);
    ASSERT_EQ(symlink((folder.sPath + "/run-0001.csv").c_str(), (folder.sPath + "/run-0009.csv").c_str()), 0);

    OutputFile output;
    output.continueSeries();
    std::string sError;
    ASSERT_TRUE(output.open(folder.sPath + "/run.csv", true, &sError)) << sError;
    EXPECT_EQ(output.name(), folder.sPath + "/run-0011.csv");  // after the highest number of the series
    ASSERT_TRUE(output.write(kOurs, sizeof(kOurs) - 1));

    RetentionOptions bounds;
    Retention retention(bounds, output);
    std::vector<std::string> series;
    for (const Retention::SeriesFile& file : retention.seriesFiles()) series.push_back(file.sPath.substr(folder.sPath.size() + 1));
    EXPECT_EQ(series, (std::vector<std::string>{"run-0001.csv", "run-0003.csv", "run-0010.csv", "run-0011.csv"}));

    bounds.nKeepFiles = 2;  // the newest two: the current one and run-0010
    retention.check(1);
    for (const Case& c : kCases) {
        const bool bGone = c.bSeries && std::string(c.sName) != "run-0010.csv";
        EXPECT_EQ(folder.has(c.sName), !bGone) << c.sName;
    }
    EXPECT_TRUE(folder.has("run-0011.csv"));
    output.close();
}

}  // namespace
