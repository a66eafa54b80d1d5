// Stop signals: a flag for the run, an emergency exit for the impatient.
#include "stop_signals.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>

namespace {

const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Atomics: the signal thread writes them while other threads read; lock-free, so a handler may
// touch them too.
std::atomic<int> gnStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler needs lock-free atomics");
// Each kind counts on its own: a SIGTERM after a Ctrl-C is still a first request.
std::atomic<int> gbSeen[NSIG] = {};

// Under a service manager SIGHUP asks for a reload: counted, never a stop.
std::atomic<bool> gbHangupReloads{false};
std::atomic<unsigned> gnReloads{0};

// The signal thread's pipe: a byte is written at the first stop and never read, so the read end
// stays readable for every poll from then on.
int gWakePipe[2] = {-1, -1};

termios gTerminalAtStart = {};
volatile sig_atomic_t gbTerminalSaved = 0;

bool inForegroundOfTerminal() {
    pid_t nForeground = tcgetpgrp(STDIN_FILENO);
    return nForeground == -1 || nForeground == getpgrp();
}

// A stop signal taken, from the handler or the signal thread. Only async-signal-safe calls:
// tcgetpgrp, getpgrp, tcsetattr and _exit.
void takeStopSignal(int nSignal) {
    if (nSignal <= 0 || nSignal >= NSIG) return;
    if (gbSeen[nSignal].exchange(1) != 0) {
        if (gbTerminalSaved && inForegroundOfTerminal()) tcsetattr(STDIN_FILENO, TCSANOW, &gTerminalAtStart);
        _exit(128 + nSignal);
    }
    int nNone = 0;
    gnStopSignal.compare_exchange_strong(nNone, nSignal);
}

void onStopSignal(int nSignal) { takeStopSignal(nSignal); }

sigset_t stopSet() {
    sigset_t stops;
    sigemptyset(&stops);
    for (int nSignal : kStopSignals) sigaddset(&stops, nSignal);
    return stops;
}

void* takeStopSignals(void*) {
    const sigset_t stops = stopSet();
    for (;;) {
        int nSignal = 0;
        if (sigwait(&stops, &nSignal) != 0) continue;
        if (nSignal == SIGHUP && gbHangupReloads.load()) {
            gnReloads.fetch_add(1);
            continue;
        }
        takeStopSignal(nSignal);
        const char cByte = 's';
        while (write(gWakePipe[1], &cByte, 1) < 0 && errno == EINTR) {
        }
    }
    return nullptr;
}

}  // namespace

extern "C" {

void InstallStopSignals(void) {
    if (tcgetattr(STDIN_FILENO, &gTerminalAtStart) == 0 && inForegroundOfTerminal()) gbTerminalSaved = 1;

    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    // Restarted system calls keep a driver's own reads and writes whole; the example's waits (poll,
    // usleep) return early on a signal regardless, so the flag is seen promptly.
    action.sa_flags = SA_RESTART;
    for (int nSignal : kStopSignals) {
        // A signal the caller chose to ignore (nohup, a background job of a plain shell) stays so.
        struct sigaction previous = {};
        if (sigaction(nSignal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        sigaction(nSignal, &action, nullptr);
    }

    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

int StopSignalReceived(void) { return gnStopSignal.load(); }

void BlockStopSignals(void) {
    const sigset_t stops = stopSet();
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
}

int StartStopSignalThread(void) {
    InstallStopSignals();  // the terminal's attributes, SIGPIPE, and the handlers should the thread not start
    BlockStopSignals();
    if (gWakePipe[0] >= 0) return 0;
    if (pipe2(gWakePipe, O_CLOEXEC | O_NONBLOCK) != 0) return -1;
    pthread_t thread;
    if (pthread_create(&thread, nullptr, takeStopSignals, nullptr) != 0) {
        close(gWakePipe[0]);
        close(gWakePipe[1]);
        gWakePipe[0] = gWakePipe[1] = -1;
        return -1;
    }
    pthread_detach(thread);
    return 0;
}

int StopSignalDescriptor(void) { return gWakePipe[0]; }

void TakeHangupAsReload(void) { gbHangupReloads.store(true); }

unsigned ReloadRequests(void) { return gnReloads.load(); }

void SleepUntilStopSignal(int nMs) {
    if (gWakePipe[0] >= 0) {
        pollfd wait = {gWakePipe[0], POLLIN, 0};
        while (poll(&wait, 1, nMs) < 0 && errno == EINTR) {
        }
        return;
    }
    sigset_t during;
    pthread_sigmask(SIG_SETMASK, nullptr, &during);
    for (int nSignal : kStopSignals) sigdelset(&during, nSignal);
    struct timespec wait = {nMs / 1000, (nMs % 1000) * 1000000L};
    pselect(0, nullptr, nullptr, nullptr, &wait, &during);
}

}  // extern "C"
