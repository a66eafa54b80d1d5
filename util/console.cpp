// Keyboard polling and sleeping on the process's standard input.
#include "console.h"

#include <stdio.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Reads one character with every local mode off and a read time-out of 0.1 s, then puts the
// terminal back as it was. When standard input is no terminal the attribute calls fail without
// effect and this is a plain read of the stream.
int timedRead() {
    termios saved = {};
    tcgetattr(STDIN_FILENO, &saved);
    termios working = saved;
    working.c_lflag = 0;  // no line editing, no echo, no signal keys
    working.c_cc[VTIME] = 1;
    working.c_cc[VMIN] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &working);

    int nChar = getc(stdin);
    // A timed-out read sets the stream's end-of-file flag, and the C library would answer every
    // later read from that flag without asking the terminal again.
    if (nChar == EOF) clearerr(stdin);

    tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return nChar;
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
