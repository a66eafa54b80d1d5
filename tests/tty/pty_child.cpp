#include "pty_child.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

long long nowMs() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace

// Opens the terminal and the two pipes, forks, and in the child makes the terminal its controlling
// terminal and its standard streams. True in the child.
bool PtyChild::fork() {
    if (openpty(&nMaster_, &nSlave_, nullptr, nullptr, nullptr) != 0) abort();
    tcgetattr(nSlave_, &initial_);
    if (pipe(nToTest_) != 0 || pipe(nToChild_) != 0) abort();
    pid_ = ::fork();
    if (pid_ != 0) return false;
    setsid();
    ioctl(nSlave_, TIOCSCTTY, 0);
    dup2(nSlave_, 0);
    dup2(nSlave_, 1);
    dup2(nSlave_, 2);
    close(nMaster_);
    return true;
}

PtyChild PtyChild::run(const std::function<int(PtyChild&)>& body) {
    PtyChild child;
    if (child.fork()) _exit(body(child));
    return child;
}

namespace {

[[noreturn]] void execProgram(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    for (const std::string& s : env) putenv(strdup(s.c_str()));
    std::vector<char*> argv;
    // A cross build's tests start the target program through its emulator, found on the path.
    if (QUENO_TEST_EMULATOR[0] != '\0') argv.push_back(strdup(QUENO_TEST_EMULATOR));
    for (const std::string& s : args) argv.push_back(strdup(s.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
}

}  // namespace

PtyChild PtyChild::exec(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    PtyChild child;
    if (child.fork()) execProgram(args, env);
    child.nProgram_ = child.pid_;
    return child;
}

PtyChild PtyChild::execInBackground(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    int nPid[2];
    if (pipe(nPid) != 0) abort();
    PtyChild child;
    if (child.fork()) {
        pid_t nProgram = ::fork();
        if (nProgram == 0) {
            setpgid(0, 0);
            execProgram(args, env);
        }
        setpgid(nProgram, nProgram);
        if (write(nPid[1], &nProgram, sizeof(nProgram)) != sizeof(nProgram)) _exit(92);
        int nStatus = 0;
        waitpid(nProgram, &nStatus, 0);
        _exit(WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : 93);
    }
    if (read(nPid[0], &child.nProgram_, sizeof(child.nProgram_)) != sizeof(child.nProgram_)) child.nProgram_ = -1;
    close(nPid[0]);
    close(nPid[1]);
    return child;
}

void PtyChild::signal(int nSignal) {
    if (nProgram_ > 0) kill(nProgram_, nSignal);
}

PtyChild::PtyChild(PtyChild&& other) noexcept
    : pid_(other.pid_), nProgram_(other.nProgram_), nMaster_(other.nMaster_), nSlave_(other.nSlave_), initial_(other.initial_) {
    for (int i = 0; i < 2; ++i) {
        nToTest_[i] = other.nToTest_[i];
        nToChild_[i] = other.nToChild_[i];
        other.nToTest_[i] = other.nToChild_[i] = -1;
    }
    other.pid_ = -1;
    other.nMaster_ = other.nSlave_ = -1;
}

PtyChild::~PtyChild() {
    if (nProgram_ > 0 && nProgram_ != pid_) kill(nProgram_, SIGKILL);
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    for (int fd : {nMaster_, nSlave_, nToTest_[0], nToTest_[1], nToChild_[0], nToChild_[1]}) {
        if (fd >= 0) close(fd);
    }
}

void PtyChild::say(const std::string& sMessage) {
    std::string sLine = sMessage + "\n";
    if (write(nToTest_[1], sLine.data(), sLine.size()) < 0) _exit(90);
}

void PtyChild::awaitGo() {
    char c = 0;
    if (read(nToChild_[0], &c, 1) != 1) _exit(91);
}

std::string PtyChild::hear() {
    std::string sLine;
    long long nDeadline = nowMs() + 20000;  // a guard against a hung child, not a measurement
    while (nowMs() < nDeadline) {
        pollfd fd = {nToTest_[0], POLLIN, 0};
        if (poll(&fd, 1, 100) <= 0) continue;
        char c = 0;
        if (read(nToTest_[0], &c, 1) != 1) break;
        if (c == '\n') return sLine;
        sLine += c;
    }
    return sLine;
}

void PtyChild::go() {
    if (write(nToChild_[1], "g", 1) != 1) abort();
}

void PtyChild::type(const std::string& sKeys) {
    if (write(nMaster_, sKeys.data(), sKeys.size()) != static_cast<ssize_t>(sKeys.size())) abort();
}

bool PtyChild::readUntil(const std::string& sNeedle, std::string* pOutput, int nGuardMs) {
    long long nDeadline = nowMs() + nGuardMs;
    while (pOutput->find(sNeedle) == std::string::npos) {
        if (nowMs() >= nDeadline) return false;
        pollfd fd = {nMaster_, POLLIN, 0};
        if (poll(&fd, 1, 100) <= 0) continue;
        char sChunk[4096];
        ssize_t n = read(nMaster_, sChunk, sizeof(sChunk));
        if (n <= 0) return pOutput->find(sNeedle) != std::string::npos;
        pOutput->append(sChunk, static_cast<size_t>(n));
    }
    return true;
}

int PtyChild::wait() {
    int nStatus = 0;
    long long nDeadline = nowMs() + 20000;
    while (true) {
        pid_t nDone = waitpid(pid_, &nStatus, WNOHANG);
        if (nDone == pid_) break;
        if (nowMs() >= nDeadline) return -1;  // the destructor kills it
        // Keep the terminal drained so that a chatty child never blocks on a full terminal.
        pollfd fd = {nMaster_, POLLIN, 0};
        if (poll(&fd, 1, 20) > 0) {
            char sChunk[4096];
            if (read(nMaster_, sChunk, sizeof(sChunk)) < 0) {
            }
        }
    }
    pid_ = -1;
    return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
}

termios PtyChild::currentAttributes() const {
    termios now = {};
    tcgetattr(nSlave_, &now);
    return now;
}
