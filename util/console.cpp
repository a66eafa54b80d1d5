// Keyboard polling and sleeping on the process's standard input.
//
// The key test must never hold up a measurement for long, whatever standard input is: a terminal
// in the foreground, a terminal this process is in the background of, a pipe that stays open, a
// file, /dev/null or a closed descriptor. Every wait for input is a poll of at most 0.1 s.
#include "console.h"

#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

namespace {

constexpr int kReadTimeoutMs = 100;

// True when the standard-input stream already holds bytes (read ahead, or pushed back by kbhit),
// so the next getc returns at once without asking the descriptor.
bool streamHoldsInput() {
#ifdef __GLIBC__
    return stdin->_IO_read_ptr < stdin->_IO_read_end;
#else
    return false;
#endif
}

// Waits up to the read time-out for descriptor 0 to become readable. End of input, a hang-up and
// a descriptor that is not open count as readable: the read that follows reports them at once.
bool inputArrives() {
    pollfd fd = {STDIN_FILENO, POLLIN, 0};
    int nReady = poll(&fd, 1, kReadTimeoutMs);
    return nReady > 0 && (fd.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
}

// A process in the background of its terminal must neither read it nor change its attributes:
// either would stop it. Only a terminal whose foreground group is known to be another one counts;
// a terminal that is not this process's controlling terminal is treated as its own.
bool inBackgroundOfTerminal() {
    pid_t nForeground = tcgetpgrp(STDIN_FILENO);
    return nForeground != -1 && nForeground != getpgrp();
}

void waitReadTimeout() {
    timespec wait = {0, kReadTimeoutMs * 1000000L};
    nanosleep(&wait, nullptr);  // a signal may cut it short; that is fine
}

// One character from the stream if it comes within the time-out, else EOF. A timed-out or failed
// read sets the stream's end-of-file or error flag, which the C library would otherwise answer
// every later read from without asking the descriptor again.
int readStreamWithin() {
    int nChar = streamHoldsInput() || inputArrives() ? getc(stdin) : EOF;
    if (nChar == EOF) clearerr(stdin);
    return nChar;
}

// On a terminal in the foreground: one character with every local mode off and a read time-out
// of 0.1 s, then the terminal exactly as it was, on every path. The poll before the read bounds
// the wait even if something (a job-control shell, another program) puts the terminal back into
// line mode while this read waits.
int readTerminalWithin(const termios& saved) {
    termios working = saved;
    working.c_lflag = 0;  // no line editing, no echo, no signal keys
    working.c_cc[VTIME] = 1;
    working.c_cc[VMIN] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &working);
    int nChar = readStreamWithin();
    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return nChar;
}

int timedRead() {
    termios saved = {};
    if (tcgetattr(STDIN_FILENO, &saved) != 0) return readStreamWithin();  // a pipe, a file, ...
    if (inBackgroundOfTerminal()) {
        if (streamHoldsInput()) return getc(stdin);
        waitReadTimeout();
        return EOF;
    }
    return readTerminalWithin(saved);
}

}  // namespace

extern "C" {

int kbhit(void) {
    int nChar = timedRead();
    if (nChar == EOF) return 0;
    ungetc(nChar, stdin);
    return 1;
}

int getch(void) { return timedRead(); }

unsigned int Sleep(uint32_t nMilliseconds) {
    usleep(static_cast<useconds_t>((nMilliseconds % 1000u) * 1000u));
    return sleep(nMilliseconds / 1000u);
}

void QUENO_StopWatch_Create(void* /*pStopWatch*/) {}
void QUENO_StopWatch_Destroy(void* /*pStopWatch*/) {}
void QUENO_StopWatch_Start(void* /*pStopWatch*/) {}
void QUENO_StopWatch_Stop(void* /*pStopWatch*/) {}
int64_t QUENO_StopWatch_GetUS(void* /*pStopWatch*/) { return 0; }
int64_t QUENO_StopWatch_GetMS(void* /*pStopWatch*/) { return 0; }

}  // extern "C"
