/*
 * The RTD temperature example: the run's working values and its steps.
 */
#ifndef QUENO_EXAMPLE_H
#define QUENO_EXAMPLE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define RUN_TEXT_SIZE 256

typedef struct RunState {
    int32_t nBoardCount; /* magnitude of the count the driver reported */
    int32_t nBoardId;
    uint32_t nChannelNo;
    char sBoardPath[RUN_TEXT_SIZE];
    char sErrorText[RUN_TEXT_SIZE];
} RunState;

/* Models this example accepts, as prefixes of the board name; ended by a null entry. */
extern const char* sBoardNameNeeded[];

/* Initialises the driver and keeps the magnitude of the board count it reports. */
void InitDriver(RunState* pRun);
/* Board id from the command line; on rejection the message is left in sErrorText and 0 returned. */
int SelectBoard(int argc, char** argv, RunState* pRun);
/* Channel number from the command line; on rejection as SelectBoard. */
int SelectChannel(int argc, char** argv, RunState* pRun);
/* Opens and resets the board; failures are reported and the run goes on. */
void OpenBoard(const RunState* pRun);
/* Stops the acquisition, closes the board and unloads the driver; returns the close result. */
int32_t EndRun(const RunState* pRun);

#ifdef __cplusplus
}
#endif

#endif /* QUENO_EXAMPLE_H */
