#include "alarm_hook.h"

#include <errno.h>
#include <math.h>
#include <signal.h>
#include <spawn.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>

#include "program_messages.h"
#include "value_text.h"

extern char** environ;

namespace qlog {

namespace {

// At the end of the run the running hook gets this long before it is killed.
constexpr int64_t kEndGraceMicros = 5000000;

}  // namespace

AlarmHook::AlarmHook(std::string sProgram, const BoardSetup& board, const ScanClock& clock)
    : sProgram_(std::move(sProgram)), board_(board), clock_(clock) {}

AlarmHook::~AlarmHook() { stopThread(); }

bool AlarmHook::begin() {
    thread_ = std::thread([this] { run(); });
    return true;
}

std::vector<std::string> AlarmHook::environmentOf(const AlarmEvent& event) const {
    const LoggedChannel& channel = board_.channels[event.nChannel];
    char sTime[40];
    formatUtcMicros(clock_.micros(event.nScan), sTime, sizeof(sTime));
    std::vector<std::string> environment;
    for (char** p = environ; *p != nullptr; ++p) {
        if (strncmp(*p, "QUENO_ALARM_", 12) != 0) environment.push_back(*p);
    }
    environment.push_back("QUENO_ALARM_CHANNEL=AI" + std::to_string(channel.nChannel));
    environment.push_back(std::string("QUENO_ALARM_STATE=") + alarmStateName(event.state));
    environment.push_back(std::string("QUENO_ALARM_PREVIOUS=") + alarmStateName(event.previous));
    environment.push_back("QUENO_ALARM_SCAN=" + std::to_string(event.nScan));
    environment.push_back(std::string("QUENO_ALARM_TIME=") + sTime);
    environment.push_back("QUENO_ALARM_VALUE=" + (isnan(event.dValue) ? std::string() : textf("%.*f", channel.nDecimals, event.dValue)));
    environment.push_back("QUENO_ALARM_UNIT=" + channel.sUnit);
    environment.push_back("QUENO_BOARD=" + std::to_string(board_.nBoardId));
    environment.push_back("QUENO_SERIAL=" + board_.sSerial);
    return environment;
}

void AlarmHook::alarm(const AlarmEvent& event) {
    std::vector<std::string> environment = environmentOf(event);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (waiting_.size() >= kMaxWaiting) {
            ++nNotRun_;
            return;
        }
        waiting_.push_back(std::move(environment));
    }
    wake_.notify_all();
}

void AlarmHook::run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return bEnding_ || !waiting_.empty(); });
        // At the end no hook starts once the grace is over: the ones waiting are counted.
        if (waiting_.empty() || bEnding_ || monotonicMicros() >= nDeadlineMicros_) break;
        const std::vector<std::string> environment = std::move(waiting_.front());
        waiting_.pop_front();
        bRunning_ = true;
        lock.unlock();
        runOne(environment);
        lock.lock();
        bRunning_ = false;
    }
}

// Runs the program once and waits for it, at most kTimeoutSeconds.
void AlarmHook::runOne(const std::vector<std::string>& environment) {
    std::vector<char*> envp;
    for (const std::string& s : environment) envp.push_back(const_cast<char*>(s.c_str()));
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(sProgram_.c_str()), nullptr};
    // The program starts as any program would: no signal blocked or ignored that this one blocks
    // (the stop signals) or ignores (SIGPIPE).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int nSignal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&defaults, nSignal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t nPid = 0;
    const int nError = posix_spawn(&nPid, sProgram_.c_str(), nullptr, &attributes, argv, envp.data());
    posix_spawnattr_destroy(&attributes);
    std::string sFailure;
    if (nError != 0) {
        sFailure = std::string("could not be started: ") + strerror(nError);
    } else {
        const int64_t nKillAt = monotonicMicros() + static_cast<int64_t>(kTimeoutSeconds) * 1000000;
        int nStatus = 0;
        for (;;) {
            const pid_t nDone = waitpid(nPid, &nStatus, WNOHANG);
            if (nDone == nPid || (nDone < 0 && errno != EINTR)) break;
            int64_t nRunEnds = INT64_MAX;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                nRunEnds = nDeadlineMicros_;
            }
            const int64_t nNow = monotonicMicros();
            if (nNow >= nKillAt || nNow >= nRunEnds) {
                kill(nPid, SIGKILL);
                waitpid(nPid, &nStatus, 0);
                sFailure = nNow >= nKillAt ? "killed after " + std::to_string(kTimeoutSeconds) + " s" : "killed at the end of the run";
                break;
            }
            const timespec pause = {0, 20 * 1000 * 1000};
            nanosleep(&pause, nullptr);
        }
        if (sFailure.empty() && WIFEXITED(nStatus) && WEXITSTATUS(nStatus) != 0) sFailure = "exit status " + std::to_string(WEXITSTATUS(nStatus));
        if (sFailure.empty() && WIFSIGNALED(nStatus)) sFailure = std::string("ended by ") + strsignal(WTERMSIG(nStatus));
    }
    if (sFailure.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (nFailed_++ == 0) say("--on-alarm " + sProgram_ + ": " + sFailure + " (later failures are counted)");
}

void AlarmHook::stopThread() {
    if (!thread_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        bEnding_ = true;
        nDeadlineMicros_ = std::min(nDeadlineMicros_, monotonicMicros() + kEndGraceMicros);
        nNotRun_ += waiting_.size();
        waiting_.clear();
    }
    wake_.notify_all();
    thread_.join();
}

void AlarmHook::end(const RunTotals&) {
    // The last events of the run get their hook, within a grace: then the one running is killed and
    // the ones waiting are counted.
    const int64_t nGiveUp = monotonicMicros() + kEndGraceMicros;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        nDeadlineMicros_ = nGiveUp;
    }
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if ((waiting_.empty() && !bRunning_) || monotonicMicros() >= nGiveUp) break;
        }
        const timespec pause = {0, 20 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    stopThread();
    if (nFailed_ > 1) say("--on-alarm " + sProgram_ + ": " + std::to_string(nFailed_) + " runs failed");
    if (nNotRun_ > 0) say("--on-alarm " + sProgram_ + ": " + std::to_string(nNotRun_) + " events were not handed to it");
}

}  // namespace qlog
