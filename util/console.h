/*
 * Console and timing helpers for examples that run until a key is pressed.
 */
#ifndef QUENO_CONSOLE_H
#define QUENO_CONSOLE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* 1 when a key is waiting (it stays readable), 0 when none came within about 0.1 s. The key is
 * taken without Enter and without echo; the interrupt key arrives as character 3. */
int kbhit(void);
/* The next key as 0..255, or -1 when none came within about 0.1 s. */
int getch(void);
/* Waits (ms mod 1000) milliseconds, then ms / 1000 seconds; returns the seconds left unslept when
 * a signal cut the second wait short, else 0. */
unsigned int Sleep(uint32_t nMilliseconds);

/* A stopwatch interface without a stopwatch: the operations do nothing, the readings are 0. */
void QUENO_StopWatch_Create(void* pStopWatch);
void QUENO_StopWatch_Destroy(void* pStopWatch);
void QUENO_StopWatch_Start(void* pStopWatch);
void QUENO_StopWatch_Stop(void* pStopWatch);
int64_t QUENO_StopWatch_GetUS(void* pStopWatch);
int64_t QUENO_StopWatch_GetMS(void* pStopWatch);

#ifdef __cplusplus
}
#endif

#endif /* QUENO_CONSOLE_H */
