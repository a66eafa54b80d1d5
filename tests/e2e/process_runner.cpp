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

RunResult runExample(const RunOptions& options) {
    RunResult result;
    TempDir dir;
    std::string sTrace = dir.file("trace.log");

    // The child's environment: ours without any QUENO_SIM_ setting, then the test's.
    std::vector<std::string> env;
    for (char** p = environ; *p != nullptr; ++p) {
        if (strncmp(*p, "QUENO_SIM_", 10) != 0) env.emplace_back(*p);
    }
    std::map<std::string, std::string> settings = options.env;
    if (settings.count("QUENO_SIM_TRACE") == 0) settings["QUENO_SIM_TRACE"] = sTrace;
    for (const auto& setting : settings) env.push_back(setting.first + "=" + setting.second);
    std::vector<char*> envp;
    for (std::string& s : env) envp.push_back(&s[0]);
    envp.push_back(nullptr);

    std::vector<std::string> args = {options.sExecutable};
    args.insert(args.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (std::string& s : args) argv.push_back(&s[0]);
    argv.push_back(nullptr);

    int outPipe[2], errPipe[2];
    if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return result;
    pid_t pid = fork();
    if (pid == 0) {
        int nNull = open("/dev/null", O_RDONLY);
        dup2(nNull, 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(outPipe[0]);
        close(errPipe[0]);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);

    long long nDeadline = nowMs() + options.nTimeoutSeconds * 1000LL;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.sOut, &result.sErr};
    int nOpen = 2;
    while (nOpen > 0) {
        long long nLeft = nDeadline - nowMs();
        if (nLeft <= 0) {
            result.bTimedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, 2, static_cast<int>(nLeft)) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char sChunk[4096];
            ssize_t n = read(fds[i].fd, sChunk, sizeof(sChunk));
            if (n > 0) {
                sinks[i]->append(sChunk, static_cast<size_t>(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --nOpen;
            }
        }
    }
    for (pollfd& fd : fds) {
        if (fd.fd >= 0) close(fd.fd);
    }
    int nStatus = 0;
    waitpid(pid, &nStatus, 0);
    if (WIFEXITED(nStatus)) result.nExitStatus = WEXITSTATUS(nStatus);
    result.trace = readLines(settings["QUENO_SIM_TRACE"]);
    return result;
}
