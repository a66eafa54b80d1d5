// SigMF recordings: queno_log writes one, queno_convert turns it into the CSV queno_log writes for
// the same scans (compared line by line, times aside), a kill leaves a pair that converts up to
// its last whole scan, and what is no such recording is refused.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "process_runner.h"

namespace {

RunOptions tool(const char* sPath, std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    RunOptions options;
    options.sExecutable = sPath;
    options.args = std::move(args);
    options.env = std::move(env);
    return options;
}

// The lines of a CSV as both ways of writing it agree on them: times masked, the first header line
// and the pages' fill left out, names of other files cut to their scan.
std::vector<std::string> comparable(const std::vector<std::string>& lines) {
    static const std::regex kTime("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9:]{8}\\.[0-9]{6}Z");
    std::vector<std::string> out;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].find_first_not_of("# ") == std::string::npos) continue;
        if (lines[i].rfind("# continued in ", 0) == 0) {
            out.push_back("# continued");
            continue;
        }
        out.push_back(std::regex_replace(lines[i], kTime, "T"));
    }
    return out;
}

// One universal board whose AI0 ramps and is open from 200 ms to 300 ms.
const char kScenario[] =
    "<QuenoSimSystem><Board model='QUENO-1600-UNIV' serial='S'><Acquisition bufferScans='8192'/>"
    "<Signals><Signal channels='AI0' kind='ramp' from='-5' to='5' duration='1s'/></Signals>"
    "<Events><Event at='200ms' channels='AI0' kind='open' duration='100ms'/></Events>"
    "<ChannelGroup kind='AI' count='2'><Mode Mode='Voltage'><Range><ID0>-10.000000..10.000000 V</ID0></Range></Mode>"
    "</ChannelGroup></Board></QuenoSimSystem>";

struct ConvertCase {
    const char* sName;
    bool bScenario;              // the scenario above, or numbered scripted scans
    std::vector<std::string> args;
    int nFiles;                  // 0: no rotation
    int nExitStatus;
};

const ConvertCase kConvertCases[] = {
    {"CountsWithALimit", true, {"AI0:voltage", "AI1:voltage", "-n", "500"}, 0, 0},
    {"MeansWithALimit", true, {"AI0:voltage", "AI1:voltage", "-n", "500", "--average", "7"}, 0, 0},
    // One scan a second, an overflow every 15: gaps at known scans, a file every 10 scans.
    {"GapsAndRotation", false, {"AI0:rtd", "AI5:voltage", "-r", "1", "-n", "40", "--rotate", "10s"}, 4, 3},
    // Alarm events at their scans, a fault while the input is open, and the alarm a file begins in.
    {"Alarms", true, {"AI0:voltage", "AI1:voltage", "-n", "500", "--alarm", "AI0:lo=-4.5,hi=-1,hihi=-0.5,deadband=0.2,delay=5ms"}, 0, 0},
    {"AlarmsInMeansAcrossFiles", true,
     {"AI0:voltage", "AI1:voltage", "-r", "100", "-n", "300", "--average", "3", "--rotate", "1s", "--alarm", "AI0:lo=-4,hi=2,deadband=0.5"}, 3, 0},
};

class ConvertedRecording : public ::testing::TestWithParam<ConvertCase> {};

TEST_P(ConvertedRecording, IsTheCsvQuenoLogWrites) {
    const ConvertCase& c = GetParam();
    TempDir dir;
    std::map<std::string, std::string> env;
    if (c.bScenario) env["QUENO_SIM_SYSTEM"] = dir.write("system.xml", kScenario);
    else env["QUENO_SIM_SCRIPT"] = "10,5,overflow";
    for (const char* sFormat : {"csv", "sigmf"}) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"-q", "-O", sFormat, "-o", dir.file(std::string(sFormat) == "csv" ? "run.csv" : "run")});
        RunResult r = runExample(tool(QUENO_LOG_PATH, args, env));
        ASSERT_EQ(r.nExitStatus, c.nExitStatus) << sFormat << r.sErr;
    }
    for (int n = 1; n <= std::max(c.nFiles, 1); ++n) {
        const std::string sNumber = c.nFiles == 0 ? "" : "-000" + std::to_string(n);
        SCOPED_TRACE("file " + std::to_string(n));
        RunResult converted =
            runExample(tool(QUENO_CONVERT_PATH, {dir.file("run" + sNumber + ".sigmf-meta"), "-o", dir.file("converted" + sNumber + ".csv")}));
        ASSERT_EQ(converted.nExitStatus, 0) << converted.sErr;
        const std::vector<std::string> expected = comparable(readLines(dir.file("run" + sNumber + ".csv")));
        ASSERT_GT(expected.size(), 5u);
        EXPECT_EQ(comparable(readLines(dir.file("converted" + sNumber + ".csv"))), expected);
    }
    // Nothing was published: no count of dropped rows, never a negative one. An output that refuses
    // is said in queno_convert's own name.
    for (const std::string& sLine : readLines(dir.file(c.nFiles == 0 ? "run.sigmf-meta" : "run-0001.sigmf-meta"))) {
        EXPECT_EQ(sLine.find("rows_dropped"), std::string::npos) << sLine;
    }
    RunResult full = runExample(tool(QUENO_CONVERT_PATH, {dir.file(c.nFiles == 0 ? "run" : "run-0001"), "-o", "/dev/full"}));
    EXPECT_EQ(full.nExitStatus, 1);
    EXPECT_EQ(full.sErr.rfind("queno_convert: cannot write /dev/full: ", 0), 0u) << full.sErr;
}

