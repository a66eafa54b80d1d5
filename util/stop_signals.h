/*
 * How the run learns that it is asked to stop: SIGINT, SIGTERM and SIGHUP (Ctrl-C, kill, a closed
 * ssh session, a service manager) only set a flag, and the run polls it where it tests for a key,
 * so every stop goes through the same end as a key: stop, close, unload.
 */
#ifndef QUENO_STOP_SIGNALS_H
#define QUENO_STOP_SIGNALS_H

#ifdef __cplusplus
extern "C" {
#endif

/* Installs the handlers, keeps a copy of the terminal's attributes for an emergency restore, and
 * ignores SIGPIPE so that a reader that went away shows as a write error instead of killing the
 * process before the driver is stopped. A second signal of a kind already received restores the
 * terminal and ends the process at once with status 128 + signal. */
void InstallStopSignals(void);
/* The first stop signal received, or 0. */
int StopSignalReceived(void);

/* For a program with threads: the stop signals belong to the main thread. Called there before any
 * thread starts, so that every thread started later (a driver's, a library's, the program's own)
 * is born with them blocked; the main thread then takes them only while it waits in
 * SleepUntilStopSignal. */
void BlockStopSignals(void);
/* Sleeps nMs milliseconds; a stop signal ends it at once. Without the signal thread below, the
 * stop signals are unblocked for the wait alone. */
void SleepUntilStopSignal(int nMs);

/* For a program with threads that must take a stop at any moment (during a broker's first connect,
 * a board setup, a stall), not only while its main thread sleeps: blocks the stop signals in the
 * calling thread, before any other thread starts, and starts one thread that takes them with
 * sigwait. It sets the flag StopSignalReceived reads and makes StopSignalDescriptor readable, which
 * wakes every wait that polls it; a second signal of a kind already received restores the terminal
 * and ends the process with status 128 + signal. Signals the caller ignored stay ignored. Returns 0,
 * or -1 when the thread could not be started (the stop signals are then taken as
 * InstallStopSignals takes them). */
int StartStopSignalThread(void);
/* A descriptor that becomes readable, and stays so, once a stop signal was taken by the signal
 * thread; -1 without that thread. For poll loops that must end at a stop. */
int StopSignalDescriptor(void);

/* Under a service manager SIGHUP asks for a reload (systemctl reload), not a stop: from this call
 * on, the signal thread counts each SIGHUP instead of taking it as a stop. Needs the signal thread. */
void TakeHangupAsReload(void);
/* How many SIGHUPs were counted so far; a run compares it with the count it last acted on, so a
 * storm of them is one reload or a few, never a stop. */
unsigned ReloadRequests(void);

#ifdef __cplusplus
}
#endif

#endif /* QUENO_STOP_SIGNALS_H */
