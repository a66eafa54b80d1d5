// The frame of the measurement run: driver start-up, board and channel selection, the end.
#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include "arguments.h"
#include "example.h"
#include "kivo_api.h"
#include "run_text.h"
#include "stop_signals.h"

extern "C" {

const char* sBoardNameNeeded[] = {"QUENO-1600-UNIV", nullptr};

void InitDriver(RunState* pRun) {
    CheckError(KiVoDriverInit(&pRun->nBoardCount));
    // Drivers may report the count negated; only its magnitude counts. The magnitude of the most
    // negative count does not fit, so it is taken as the largest one that does.
    if (pRun->nBoardCount < 0) {
        pRun->nBoardCount = pRun->nBoardCount == INT32_MIN ? INT32_MAX : -pRun->nBoardCount;
    }
}

int SelectBoard(int argc, char** argv, RunState* pRun) {
    if (ARG_GetBoardId(argc, argv, pRun->nBoardCount, &pRun->nBoardId) != 1) {
        FormatRunText(pRun->sErrorText, sizeof(pRun->sErrorText), "Invalid BoardId: %u\nNumber of found boards: %u",
                 static_cast<unsigned>(pRun->nBoardId), static_cast<unsigned>(pRun->nBoardCount));
        return 0;
    }
    FormatRunText(pRun->sBoardPath, sizeof(pRun->sBoardPath), "BoardID%d", static_cast<int>(pRun->nBoardId));
    return 1;
}

int SelectChannel(int argc, char** argv, RunState* pRun) {
    if (ARG_GetChannelNo(argc, argv, pRun->nBoardCount, &pRun->nChannelNo) != 1) {
        FormatRunText(pRun->sErrorText, sizeof(pRun->sErrorText), "%s",
                 "Invalid Channel Number: Allowed channel numbers are from [0..7]\n");
        return 0;
    }
    return 1;
}

void OpenBoard(const RunState* pRun) {
    CheckError(KiVoSetParam_i32(pRun->nBoardId, ParamOpenBoard, 0));
    CheckError(KiVoSetParam_i32(pRun->nBoardId, ParamResetBoard, 0));
}

int32_t EndRun(const RunState* pRun) {
    CheckError(KiVoSetParam_i32(pRun->nBoardId, ParamStopAcq, 0));
    int32_t nCloseResult = KiVoSetParam_i32(pRun->nBoardId, ParamCloseBoard, 0);
    CheckError(nCloseResult);
    UnloadQuenoApi("\nEnd Of Example\n");
    return nCloseResult;
}

int32_t EndBeforeOpen(void) {
    UnloadQuenoApi(nullptr);
    return 128 + StopSignalReceived();
}

void ReportOutputError(RunState* pRun, int nError) {
    if (pRun->nOutputError != 0) return;
    pRun->nOutputError = nError != 0 ? nError : EIO;
    fprintf(stderr, "\nError: the measurement cannot be written to standard output (%s) - stopping measurement\n",
            strerror(pRun->nOutputError));
    fflush(stderr);
}

int32_t RunExitStatus(RunState* pRun, int32_t nCloseResult) {
    // Lines still buffered for standard output must reach it too, or the run has lost them.
    if (fflush(stdout) != 0 || ferror(stdout)) ReportOutputError(pRun, errno);
    if (pRun->nOutputError != 0) return 1;
    // The shell sees only the low 8 bits: a failed close must not read as success.
    if (nCloseResult != 0 && (nCloseResult & 0xff) == 0) return 1;
    return nCloseResult;
}

}  // extern "C"