INSTANTIATE_TEST_SUITE_P(Runs, ConvertedRecording, ::testing::ValuesIn(kConvertCases),
                         [](const ::testing::TestParamInfo<ConvertCase>& info) { return info.param.sName; });

long fileSize(const std::string& sPath) {
    struct stat info = {};
    return stat(sPath.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

// The metadata is written under a temporary name of its own: a name planted where an earlier
// logger put its temporary (a symlink to someone's file) is never opened, and the folder holds
// the pair and nothing of the logger's beside it.
TEST(ConvertedRecording, APlantedTemporaryNameIsNeverFollowed) {
    TempDir dir;
    dir.write("precious", "keep me\n");
    ASSERT_EQ(symlink(dir.file("precious").c_str(), dir.file("run.sigmf-meta.part").c_str()), 0);
    RunResult r = runExample(tool(QUENO_LOG_PATH, {"AI0:rtd", "-q", "-n", "10", "-O", "sigmf", "-o", dir.file("run")}));
    ASSERT_EQ(r.nExitStatus, 0) << r.sErr;
    EXPECT_EQ(readLines(dir.file("precious")), std::vector<std::string>{"keep me"});
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"precious", "run.sigmf-data", "run.sigmf-meta", "run.sigmf-meta.part"}));
}

// A recording killed outright converts up to its last whole scan, in order, and says it was cut;
// a data file torn inside its last scan converts to the whole scans before it.
TEST(ConvertedRecording, AKilledRecordingConvertsToItsLastWholeScan) {
    TempDir dir;
    ExampleProcess logger(tool(QUENO_LOG_PATH, {"AI0:rtd", "AI1:voltage", "-r", "20000", "-q", "-o", dir.file("k.sigmf-data")}));
    for (int i = 0; i < 600 && fileSize(dir.file("k.sigmf-data")) < 200000; ++i) usleep(20000);  // a guard
    logger.signal(SIGKILL);
    logger.finish();
    const long nBytes = fileSize(dir.file("k.sigmf-data"));
    ASSERT_GE(nBytes, 200000);
    for (long nCut : {0L, 3L}) {
        if (nCut > 0) {
            ASSERT_EQ(truncate(dir.file("k.sigmf-data").c_str(), nBytes - nBytes % 8 - nCut), 0);
        }
        RunResult r = runExample(tool(QUENO_CONVERT_PATH, {dir.file("k")}));
        ASSERT_EQ(r.nExitStatus, 0) << r.sErr;
        long nRows = 0, nLast = -1;
        size_t nStart = 0;
        for (size_t nEnd = r.sOut.find('\n'); nEnd != std::string::npos; nStart = nEnd + 1, nEnd = r.sOut.find('\n', nStart)) {
            const std::string sLine = r.sOut.substr(nStart, nEnd - nStart);
            if (sLine.empty() || sLine[0] == '#' || sLine.rfind("time,", 0) == 0) continue;
            const long nScan = atol(sLine.c_str() + sLine.find(',') + 1);
            ASSERT_GT(nScan, nLast);
            nLast = nScan;
            ++nRows;
        }
        EXPECT_EQ(nRows, nBytes / 8 - (nCut > 0 ? 1 : 0));
        EXPECT_NE(r.sOut.find("\n# cut short after scan " + std::to_string(nLast) + ": "), std::string::npos);
    }
    ASSERT_EQ(truncate(dir.file("k.sigmf-data").c_str(), 0), 0);  // killed before its first scan
    RunResult empty = runExample(tool(QUENO_CONVERT_PATH, {dir.file("k")}));
    EXPECT_NE(empty.sOut.find("\n# cut short before its first scan: "), std::string::npos) << empty.sOut;
}

struct RefusedRecording {
    const char* sName;
    const char* sMeta;   // what the metadata file holds; null: no such file
    const char* sMessage;
};

const RefusedRecording kRefused[] = {
    {"NoSuchRecording", nullptr, "cannot read "},
    {"NotJson", "{\"global\": [1, 2", "is not JSON"},
    {"AnArray", "[{\"global\": {}}]", "is JSON, but not a SigMF metadata object"},
    {"AnotherRecorder", "{\"global\":{\"core:recorder\":\"someone\"},\"captures\":[],\"annotations\":[]}",
     "recorded by \"someone\", not by queno_log"},
    {"FieldOfTheWrongKind",
     "{\"global\":{\"core:recorder\":\"queno_log 1\",\"core:datatype\":\"ri32_le\",\"queno:average\":\"many\"}}",
     "\"queno:average\" is not a whole number"},
};

TEST(ConvertedRecording, WhatIsNoRecordingIsRefused) {
    for (const RefusedRecording& c : kRefused) {
        SCOPED_TRACE(c.sName);
        TempDir dir;
        if (c.sMeta != nullptr) dir.write("x.sigmf-meta", c.sMeta);
        dir.write("x.sigmf-data", "");
        RunResult r = runExample(tool(QUENO_CONVERT_PATH, {dir.file("x.sigmf-data")}));
        EXPECT_EQ(r.nExitStatus, 1);
        EXPECT_NE(r.sErr.find(c.sMessage), std::string::npos) << r.sErr;
        EXPECT_EQ(r.sOut, "");
    }
}

}  // namespace
