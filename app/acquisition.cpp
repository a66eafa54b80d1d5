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
#include <string.h>

#include "console.h"
#include "example.h"
#include "kivo_api.h"
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
int64_t add64(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b)); }
int64_t sub64(int64_t a, int64_t b) { return static_cast<int64_t>(static_cast<uint64_t>(a) - static_cast<uint64_t>(b)); }

// The buffer as the driver described it can be walked: positive sizes, a scan that holds at least
// the channel's word and fits the buffer, no more scans than it holds, and a buffer that lies in
// this process's address space.
bool usableGeometry(const RunState* pRun) {
    if (pRun->nBufferSize < 4 || pRun->nScanSize < 4 || pRun->nScanSize > pRun->nBufferSize) return false;
    // More scans than the buffer holds would walk the same slots again: the count is nonsense.
    if (static_cast<int64_t>(pRun->nAvailable) * pRun->nScanSize > pRun->nBufferSize) return false;
    int64_t nBegin = sub64(pRun->nBufferEnd, pRun->nBufferSize);
    if (nBegin <= 0 || nBegin > pRun->nBufferEnd) return false;
    return static_cast<uint64_t>(pRun->nBufferEnd) <= UINTPTR_MAX;
}

// True when the whole 32-bit word at nPos lies in [end - size, end - 4].
bool insideBuffer(const RunState* pRun, int64_t nPos) {
    return pRun->nBufferSize >= 4 && nPos >= sub64(pRun->nBufferEnd, pRun->nBufferSize) &&
           nPos <= sub64(pRun->nBufferEnd, 4);
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

int32_t readWord(int64_t nPos) {
    int32_t nWord = 0;
    memcpy(&nWord, reinterpret_cast<const void*>(static_cast<uintptr_t>(nPos)), sizeof(nWord));
    return nWord;
}

// A stop signal or lost output ends the measurement like a key.
bool endRequested(const RunState* pRun) { return StopSignalReceived() != 0 || pRun->nOutputError != 0; }

}  // namespace

extern "C" {

int ReadNextSample(RunState* pRun, int32_t* pnRaw) {
    if (pRun->nReadPos >= pRun->nBufferEnd) pRun->nReadPos = sub64(pRun->nReadPos, pRun->nBufferSize);
    if (!insideBuffer(pRun, pRun->nReadPos)) return 0;
    *pnRaw = formatRawData(readWord(pRun->nReadPos), kSampleResolution, kSampleShift);
    pRun->nReadPos = add64(pRun->nReadPos, pRun->nScanSize);
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
    pRun->nReadPos = add64(pRun->nReadPos, mul32(pRun->nSampleDelay, pRun->nScanSize));

    // Nothing outside the buffer is ever touched. A cycle that cannot be read is skipped, and the
    // scans it did not read are not released.
    if (!usableGeometry(pRun)) {
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
            double dScaled = fma(static_cast<double>(nRaw), pRun->scaleInfo.scale, -pRun->scaleInfo.offset);
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
