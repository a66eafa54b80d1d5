// Runs the real example as a child process and collects what it printed, its exit status and the
// simulated driver's call trace.
#pragma once

#include <map>
#include <string>
#include <vector>

struct RunOptions {
    std::vector<std::string> args;                // after the program name
    std::map<std::string, std::string> env;       // QUENO_SIM_* and the like; QUENO_SIM_TRACE is set
    std::string sExecutable = QUENO_EXAMPLE_PATH;
    int nTimeoutSeconds = 60;                     // a guard against a hung child, not a measurement
    std::string sStdin = "/dev/null";             // a file; "" for a pipe the test writes (ExampleProcess)
    std::string sStdout;                          // a file instead of the pipe the test reads
    bool bCloseStdout = false;                    // the reader of standard output goes away at once
};

struct RunResult {
    std::string sOut;
    std::string sErr;
    int nExitStatus = -1;  // -1 when the child did not exit normally
    bool bTimedOut = false;
    std::vector<std::string> trace;
};

// A fresh directory for one test's files, removed with its contents by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return sPath_; }
    std::string file(const std::string& sName) const { return sPath_ + "/" + sName; }
    std::string write(const std::string& sName, const std::string& sContent) const;

private:
    std::string sPath_;
};

RunResult runExample(const RunOptions& options);

// Runs a copy of the program placed alone in dir, where no driver lies beside it.
RunResult runAloneIn(const TempDir& dir, const std::string& sExecutable);

// The example running as a child, for tests that talk to it while it runs.
class ExampleProcess {
public:
    explicit ExampleProcess(const RunOptions& options);
    ~ExampleProcess();
    ExampleProcess(const ExampleProcess&) = delete;
    ExampleProcess& operator=(const ExampleProcess&) = delete;

    // Collects output until standard output contains sNeedle (true) or the guard time ran out.
    bool readOutUntil(const std::string& sNeedle);
    void writeStdin(const std::string& sBytes);
    void signal(int nSignal);
    int pid() const { return pid_; }
    // Collects the rest of the output and waits for the exit (killing the child at the guard time).
    RunResult finish();

private:
    bool pump(int nWaitMs);  // one round of reading; false once both streams are closed
    RunResult result_;
    TempDir dir_;
    std::string sTrace_;
    int nStdin_ = -1;
    int fds_[2] = {-1, -1};
    long long nDeadline_ = 0;
    int pid_ = -1;
};

// The loader's report of the first, failed open of the driver by name: the simulator is found
// only beside the executable.
extern const char kFirstOpenError[];

// The lines of a file, empty when it does not exist.
std::vector<std::string> readLines(const std::string& sPath);
