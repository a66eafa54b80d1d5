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
};

struct RunResult {
    std::string sOut;
    std::string sErr;
    int nExitStatus = -1;  // -1 when the child did not exit normally
    bool bTimedOut = false;
    std::vector<std::string> trace;
};

RunResult runExample(const RunOptions& options);

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

// The loader's report of the first, failed open of the driver by name: the simulator is found
// only beside the executable.
extern const char kFirstOpenError[];

// The lines of a file, empty when it does not exist.
std::vector<std::string> readLines(const std::string& sPath);
