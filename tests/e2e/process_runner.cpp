#include "process_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>

extern char** environ;

const char kFirstOpenError[] = "libkvpxi_api.so: cannot open shared object file: No such file or directory\n";

namespace {

long long nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

TempDir::TempDir() {
    char sTemplate[] = "/tmp/queno-test-XXXXXX";
    const char* sDir = mkdtemp(sTemplate);
    sPath_ = sDir != nullptr ? sDir : "/tmp";
}

TempDir::~TempDir() {
    if (sPath_ == "/tmp") return;
    std::string sCommand = "rm -rf '" + sPath_ + "'";
    if (system(sCommand.c_str()) != 0) {
        // Left behind in /tmp; nothing else to do.
    }
}

std::string TempDir::write(const std::string& sName, const std::string& sContent) const {
    std::string sFile = file(sName);
    std::ofstream(sFile) << sContent;
    return sFile;
}

std::vector<std::string> readLines(const std::string& sPath) {
    std::vector<std::string> lines;
    std::ifstream in(sPath);
    for (std::string sLine; std::getline(in, sLine);) lines.push_back(sLine);
    return lines;
}

ExampleProcess::ExampleProcess(const RunOptions& options) : sTrace_(dir_.file("trace.log")) {
    // The child's environment: ours without any QUENO_SIM_ setting or one the test sets, then the test's.
    std::map<std::string, std::string> settings = options.env;
    std::vector<std::string> env;
    for (char** p = environ; *p != nullptr; ++p) {
        const std::string sName(*p, strcspn(*p, "="));
        if (strncmp(*p, "QUENO_SIM_", 10) != 0 && settings.count(sName) == 0) env.emplace_back(*p);
    }
    if (settings.count("QUENO_SIM_TRACE") == 0) settings["QUENO_SIM_TRACE"] = sTrace_;
    sTrace_ = settings["QUENO_SIM_TRACE"];
    for (const auto& setting : settings) env.push_back(setting.first + "=" + setting.second);
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(&s[0]);
    envp.push_back(nullptr);

    // A cross build's tests start the target program through its emulator.
    std::vector<std::string> args;
    if (QUENO_TEST_EMULATOR[0] != '\0') args.push_back(QUENO_TEST_EMULATOR);
    args.push_back(options.sExecutable);
    args.insert(args.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (std::string& s : args) argv.push_back(&s[0]);
    argv.push_back(nullptr);

    int inPipe[2] = {-1, -1}, outPipe[2], errPipe[2];
    if (options.sStdin.empty() && pipe(inPipe) != 0) return;
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return;
    if (options.bCloseStdout) {
        close(outPipe[0]);
        outPipe[0] = -1;
    }
    pid_ = fork();
    if (pid_ == 0) {
        int nIn = options.sStdin.empty() ? inPipe[0] : open(options.sStdin.c_str(), O_RDONLY);
        int nOut = options.sStdout.empty() ? outPipe[1] : open(options.sStdout.c_str(), O_WRONLY | O_CREAT, 0600);
        dup2(nIn, 0);
        dup2(nOut, 1);
        dup2(errPipe[1], 2);
        for (int fd : {inPipe[0], inPipe[1], outPipe[0], outPipe[1], errPipe[0], errPipe[1], nIn, nOut}) {
            if (fd > 2) close(fd);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (inPipe[0] >= 0) close(inPipe[0]);
    nStdin_ = inPipe[1];
    close(outPipe[1]);
    close(errPipe[1]);
    fds_[0] = options.bCloseStdout ? -1 : outPipe[0];
    fds_[1] = errPipe[0];
    nDeadline_ = nowMs() + options.nTimeoutSeconds * 1000LL;
}

ExampleProcess::~ExampleProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {nStdin_, fds_[0], fds_[1]}) {
        if (fd >= 0) close(fd);
    }
}

bool ExampleProcess::pump(int nWaitMs) {
    pollfd fds[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    if (fds_[0] < 0 && fds_[1] < 0) return false;
    if (poll(fds, 2, nWaitMs) < 0) return true;
    std::string* sinks[2] = {&result_.sOut, &result_.sErr};
    for (int i = 0; i < 2; ++i) {
        if (fds_[i] < 0 || fds[i].revents == 0) continue;
        char sChunk[4096];
        ssize_t n = read(fds_[i], sChunk, sizeof(sChunk));
        if (n > 0) {
            sinks[i]->append(sChunk, static_cast<size_t>(n));
        } else {
            close(fds_[i]);
            fds_[i] = -1;
        }
    }
    return true;
}

bool ExampleProcess::readOutUntil(const std::string& sNeedle) {
    while (result_.sOut.find(sNeedle) == std::string::npos) {
        if (nowMs() >= nDeadline_ || !pump(100)) return result_.sOut.find(sNeedle) != std::string::npos;
    }
    return true;
}

void ExampleProcess::writeStdin(const std::string& sBytes) {
    if (nStdin_ < 0 || write(nStdin_, sBytes.data(), sBytes.size()) != static_cast<ssize_t>(sBytes.size())) {
        result_.sErr += "[test: standard input could not be written]";
    }
}

void ExampleProcess::signal(int nSignal) {
    if (pid_ > 0) kill(pid_, nSignal);
}

RunResult ExampleProcess::finish() {
    while (true) {
        long long nLeft = nDeadline_ - nowMs();
        if (nLeft <= 0) {
            result_.bTimedOut = true;
            kill(pid_, SIGKILL);
            break;
        }
        if (!pump(static_cast<int>(nLeft < 100 ? nLeft : 100))) break;
    }
    int nStatus = 0;
    if (pid_ > 0) waitpid(pid_, &nStatus, 0);
    pid_ = -1;
    if (WIFEXITED(nStatus)) result_.nExitStatus = WEXITSTATUS(nStatus);
    result_.trace = readLines(sTrace_);
    return result_;
}

RunResult runExample(const RunOptions& options) { return ExampleProcess(options).finish(); }

RunResult runAloneIn(const TempDir& dir, const std::string& sExecutable) {
    RunOptions options;
    options.sExecutable = dir.file(sExecutable.substr(sExecutable.rfind('/') + 1));
    if (system(("cp '" + sExecutable + "' '" + options.sExecutable + "'").c_str()) != 0) return RunResult();
    return runExample(options);
}
