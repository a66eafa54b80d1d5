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

static PtyChild* startChild(PtyChild* pChild, int* pMaster, int* pSlave, int toTest[2], int toChild[2],
                            termios* pInitial) {
    if (openpty(pMaster, pSlave, nullptr, nullptr, nullptr) != 0) return pChild;
    tcgetattr(*pSlave, pInitial);
    if (pipe(toTest) != 0 || pipe(toChild) != 0) return pChild;
    return pChild;
}

PtyChild PtyChild::run(const std::function<int(PtyChild&)>& body) {
    PtyChild child;
    startChild(&child, &child.nMaster_, &child.nSlave_, child.nToTest_, child.nToChild_, &child.initial_);
    child.pid_ = fork();
    if (child.pid_ == 0) {
        setsid();
        ioctl(child.nSlave_, TIOCSCTTY, 0);
        dup2(child.nSlave_, 0);
        dup2(child.nSlave_, 1);
        dup2(child.nSlave_, 2);
        close(child.nMaster_);
        _exit(body(child));
    }
    return child;
}

PtyChild PtyChild::exec(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    PtyChild child;
    startChild(&child, &child.nMaster_, &child.nSlave_, child.nToTest_, child.nToChild_, &child.initial_);
    child.pid_ = fork();
    if (child.pid_ == 0) {
        setsid();
        ioctl(child.nSlave_, TIOCSCTTY, 0);
        dup2(child.nSlave_, 0);
        dup2(child.nSlave_, 1);
        dup2(child.nSlave_, 2);
        close(child.nMaster_);
        for (const std::string& s : env) putenv(strdup(s.c_str()));
        std::vector<char*> argv;
        for (const std::string& s : args) argv.push_back(strdup(s.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return child;
}

PtyChild::~PtyChild() {
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
