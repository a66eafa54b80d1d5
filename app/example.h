/*
 * The RTD temperature example: the run's working values and its steps.
 */
#ifndef QUENO_EXAMPLE_H
#define QUENO_EXAMPLE_H

#include <stdint.h>

#include "scaling.h"

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
    /* channel configuration */
    char sAcqPath[RUN_TEXT_SIZE];
    char sChannelPath[RUN_TEXT_SIZE];
    char sExcitation[RUN_TEXT_SIZE];
    char sRange[RUN_TEXT_SIZE];
    char sSensorRes[RUN_TEXT_SIZE];
    char sReadBack[RUN_TEXT_SIZE];
    double dAdjustedRange[2]; /* minimum, maximum as the driver settled them */
    ScaleInfo scaleInfo;
    int32_t nSampleDelay; /* scans the reader keeps back */
    int32_t nScanSize;    /* bytes from one sample of the channel to the next */
    /* acquisition: the driver's ring buffer, positions are addresses in this process */
    int64_t nBufferQuery32;
    int64_t nBufferEnd; /* one past the last byte */
    int32_t nBufferSize; /* bytes */
    int32_t nAvailable;  /* scans of this cycle, after the sample delay */
    int64_t nReadPos;    /* the next sample to read */
    int32_t nBufferReported; /* 1 once an unusable buffer description was reported */
    int32_t nOutputError;    /* errno of the first sample line that could not be written, else 0 */
} RunState;

/* --help, -h and --version anywhere print and return 0; any other argument that begins with "--"
 * is refused with the usage on standard error and returns 2. -1 when the run should go on. */
int HandleInformationArguments(int argc, char** argv);

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
/* Configures the channel for RTD measurement, derives the scaling from the range the driver
 * settled on, applies the settings, prints the information block and reads the sample delay and
 * the scan size. Failures are reported and the configuration goes on. */
void ConfigureRtdChannel(RunState* pRun);
/* Starts the acquisition and prints the start line. On a refused start the driver's text is left
 * in sErrorText and 0 returned. */
int StartAcquisition(RunState* pRun);
/* Polls the ring buffer about every 10 ms and prints every tenth sample of each batch until a key
 * is pressed, a stop signal came, the output failed or the buffer overflowed. */
void RunMeasurement(RunState* pRun);
/* One poll cycle after the key test: wait, read the available scans, print, release. 0 when the
 * buffer overflowed and the measurement must end, else 1. */
int PollCycle(RunState* pRun);
/* One step of the batch walk: wraps nReadPos at the buffer end, reads the sample word there as a
 * raw value and advances by one scan. 0, with nothing read, when the position lies outside the
 * buffer. */
int ReadNextSample(RunState* pRun, int32_t* pnRaw);
/* Stops the acquisition, closes the board and unloads the driver; returns the close result. */
int32_t EndRun(const RunState* pRun);
/* A stop signal before the board was opened: unloads the driver, returns 128 + signal. */
int32_t EndBeforeOpen(void);
/* The process's exit status after EndRun: the close result, except 1 where the measurement's output
 * was lost or a failed close would read as 0 in its low 8 bits. */
int32_t RunExitStatus(RunState* pRun, int32_t nCloseResult);
/* Notes that standard output failed (errno) and says so once on standard error. */
void ReportOutputError(RunState* pRun, int nError);

#ifdef __cplusplus
}
#endif

#endif /* QUENO_EXAMPLE_H */
