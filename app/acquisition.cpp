// The measurement: start the acquisition, then poll the driver's ring buffer, print every tenth
// sample of each batch raw and in degrees Celsius, and hand the scans back.
//
// Ring buffer layout, as the driver describes it:
//
//   nBufferEnd - nBufferSize                                   nBufferEnd
//   | scan | scan | scan | ...                          | scan |
//     ^ 32-bit word of the channel at the start of each scan, nScanSize bytes apart
//
// A sample word holds a 24-bit signed value in its upper three bytes; raw = word / 256 (rounded
// toward zero), and degrees Celsius = raw * scale - offset.
#include <errno.h>
#include <math.h>
#include <stdio.h>

#include "console.h"
#include "example.h"
#include "kivo_api.h"
#include "ring_walk.h"
#include "run_text.h"
#include "scaling.h"
#include "stop_signals.h"

namespace {

constexpr uint32_t kPollWaitMs = 10;
constexpr int32_t kPrintEvery = 10;
constexpr int kSampleResolution = 24;
constexpr int kSampleShift = 8;

// Signed arithmetic with two's-complement wrap-around, written out so that it never overflows.
int32_t sub32(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
int32_t mul32(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b)); }

// The run's view of the driver's buffer, for the library's ring walk.
RingWalk walkOf(const RunState* pRun) {
    return RingWalk{pRun->nBufferEnd, pRun->nBufferSize, pRun->nScanSize, pRun->nReadPos};
}

void reportUnusableBuffer(RunState* pRun) {
    if (pRun->nBufferReported) return;
    pRun->nBufferReported = 1;
    fprintf(stderr,
            "\nError: the ring buffer the driver describes cannot be read safely (buffer size %d, scan size %d, "
            "or a position outside the buffer); its samples are skipped\n",
            static_cast<int>(pRun->nBufferSize), static_cast<int>(pRun->nScanSize));
    fflush(stderr);
}

// A stop signal or lost output ends the measurement like a key.
bool endRequested(const RunState* pRun) { return StopSignalReceived() != 0 || pRun->nOutputError != 0; }

}  // namespace

extern "C" {

int ReadNextSample(RunState* pRun, int32_t* pnRaw) {
    RingWalk walk = walkOf(pRun);
    int32_t nWord = 0;
    if (!RingWalk_ReadScan(&walk, &nWord, 1)) return 0;
    pRun->nReadPos = walk.nReadPos;
    *pnRaw = formatRawData(nWord, kSampleResolution, kSampleShift);
    return 1;
}

int StartAcquisition(RunState* pRun) {
    int32_t nResult = KiVoSetParam_i32(pRun->nBoardId, ParamStartAcq, 0);
    if (nResult != 0) {
        // A warning refuses the start as well. The driver's text is the whole message.
        const char* sText = KiVoErrorConstantToString(nResult);
        if (sText != nullptr) {
            FormatRunText(pRun->sErrorText, sizeof(pRun->sErrorText), "%s", sText);
        } else {
            FormatRunText(pRun->sErrorText, sizeof(pRun->sErrorText), "driver result %d", static_cast<int>(nResult));
        }
        return 0;
    }
    printf("\nMeasurement started on %s/AI%d ..\n\n\n", pRun->sBoardPath, static_cast<int>(pRun->nChannelNo));
    CheckError(KiVoGetParam_i64(pRun->nBoardId, ParamBufferQuery32, &pRun->nBufferQuery32));
    CheckError(KiVoGetParam_i64(pRun->nBoardId, ParamBufferEnd, &pRun->nBufferEnd));
    CheckError(KiVoGetParam_i32(pRun->nBoardId, ParamBufferSize, &pRun->nBufferSize));
    return 1;
}

int PollCycle(RunState* pRun) {
    pRun->nAvailable = 0;
    pRun->nReadPos = 0;
    Sleep(kPollWaitMs);

    int32_t nResult = KiVoGetParam_i32(pRun->nBoardId, ParamAvailableSamples, &pRun->nAvailable);
    CheckError(nResult);
    if (nResult == ResultBufferOverflow) {
        printf("Measurement Buffer Overflow happened - stopping measurement\n");
        return 0;
    }

    // The driver keeps the last nSampleDelay scans back; they were shown in the cycle before.
    pRun->nAvailable = sub32(pRun->nAvailable, pRun->nSampleDelay);
    if (pRun->nAvailable <= 0) return 1;

    CheckError(KiVoGetParam_i64(pRun->nBoardId, ParamReadPosition, &pRun->nReadPos));
    pRun->nReadPos = RingWalk_Advance(pRun->nReadPos, mul32(pRun->nSampleDelay, pRun->nScanSize));

    // Nothing outside the buffer is ever touched. A cycle that cannot be read is skipped, and the
    // scans it did not read are not released.
    RingWalk walk = walkOf(pRun);
    if (!RingWalk_Usable(&walk, pRun->nAvailable, 1)) {
        reportUnusableBuffer(pRun);
        return 1;
    }
    for (int32_t i = 0; i < pRun->nAvailable; ++i) {
        int32_t nRaw = 0;
        if (!ReadNextSample(pRun, &nRaw)) {
            reportUnusableBuffer(pRun);
            return 1;
        }
        if (i % kPrintEvery == 0 && pRun->nOutputError == 0) {
            double dScaled = ScaleSample(&pRun->scaleInfo, static_cast<double>(nRaw));
            printf("\rRaw: %8.8x --> Scaled: %4.3f[degC]", static_cast<unsigned>(nRaw), dScaled);
            // A reader that went away or a full disk: the batch is still released, then the run ends.
            if (fflush(stdout) != 0 || ferror(stdout)) ReportOutputError(pRun, errno);
        }
    }

    CheckError(KiVoSetParam_i32(pRun->nBoardId, ParamReleaseSamples, pRun->nAvailable));
    return 1;
}

void RunMeasurement(RunState* pRun) {
    // A key ends the measurement; it stays unread in the input. A signal that cut the key test's
    // wait short is seen before another cycle starts.
    while (!endRequested(pRun) && !kbhit() && !endRequested(pRun)) {
        if (!PollCycle(pRun)) return;
    }
}

}  // extern "C"
