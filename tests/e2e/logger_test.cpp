// queno_log against the simulated driver: scripted runs whose numbered scans show that every scan
// is written once and in order (batches, wraps, rotation, restarts after an overflow, means), the
// settings it refuses, its options, a full disk, stop signals and kill -9.
#include <math.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "process_runner.h"

namespace {

// A recording as the test reads it back: the header's scales, the rows and the gap lines in order.
struct Recording {
    std::vector<std::string> header;
    std::vector<std::string> columns;
    std::vector<double> scales, offsets;
    struct Line {
        bool bGap = false;
        uint64_t nLost = 0;
        std::vector<std::string> fields;
    };
    std::vector<Line> lines;
    std::string sEnd;
};

std::vector<std::string> split(const std::string& s, char cSeparator) {
    std::vector<std::string> parts;
    size_t nStart = 0;
    for (size_t n = s.find(cSeparator); n != std::string::npos; n = s.find(cSeparator, nStart)) {
        parts.push_back(s.substr(nStart, n - nStart));
        nStart = n + 1;
    }
    parts.push_back(s.substr(nStart));
    return parts;
}

void readInto(const std::string& sPath, Recording* pRecording) {
    for (const std::string& sLine : readLines(sPath)) {
        if (sLine.empty()) continue;  // a page's fill
        if (sLine.rfind("# gap: ", 0) == 0) {
            Recording::Line line;
            line.bGap = true;
            line.nLost = strtoull(sLine.c_str() + 7, nullptr, 10);
            pRecording->lines.push_back(line);
        } else if (sLine.rfind("# end ", 0) == 0) {
            pRecording->sEnd = sLine;
        } else if (sLine.rfind("# AI", 0) == 0 && pRecording->columns.empty()) {
            pRecording->header.push_back(sLine);
            size_t nScale = sLine.find(", scale ");
            pRecording->scales.push_back(strtod(sLine.c_str() + nScale + 8, nullptr));
            pRecording->offsets.push_back(strtod(sLine.c_str() + sLine.find(", offset ") + 9, nullptr));
        } else if (sLine[0] == '#') {
            pRecording->header.push_back(sLine);
        } else if (sLine.rfind("time,", 0) == 0) {
            pRecording->columns = split(sLine, ',');
        } else {
            Recording::Line line;
            line.fields = split(sLine, ',');
            pRecording->lines.push_back(line);
        }
    }
}

// The numbered scans of a scripted run: scan k of every start reads k in each channel, and the
// first nDelay of each start are held back. Every kept scan appears once, in order; the scan
// column jumps exactly by what a gap line says; every value is raw x scale - offset to the
// decimals written.
void expectNumberedScans(const Recording& r, int nDelay, uint64_t nExpectedRows) {
    const size_t nChannels = r.scales.size();
    ASSERT_GT(nChannels, 0u);
    uint64_t nScan = 0, nRows = 0, nStartScan = 0;
    for (const Recording::Line& line : r.lines) {
        if (line.bGap) {
            nScan += line.nLost;
            nStartScan = nScan;  // an overflow restarts the numbering; a queue drop would not
            continue;
        }
        ++nRows;
        ASSERT_EQ(line.fields.size(), 2 + 2 * nChannels) << "row " << nRows;
        ASSERT_EQ(line.fields[1], std::to_string(nScan)) << "row " << nRows;
        for (size_t c = 0; c < nChannels; ++c) {
            const std::string& sValue = line.fields[2 + 2 * c];
            int64_t nRaw = strtoll(line.fields[3 + 2 * c].c_str(), nullptr, 10);
            EXPECT_EQ(nRaw, nDelay + static_cast<int64_t>(nScan - nStartScan)) << "scan " << nScan;
            size_t nPoint = sValue.find('.');
            int nDecimals = nPoint == std::string::npos ? 0 : static_cast<int>(sValue.size() - nPoint - 1);
            EXPECT_NEAR(strtod(sValue.c_str(), nullptr), static_cast<double>(nRaw) * r.scales[c] - r.offsets[c],
                        0.5001 * pow(10, -nDecimals))
                << "scan " << nScan;
        }
        ++nScan;
    }
    EXPECT_EQ(nRows, nExpectedRows);
}

long fileSize(const std::string& sPath) {
    std::ifstream file(sPath, std::ios::binary | std::ios::ate);
    return static_cast<long>(file.tellg());
}

// queno_log with these arguments; QUENO_SIM_ settings in env.
RunOptions logRun(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    RunOptions options;
    options.sExecutable = QUENO_LOG_PATH;
    options.args = std::move(args);
    options.env = std::move(env);
    return options;
}

struct ScriptCase {
    const char* sName;
    const char* sSystem;  // a file of the test data, or "" for the default system
    const char* sScript;
    std::vector<std::string> args;
    int nDelay;
    uint64_t nRows;
    int nExitStatus;
    size_t nGaps;
    size_t nFiles;  // 0: one file without rotation
};

const ScriptCase kScriptCases[] = {
    // A ring of 30 scans with a delay of 2: batches up to its size wrap at its end every time.
    {"BatchesAndWraps", "small_buffer.xml", "25,5,0,28,3,17,28", {"AI0:rtd", "-n", "104"}, 2, 104, 0, 0, 0},
    {"TwoChannelsOfTwoModes", "", "25,25,25,25", {"AI0:rtd", "AI5:voltage", "-n", "96"}, 4, 96, 0, 0, 0},
    // One scan a second: the scans lost at each restart follow from the time, here always one.
    {"RestartsAfterOverflows", "", "10,5,overflow", {"AI0:rtd", "-r", "1", "-n", "40"}, 4, 37, 3, 3, 0},
    // Each file holds at most 4096 bytes, the line that names the next one included.
    {"RotationBySize", "", "300,300,300", {"AI0:rtd", "--rotate", "4K", "-n", "896"}, 4, 896, 0, 0, 12},
};

class LoggerScript : public ::testing::TestWithParam<ScriptCase> {};

TEST_P(LoggerScript, EveryScanOnceInOrderWithItsValue) {
    const ScriptCase& c = GetParam();
    TempDir dir;
    RunOptions options = logRun(c.args, {{"QUENO_SIM_SCRIPT", c.sScript}});
    options.args.insert(options.args.end(), {"--raw", "-o", dir.file("log.csv")});
    if (c.sSystem[0] != '\0') options.env["QUENO_SIM_SYSTEM"] = std::string(QUENO_TEST_DATA_DIR) + "/" + c.sSystem;
    RunResult result = runExample(options);
    ASSERT_FALSE(result.bTimedOut);
    EXPECT_EQ(result.nExitStatus, c.nExitStatus) << result.sErr;

    Recording recording;
    size_t nFiles = c.nFiles == 0 ? 1 : c.nFiles;
    for (size_t i = 1; i <= nFiles; ++i) {
        char sName[32];
        snprintf(sName, sizeof(sName), "log-%04zu.csv", i);
        Recording file;
        readInto(dir.file(c.nFiles == 0 ? "log.csv" : sName), &file);
        ASSERT_FALSE(file.columns.empty()) << "file " << i << " has no header";
        if (c.nFiles > 0) {
            EXPECT_LE(fileSize(dir.file(sName)), 4096) << sName;
        }
        if (i == 1) recording = file;
        else recording.lines.insert(recording.lines.end(), file.lines.begin(), file.lines.end());
        recording.sEnd = file.sEnd;
    }
    if (c.nFiles > 0) {
        EXPECT_TRUE(readLines(dir.file("log-" + std::to_string(c.nFiles + 10001).substr(1) + ".csv")).empty());
    }
    EXPECT_EQ(recording.header[1].rfind("# board 0: QUENO-1600-UNIV, serial ", 0), 0u);
    EXPECT_EQ(recording.header[3].rfind("# AI0: RTD-Temperature, Range -100.000000..200.000000 degC, LinearisationTable PTX", 0),
              0u) << recording.header[3];
    expectNumberedScans(recording, c.nDelay, c.nRows);
    size_t nGaps = 0;
    for (const auto& line : recording.lines) nGaps += line.bGap ? 1 : 0;
    EXPECT_EQ(nGaps, c.nGaps);
    EXPECT_NE(recording.sEnd.find(": " + std::to_string(c.nRows) + " scans"), std::string::npos)
        << recording.sEnd;
}

INSTANTIATE_TEST_SUITE_P(Runs, LoggerScript, ::testing::ValuesIn(kScriptCases),
                         [](const ::testing::TestParamInfo<ScriptCase>& info) { return info.param.sName; });

// Whatever a stranger put at a name of the rotation (a file, a directory, a FIFO, a symlink that
// dangles or leads to /dev/null) is passed over, said and left as it was.
TEST(LoggerScript, RotationPassesOverAStrangersName) {
    const char* kKinds[] = {"file", "directory", "fifo", "dangling symlink", "symlink to /dev/null"};
    for (const char* sKind : kKinds) {
        SCOPED_TRACE(sKind);
        TempDir dir;
        const std::string sTaken = dir.file("log-0002.csv"), k = sKind;
        int nMade = 0;
        if (k == "file") dir.write("log-0002.csv", "not ours\n");
        if (k == "directory") nMade = mkdir(sTaken.c_str(), 0700);
        if (k == "fifo") nMade = mkfifo(sTaken.c_str(), 0600);
        if (k == "dangling symlink") nMade = symlink(dir.file("nowhere").c_str(), sTaken.c_str());
        if (k == "symlink to /dev/null") nMade = symlink("/dev/null", sTaken.c_str());
        ASSERT_EQ(nMade, 0);
        RunResult r = runExample(logRun({"AI0:rtd", "--rotate", "4K", "-n", "200", "-o", dir.file("log.csv")},
                                        {{"QUENO_SIM_SCRIPT", "300"}}));
        EXPECT_EQ(r.nExitStatus, 0) << r.sErr;
        EXPECT_NE(r.sErr.find(sTaken + " exists and is left alone; the recording goes on in " + dir.file("log-0003.csv")),
                  std::string::npos) << r.sErr;
        if (k == "file") {
            EXPECT_EQ(readLines(sTaken), std::vector<std::string>{"not ours"});
        }
        struct stat info = {};
        EXPECT_NE(lstat(dir.file("nowhere").c_str(), &info), 0);  // nothing was created through the symlink
        EXPECT_EQ(readLines(dir.file("log-0001.csv")).back(), "# continued in " + dir.file("log-0003.csv"));
        EXPECT_EQ(readLines(dir.file("log-0003.csv"))[0].rfind("# queno_log ", 0), 0u);
    }
}

TEST(LoggerScript, MeansCarryTheirFirstScanAndTheLastPartialBlock) {
    TempDir dir;
    RunResult result = runExample(logRun({"AI0:rtd", "--raw", "--average", "10", "-n", "96", "-o", dir.file("log.csv")},
                                         {{"QUENO_SIM_SCRIPT", "25,25,25,25"}}));
    EXPECT_EQ(result.nExitStatus, 0) << result.sErr;
    Recording r;
    readInto(dir.file("log.csv"), &r);
    ASSERT_EQ(r.lines.size(), 10u);
    EXPECT_NE(r.sEnd.find(": 96 scans"), std::string::npos) << r.sEnd;  // every scan counted, in 10 rows
    // Scans 0..9 hold the samples 4..13: mean 8.5, written rounded; the last block holds 90..95.
    EXPECT_EQ(r.lines[0].fields[1], "0");
    EXPECT_EQ(r.lines[0].fields[3], "9");
    EXPECT_EQ(r.lines[9].fields[1], "90");
    EXPECT_EQ(r.lines[9].fields[3], "97");
}

// Standard error of a run that did not start, without the loader's note about its first search.
struct RefusalCase {
    const char* sName;
    std::vector<std::string> args;
    int nExitStatus;
    const char* sMessage;
    std::map<std::string, std::string> env = {};
};

const RefusalCase kRefusals[] = {
    {"RangeTheModeLacks", {"AI0:pt100,Range=0..5000"}, 2,
     "BoardID0/AI0: Range=\"0..5000\": range is not available in this channel mode; the mode offers "
     "\"-200.000000..850.000000 degC\", "},
    {"UnknownProperty", {"AI1:voltage,Colour=blue"}, 2, "BoardID0/AI1: Colour=\"blue\": "},
    {"RateAboveTheBoard", {"-r", "50000", "AI0"}, 2, "Samplerate=\"50000\": sample rate is outside the board's limits; "
                                                     "the board takes 1 to 20000 scans/s"},
    {"ModeTheInputLacks", {"AI0,Mode=Strain"}, 2, "; the input offers the modes \"Voltage\", \"RTD-Temperature\""},
    {"NoBoardWithTheSerial", {"-b", "serial:X1", "AI0"}, 1, "no board with serial X1 (the driver's boards have: 16U-20417, "},
    {"BrokersOwnTopic", {"--mqtt", "mqtt://127.0.0.1:1", "--topic", "$SYS/x", "AI0"}, 2, "--topic \"$SYS/x\": "},
    {"TopicNotUtf8", {"--mqtt", "mqtt://127.0.0.1:1", "--topic", "a\xff", "AI0"}, 2, "--topic \"a\\xff\": "},
    {"NewlineInTheName", {"-o", "a\n# forged", "AI0"}, 2, "--output: a file name without control characters"},
    {"BoardThatDoesNotOpen", {"AI0"}, 1, "queno_log: BoardID0: opening the board: ", {{"QUENO_SIM_FAULTS", "cmd:1=1004"}}},
    {"SigmfToStandardOutput", {"-O", "sigmf", "-o", "-", "AI0"}, 2, "-O sigmf writes two files"},
    {"SigmfWithRaw", {"--raw", "-O", "sigmf", "AI0"}, 2, "--raw: the SigMF data are the raw counts already"},
    {"UnknownFormat", {"-O", "hdf5", "AI0"}, 2, "--output-format \"hdf5\": csv or sigmf"},
    {"InputTheBoardLacks", {"AI8:voltage"}, 2, "board 0 has no AI8"},
    {"NoSuchBoard", {"-b", "5", "AI0"}, 1, "no board 5: the driver reports 2 boards"},
    {"UnknownPreset", {"AI0:pt99"}, 2, "unknown preset \"pt99\""},
    {"NotAChannel", {"AO1"}, 2, "channel \"AO1\": expected AI<k>"},
    {"ChannelTwice", {"AI1", "AI1:rtd"}, 2, "AI1 is named twice"},
    {"NoChannel", {"-n", "5"}, 2, "no CHANNEL given"},
    {"BadRate", {"-r", "fast", "AI0"}, 2, "--rate \"fast\""},
    {"RotateWithoutUnit", {"--rotate", "10", "AI0"}, 2, "--rotate \"10\""},
    {"RotateStandardOutput", {"--rotate", "1h", "-o", "-", "AI0"}, 2, "standard output cannot be rotated"},
    {"UnknownOption", {"--colour", "AI0"}, 2, "unknown option --colour"},
    {"MissingValue", {"AI0", "-n"}, 2, "needs a value"},
    {"FullDisk", {"-n", "2000", "-o", "/dev/full", "AI0"}, 1, "cannot write /dev/full: No space left on device"},
    {"AlarmLoAboveHi", {"--alarm", "AI0:lo=5,hi=2", "AI0"}, 2, "--alarm \"AI0:lo=5,hi=2\": lo must be below hi"},
    {"AlarmKeyTwice", {"--alarm", "AI0:hi=2,hi=3", "AI0"}, 2, "\"hi\" is given twice"},
    {"AlarmUnknownKey", {"--alarm", "AI0:high=2", "AI0"}, 2, "unknown key \"high\""},
    {"AlarmNegativeDeadband", {"--alarm", "AI0:hi=2,deadband=-1", "AI0"}, 2, "the deadband is negative"},
    {"AlarmDelayNoTime", {"--alarm", "AI0:hi=2,delay=soon", "AI0"}, 2, "delay \"soon\": a time"},
    {"AlarmOnAnotherChannel", {"--alarm", "AI3:hi=2", "AI0"}, 2, "--alarm: AI3 is not among the channels recorded"},
    {"AlarmTwiceForAChannel", {"--alarm", "AI0:hi=2", "--alarm", "AI0:lo=1", "AI0"}, 2, "AI0 has one already"},
    {"HookThatDoesNotExist", {"--alarm", "AI0:hi=2", "--on-alarm", "/nonexistent/page", "AI0"}, 2,
     "--on-alarm /nonexistent/page: No such file or directory"},
    {"CaptureWithoutAlarm", {"--capture", "10s,60s", "AI0"}, 2, "--capture needs --alarm"},
    {"CaptureNoTimes", {"--alarm", "AI0:hi=2", "--capture", "10s", "AI0"}, 2, "--capture \"10s\": PRE,POST"},
    {"CaptureBesideStandardOutput", {"--alarm", "AI0:hi=2", "--capture", "1s,1s", "-o", "-", "AI0"}, 2, "it needs one"},
    {"CaptureRingTooLarge", {"--alarm", "AI0:hi=2", "--capture", "2h,1s", "-r", "20000", "AI0", "AI1"}, 2,
     "--capture: 2197 MiB of memory would keep the scans before an event; at most 256 MiB"},
    {"HookThatCannotRun", {"--alarm", "AI0:hi=2", "--on-alarm", "/tmp", "AI0"}, 2, "--on-alarm /tmp: not a program that can be run"},
};

class LoggerRefusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(LoggerRefusal, SaysWhyAndLeavesNoFile) {
    const RefusalCase& c = GetParam();
    TempDir dir;
    RunOptions options = logRun(c.args, c.env);
    bool bNamed = false;
    for (const std::string& s : c.args) bNamed = bNamed || s == "-o";
    if (!bNamed) options.args.insert(options.args.begin(), {"-o", dir.file("log.csv")});
    RunResult r = runExample(options);
    EXPECT_EQ(r.nExitStatus, c.nExitStatus);
    EXPECT_NE(r.sErr.find(c.sMessage), std::string::npos) << r.sErr;
    EXPECT_EQ(r.sOut, "");
    EXPECT_TRUE(readLines(dir.file("log.csv")).empty());
    // Whatever was opened was closed and the driver let go.
    if (!r.trace.empty() && c.nExitStatus != 1) {
        EXPECT_EQ(r.trace.back(), "KiVoDriverDeInit() = 0");
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, LoggerRefusal, ::testing::ValuesIn(kRefusals),
                         [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.sName; });

TEST(LoggerRun, HelpAndVersionTouchNoDriver) {
    for (const char* sOption : {"--help", "-h", "--version"}) {
        RunResult r = runExample(logRun({"AI0", sOption}));
        EXPECT_EQ(r.nExitStatus, 0);
        EXPECT_NE(r.sOut.find(std::string(sOption) == "--version" ? "queno_log 1." : "Usage: queno_log"), std::string::npos);
        EXPECT_TRUE(r.trace.empty());
    }
}

// A range the driver widened (a coarser count) is said at the start, once.
TEST(LoggerRun, AWidenedRangeIsSaidAtTheStart) {
    RunResult r = runExample(logRun({"AI0:rtd", "AI2:voltage,Range=-5..5", "-n", "3", "-q", "-o", "-"}));
    EXPECT_EQ(r.nExitStatus, 0) << r.sErr;
    // After the loader's line (no real driver is installed, the simulator beside it serves).
    EXPECT_EQ(r.sErr.substr(r.sErr.find('\n') + 1), "queno_log: BoardID0/AI2: Range \"-5..5\" settled on -10.000000..10.000000 V\n");
}

// The signals the process blocks, from /proc (its main thread's mask): 0 when it cannot be read.
unsigned long long blockedSignals(int nPid) {
    std::ifstream status("/proc/" + std::to_string(nPid) + "/status");
    for (std::string sLine; std::getline(status, sLine);) {
        if (sLine.rfind("SigBlk:", 0) == 0) return strtoull(sLine.c_str() + 7, nullptr, 16);
    }
    return 0;
}

// -o naming a FIFO that nobody reads: the run waits for a reader, and a stop ends the wait.
TEST(LoggerRun, AStopEndsTheWaitForAFifosReader) {
    if (QUENO_TEST_EMULATOR[0] != '\0') GTEST_SKIP() << "the emulator keeps the program's signal mask to itself";
#ifdef __SANITIZE_THREAD__
    GTEST_SKIP() << "ThreadSanitizer's runtime blocks signals of its own: the mask tells nothing";
#endif
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
    ExampleProcess logger(logRun({"AI0:rtd", "-q", "-o", dir.file("fifo")}));
    // The stop signals are blocked once the thread that takes them runs; the output is opened after.
    for (int i = 0; i < 3000 && (blockedSignals(logger.pid()) & (1ull << (SIGINT - 1))) == 0; ++i) usleep(10000);
    logger.signal(SIGINT);
    RunResult r = logger.finish();
    EXPECT_FALSE(r.bTimedOut);
    EXPECT_EQ(r.nExitStatus, 128 + SIGINT) << r.sErr;
    EXPECT_TRUE(r.trace.empty());  // the driver was never touched
}

class LoggerStopSignal : public ::testing::TestWithParam<int> {};

TEST_P(LoggerStopSignal, EndsWithTheEndLineAndStatusZero) {
    ExampleProcess logger(logRun({"AI0:rtd", "-o", "-"}));
    ASSERT_TRUE(logger.readOutUntil("\n2"));  // the first row
    logger.signal(GetParam());
    RunResult r = logger.finish();
    EXPECT_EQ(r.nExitStatus, 0) << r.sErr;
    EXPECT_NE(r.sOut.find("\n# end "), std::string::npos);
    EXPECT_NE(r.sOut.find(", 0 gaps, 0 scans lost\n"), std::string::npos);
    ASSERT_GE(r.trace.size(), 3u);
    // Stop, close, let the driver go.
    EXPECT_EQ(std::vector<std::string>(r.trace.end() - 3, r.trace.end()),
              (std::vector<std::string>{"KiVoSetParam_i32(0, 5, 0) = 0", "KiVoSetParam_i32(0, 2, 0) = 0",
                                        "KiVoDriverDeInit() = 0"}));
}

INSTANTIATE_TEST_SUITE_P(Signals, LoggerStopSignal, ::testing::Values(SIGINT, SIGTERM, SIGHUP));

TEST(LoggerRun, KillNineLeavesWholeLines) {
    TempDir dir;
    ExampleProcess logger(logRun({"AI0:rtd", "AI1:voltage", "-r", "20000", "-o", dir.file("log.csv")}));
    // A guard against a logger that never writes, not a measurement.
    for (int i = 0; i < 600 && readLines(dir.file("log.csv")).size() < 2000; ++i) usleep(20000);
    logger.signal(SIGKILL);
    logger.finish();
    std::vector<std::string> lines = readLines(dir.file("log.csv"));
    ASSERT_GE(lines.size(), 2000u);
    // A kill cuts a write only where a page ends, and every page of the file ends a line.
    std::ifstream file(dir.file("log.csv"), std::ios::binary);
    const std::string sBytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    for (size_t n = 4096; n <= sBytes.size(); n += 4096) ASSERT_EQ(sBytes[n - 1], '\n') << "page ending at " << n;
    uint64_t nScan = 0;
    for (const std::string& sLine : lines) {
        if (sLine.empty() || sLine[0] == '#' || sLine.rfind("time,", 0) == 0) continue;
        std::vector<std::string> fields = split(sLine, ',');
        ASSERT_EQ(fields.size(), 4u) << sLine;
        ASSERT_EQ(fields[1], std::to_string(nScan++));
    }
}

// A disk that fills mid-run: the run ends with status 1 and the file with its last whole line.
TEST(LoggerRun, AFullDiskLeavesWholeLines) {
    TempDir dir;
    const std::string sDisk = dir.file("disk");
    mkdir(sDisk.c_str(), 0755);
    if (system(("mount -t tmpfs -o size=64k tmpfs " + sDisk + " 2>/dev/null").c_str()) != 0) {
        GTEST_SKIP() << "a small tmpfs cannot be mounted here (needs root)";
    }
    RunResult r = runExample(logRun({"AI0:rtd", "AI1:voltage", "-r", "20000", "-q", "-o", sDisk + "/log.csv"}));
    std::vector<std::string> lines = readLines(sDisk + "/log.csv");
    std::string sBytes;
    {
        std::ifstream file(sDisk + "/log.csv", std::ios::binary);
        sBytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    EXPECT_EQ(system(("umount " + sDisk).c_str()), 0);
    EXPECT_EQ(r.nExitStatus, 1);
    EXPECT_NE(r.sErr.find("No space left on device - stopping"), std::string::npos) << r.sErr;
    ASSERT_FALSE(sBytes.empty());
    EXPECT_EQ(sBytes.back(), '\n');
    for (const std::string& sLine : lines) {
        if (sLine.empty() || sLine[0] == '#' || sLine.rfind("time,", 0) == 0) continue;
        ASSERT_EQ(split(sLine, ',').size(), 4u) << sLine;
    }
}

}  // namespace

// The simulator's scenarios, recorded by queno_log: each signal and event kind at the scans it
// covers, gaps where the board stalls or overruns, the same file twice, and a replayed recording.
namespace {

// One universal board whose inputs measure -10..10 V: one count is 10 / 8388607 V.
std::string scenarioSystem(const std::string& sScenario) {
    return "<QuenoSimSystem><Board model='QUENO-1600-UNIV' serial='S'><Acquisition bufferScans='8192'/>" + sScenario +
           "<ChannelGroup kind='AI' count='4'><Mode Mode='Voltage'><Range><ID0>-10.000000..10.000000 V</ID0></Range>"
           "<IIRFilter_VAL Min='0' Max='1000' Default='0'/></Mode></ChannelGroup><BoardProperties><AcquisitionProperties><AcqProp>"
           "<SampleRate ProgMin='1' ProgMax='20000' Default='1000'/></AcqProp></AcquisitionProperties>"
           "</BoardProperties></Board></QuenoSimSystem>";
}

constexpr double kCount = 10.0 / 8388607;

struct ScenarioCase {
    const char* sName;
    std::string sScenario;
    const char* sRate;
    const char* sScans;
    double (*expected)(double t);  // AI0's value at scan time t, NaN: at a limit, empty; null: not checked
    int nExitStatus;
};

const ScenarioCase kScenarios[] = {
    {"Constant", "<Signals><Signal channels='AI0' kind='constant' value='2.5'/></Signals>", "1000", "500",
     [](double) { return 2.5; }, 0},
    {"RampThenHold", "<Signals><Signal channels='AI0' kind='ramp' from='-5' to='5' duration='1s'/></Signals>", "1000",
     "1500", [](double t) { return -5 + 10 * (t < 1 ? t : 1); }, 0},
    {"Sine", "<Signals><Signal channels='AI0' kind='sine' offset='1' amplitude='4' period='500ms'/></Signals>", "1000",
     "1000", [](double t) { return 1 + 4 * sin(2 * M_PI * t / 0.5); }, 0},
    {"StepsRepeated", "<Signals><Signal channels='AI0' kind='steps' values='1 2 3' every='250ms' repeat='true'/></Signals>",
     "1000", "1000", [](double t) { return 1.0 + static_cast<int>(floor(t / 0.25 + 1e-9)) % 3; }, 0},
    {"OpenInput",
     "<Signals><Signal channels='AI0' kind='constant' value='2.5'/></Signals>"
     "<Events><Event at='300ms' channels='AI0' kind='open' duration='100ms'/></Events>",
     "1000", "600", [](double t) { return t >= 0.3 - 1e-9 && t < 0.4 - 1e-9 ? NAN : 2.5; }, 0},
    {"ShortToTheEnd",
     "<Signals><Signal channels='AI0' kind='constant' value='2.5'/></Signals>"
     "<Events><Event at='200ms' channels='AI0..AI1' kind='short'/></Events>",
     "1000", "400", [](double t) { return t >= 0.2 - 1e-9 ? NAN : 2.5; }, 0},
    {"OverRange",
     "<Signals><Signal channels='AI0' kind='constant' value='-2.5'/></Signals>"
     "<Events><Event at='100ms' channels='AI0' kind='overrange' duration='50ms'/></Events>",
     "1000", "300", [](double t) { return t >= 0.1 - 1e-9 && t < 0.15 - 1e-9 ? NAN : -2.5; }, 0},
    // A second's stall at 20000 scans/s brings more at once than the buffer's 8192 scans hold.
    {"StallOverrunsTheBuffer", "<Events><Event at='100ms' kind='stall' duration='1s'/></Events>", "20000", "30000",
     nullptr, 3},
    {"Overflow", "<Events><Event at='100ms' kind='overflow'/></Events>", "1000", "300", nullptr, 3},
};

RunResult logScenario(const TempDir& dir, const std::string& sSystem, const std::string& sFile,
                      std::vector<std::string> args) {
    std::vector<std::string> all = {"AI0:voltage", "AI1:voltage", "-q", "-o", dir.file(sFile)};
    all.insert(all.end(), args.begin(), args.end());
    return runExample(logRun(all, {{"QUENO_SIM_SYSTEM", dir.file(sSystem)}}));
}

// The value columns of a recording, times left out.
std::vector<std::string> valueColumns(const std::string& sPath) {
    std::vector<std::string> rows;
    for (const std::string& sLine : readLines(sPath)) {
        if (!sLine.empty() && sLine[0] != '#') rows.push_back(sLine.substr(sLine.find(',') + 1));
    }
    return rows;
}

class LoggerScenario : public ::testing::TestWithParam<ScenarioCase> {};

TEST_P(LoggerScenario, ValuesFollowTheScenarioScanByScan) {
    const ScenarioCase& c = GetParam();
    TempDir dir;
    std::ofstream(dir.file("system.xml")) << scenarioSystem(c.sScenario);
    RunResult r = logScenario(dir, "system.xml", "log.csv", {"-r", c.sRate, "-n", c.sScans});
    ASSERT_FALSE(r.bTimedOut);
    EXPECT_EQ(r.nExitStatus, c.nExitStatus) << r.sErr;
    Recording recording;
    readInto(dir.file("log.csv"), &recording);
    size_t nGaps = 0, nRows = 0;
    for (const Recording::Line& line : recording.lines) {
        if (line.bGap) {
            ++nGaps;
            continue;
        }
        ++nRows;
        if (c.expected == nullptr) continue;
        double t = strtod(line.fields[1].c_str(), nullptr) / strtod(c.sRate, nullptr);
        if (isnan(c.expected(t))) {
            ASSERT_EQ(line.fields[2], "") << "scan " << line.fields[1];
            continue;
        }
        ASSERT_NEAR(strtod(line.fields[2].c_str(), nullptr), c.expected(t), 2 * kCount) << "scan " << line.fields[1];
    }
    EXPECT_EQ(nGaps > 0, c.nExitStatus == 3);
    EXPECT_GT(nRows, 0u);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LoggerScenario, ::testing::ValuesIn(kScenarios),
                         [](const ::testing::TestParamInfo<ScenarioCase>& info) { return info.param.sName; });

TEST(LoggerScenario, RepeatsExactlyAndAReplayedRecordingLogsTheSameValues) {
    TempDir dir;
    std::ofstream(dir.file("system.xml"))
        << scenarioSystem("<Signals><Signal channels='AI0' kind='sine' offset='1' amplitude='4' period='300ms' noise='0.05' seed='7'/>"
                          "<Signal channels='AI1' kind='ramp' from='-9' to='9' duration='700ms' then='repeat' noise='0.01'/></Signals>");
    ASSERT_EQ(logScenario(dir, "system.xml", "first.csv", {"-n", "2000"}).nExitStatus, 0);
    ASSERT_EQ(logScenario(dir, "system.xml", "second.csv", {"-n", "2000"}).nExitStatus, 0);
    std::vector<std::string> first = valueColumns(dir.file("first.csv"));
    ASSERT_EQ(first.size(), 2001u);
    EXPECT_EQ(valueColumns(dir.file("second.csv")), first);

    // Replayed at its own rate, the recording is measured again count for count.
    std::ofstream(dir.file("replay.xml"))
        << scenarioSystem("<Signals><Signal channels='AI0' kind='replay' file='first.csv' column='AI0'/>"
                          "<Signal channels='AI1' kind='replay' file='first.csv' column='AI1'/></Signals>");
    ASSERT_EQ(logScenario(dir, "replay.xml", "replayed.csv", {"-n", "2000"}).nExitStatus, 0);
    EXPECT_EQ(valueColumns(dir.file("replayed.csv")), first);
}

// UTC microseconds of a time as the logger writes it: "2026-12-08T15:20:01.123456Z".
int64_t utcMicros(const std::string& sTime) {
    struct tm parts = {};
    int nMicros = 0;
    if (sscanf(sTime.c_str(), "%d-%d-%dT%d:%d:%d.%dZ", &parts.tm_year, &parts.tm_mon, &parts.tm_mday, &parts.tm_hour,
               &parts.tm_min, &parts.tm_sec, &nMicros) != 7) {
        return -1;
    }
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    return static_cast<int64_t>(timegm(&parts)) * 1000000 + nMicros;
}

std::string after(const std::string& sLine, const std::string& sMark) {
    size_t n = sLine.find(sMark);
    return n == std::string::npos ? "" : sLine.substr(n + sMark.size());
}

// An open input at 500 ms of scan time is recorded at exactly 500 ms after the start, however many
// scans the input filter holds back. The overflow at 800 ms restarts the acquisition but not the
// scenario: the open input at 500 ms does not come again, and the one at 2 s comes at 2 s (to
// within the moment the restart is reckoned from).
class LoggerScanTime : public ::testing::TestWithParam<int> {};

TEST_P(LoggerScanTime, AnEventIsRecordedAtItsScenarioTime) {
    const int nFilter = GetParam();
    const int nDelay = (nFilter + 24) / 25;
    TempDir dir;
    std::ofstream(dir.file("system.xml")) << scenarioSystem(
        "<Events><Event at='500ms' channels='AI0' kind='open' duration='100ms'/><Event at='800ms' kind='overflow'/>"
        "<Event at='2s' channels='AI0' kind='open' duration='100ms'/></Events>");
    // Room for the second acquisition's event however late a loaded machine notices the overflow.
    RunResult r = runExample(logRun({"AI0:voltage,IIRFilter_VAL=" + std::to_string(nFilter), "-q", "-n", "3500", "-o",
                                     dir.file("log.csv")},
                                    {{"QUENO_SIM_SYSTEM", dir.file("system.xml")}}));
    ASSERT_EQ(r.nExitStatus, 3) << r.sErr;
    int64_t nStart = -1, nRestart = -1;
    std::vector<int64_t> opened;  // times of the first empty AI0 of each acquisition
    bool bInStretch = false;
    for (const std::string& sLine : readLines(dir.file("log.csv"))) {
        if (sLine.rfind("# rate ", 0) == 0) {
            nStart = utcMicros(after(sLine, "started "));
            EXPECT_NE(sLine.find("input filter delay " + std::to_string(nDelay) + " scans"), std::string::npos) << sLine;
        } else if (sLine.rfind("# gap: ", 0) == 0 && nRestart < 0) {
            nRestart = utcMicros(after(sLine, "restarted at "));
        } else if (sLine.rfind("# AI0: over range from scan ", 0) == 0 && opened.empty()) {
            EXPECT_EQ(sLine, "# AI0: over range from scan " + std::to_string(500 - nDelay));
        } else if (sLine.rfind("# AI0: in range again", 0) == 0 && opened.size() == 1) {
            EXPECT_EQ(sLine, "# AI0: in range again at scan " + std::to_string(600 - nDelay) + ", 100 scans over range");
        } else if (!sLine.empty() && sLine[0] != '#' && sLine.rfind("time,", 0) != 0) {
            std::vector<std::string> fields = split(sLine, ',');
            ASSERT_EQ(fields.size(), 3u) << sLine;
            if (fields[2].empty() && !bInStretch) opened.push_back(utcMicros(fields[0]));
            bInStretch = fields[2].empty();
        }
    }
    ASSERT_EQ(opened.size(), 2u);
    ASSERT_GT(nStart, 0);
    ASSERT_GT(nRestart, 0);
    EXPECT_EQ(opened[0] - nStart, 500000);
    EXPECT_NEAR(static_cast<double>(opened[1] - nStart), 2000000.0, 200000.0);
}

INSTANTIATE_TEST_SUITE_P(Filters, LoggerScanTime, ::testing::Values(0, 100, 1000));

// A driver that fails in the middle of a run. AI0 ramps by 1 mV a scan from each start, so a scan
// written twice would show as a step back: between gap lines every row is one scan and one step on,
// every scan missing is in a gap line, and the run ends.
struct DriverFaultCase {
    const char* sName;
    const char* sEvent;
    const char* sDuration;
    int nExitStatus;
    const char* sMessage;
};

const DriverFaultCase kDriverFaults[] = {
    {"ReleaseFailsForAMoment", "<Event at='1s' kind='fail' calls='KiVoSetParam_i32' result='1003' duration='300ms'/>",
     "3s", 3, "queno_log: the driver did not take back the scans read (board is not open) after "},
    {"QueriesFailForTwoSeconds", "<Event at='1s' kind='fail' calls='KiVoGetParam_i32' result='1003' duration='2s'/>",
     "4s", 3, "queno_log: the driver's queries kept failing (board is not open) after "},
    {"StartRefusedForGood", "<Event at='1s' kind='fail' calls='KiVoSetParam_i32' result='1003'/>", "6s", 1,
     "queno_log: BoardID0: the acquisition did not restart after the driver did not take back the scans read"},
};

class LoggerDriverFault : public ::testing::TestWithParam<DriverFaultCase> {};

TEST_P(LoggerDriverFault, NoScanTwiceEveryLossInAGapAndAnEnd) {
    const DriverFaultCase& c = GetParam();
    TempDir dir;
    std::ofstream(dir.file("system.xml"))
        << scenarioSystem(std::string("<Signals><Signal channels='AI0' kind='ramp' from='0' to='10' duration='10s'/></Signals>"
                                      "<Events>") + c.sEvent + "</Events>");
    RunResult r = runExample(logRun({"AI0:voltage", "-q", "-d", c.sDuration, "-o", dir.file("log.csv")},
                                    {{"QUENO_SIM_SYSTEM", dir.file("system.xml")}}));
    ASSERT_FALSE(r.bTimedOut);
    EXPECT_EQ(r.nExitStatus, c.nExitStatus) << r.sErr;
    EXPECT_NE(r.sErr.find(c.sMessage), std::string::npos) << r.sErr;
    // A lasting error is said once per stretch, not at every poll.
    EXPECT_LT(split(r.sErr, '\n').size(), 20u) << r.sErr;
    Recording recording;
    readInto(dir.file("log.csv"), &recording);
    ASSERT_FALSE(recording.sEnd.empty());
    uint64_t nNext = 0, nRows = 0, nLost = 0, nGaps = 0;
    double dLast = NAN;
    for (const Recording::Line& line : recording.lines) {
        if (line.bGap) {
            nNext += line.nLost;
            nLost += line.nLost;
            ++nGaps;
            dLast = NAN;
            continue;
        }
        ASSERT_EQ(line.fields[1], std::to_string(nNext)) << "row " << nRows;
        const double dValue = strtod(line.fields[2].c_str(), nullptr);
        if (!isnan(dLast)) {
            ASSERT_NEAR(dValue - dLast, 0.001, 2 * kCount) << "scan " << nNext;
        }
        dLast = dValue;
        ++nNext;
        ++nRows;
    }
    EXPECT_EQ(nGaps > 0, c.nExitStatus == 3);  // a run that cannot go on ends where it is
    EXPECT_NE(recording.sEnd.find(": " + std::to_string(nRows) + " scans, " + std::to_string(nGaps) + " gap"),
              std::string::npos) << recording.sEnd;
    EXPECT_NE(recording.sEnd.find(", " + std::to_string(nLost) + " scan"), std::string::npos) << recording.sEnd;
}

INSTANTIATE_TEST_SUITE_P(Events, LoggerDriverFault, ::testing::ValuesIn(kDriverFaults),
                         [](const ::testing::TestParamInfo<DriverFaultCase>& info) { return info.param.sName; });

}  // namespace
