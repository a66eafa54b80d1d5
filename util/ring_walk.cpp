// The ring walk the example and the logger share: wrap at the end, read in place, never outside.
#include "ring_walk.h"

#include <string.h>

extern "C" {

int64_t RingWalk_Advance(int64_t nPos, int64_t nBytes) {
    return static_cast<int64_t>(static_cast<uint64_t>(nPos) + static_cast<uint64_t>(nBytes));
}

int RingWalk_Usable(const RingWalk* pWalk, int32_t nScans, int32_t nWords) {
    if (nWords < 1 || pWalk->nBufferSize < 4 || pWalk->nScanSize < 4) return 0;
    if (static_cast<int64_t>(nWords) * 4 > pWalk->nScanSize || pWalk->nScanSize > pWalk->nBufferSize) return 0;
    // More scans than the buffer holds would walk the same slots again: the count is nonsense.
    if (static_cast<int64_t>(nScans) * pWalk->nScanSize > pWalk->nBufferSize) return 0;
    int64_t nBegin = RingWalk_Advance(pWalk->nBufferEnd, -static_cast<int64_t>(pWalk->nBufferSize));
    if (nBegin <= 0 || nBegin > pWalk->nBufferEnd) return 0;
    return static_cast<uint64_t>(pWalk->nBufferEnd) <= UINTPTR_MAX;
}

int RingWalk_ReadScan(RingWalk* pWalk, int32_t* pnWords, int32_t nWords) {
    if (pWalk->nReadPos >= pWalk->nBufferEnd) {
        pWalk->nReadPos = RingWalk_Advance(pWalk->nReadPos, -static_cast<int64_t>(pWalk->nBufferSize));
    }
    const int64_t nBytes = static_cast<int64_t>(nWords) * 4;
    const int64_t nBegin = RingWalk_Advance(pWalk->nBufferEnd, -static_cast<int64_t>(pWalk->nBufferSize));
    if (nWords < 1 || pWalk->nBufferSize < 4 || pWalk->nReadPos < nBegin ||
        pWalk->nReadPos > RingWalk_Advance(pWalk->nBufferEnd, -nBytes)) {
        return 0;
    }
    memcpy(pnWords, reinterpret_cast<const void*>(static_cast<uintptr_t>(pWalk->nReadPos)),
           static_cast<size_t>(nBytes));
    pWalk->nReadPos = RingWalk_Advance(pWalk->nReadPos, pWalk->nScanSize);
    return 1;
}

int32_t RingWalk_ContiguousScans(RingWalk* pWalk, int32_t nWords) {
    if (nWords < 1 || pWalk->nBufferSize < 4 || pWalk->nScanSize < 4) return 0;
    if (pWalk->nReadPos >= pWalk->nBufferEnd) {
        pWalk->nReadPos = RingWalk_Advance(pWalk->nReadPos, -static_cast<int64_t>(pWalk->nBufferSize));
    }
    const int64_t nBegin = RingWalk_Advance(pWalk->nBufferEnd, -static_cast<int64_t>(pWalk->nBufferSize));
    const int64_t nBytes = static_cast<int64_t>(nWords) * 4;
    if (pWalk->nReadPos < nBegin || pWalk->nReadPos >= pWalk->nBufferEnd) return 0;
    const int64_t nRoom = pWalk->nBufferEnd - pWalk->nReadPos;  // both inside the buffer: no overflow
    if (nRoom < nBytes) return 0;
    const int64_t nScans = (nRoom - nBytes) / pWalk->nScanSize + 1;
    return nScans > INT32_MAX ? INT32_MAX : static_cast<int32_t>(nScans);
}

int RingWalk_ReadRun(RingWalk* pWalk, int32_t* pnWords, int32_t nWords, int32_t nScans) {
    if (nScans < 1 || RingWalk_ContiguousScans(pWalk, nWords) < nScans) return 0;
    const char* pScan = reinterpret_cast<const char*>(static_cast<uintptr_t>(pWalk->nReadPos));
    const size_t nBytes = static_cast<size_t>(nWords) * 4;
    if (static_cast<int64_t>(nBytes) == pWalk->nScanSize) {
        memcpy(pnWords, pScan, nBytes * static_cast<size_t>(nScans));
    } else {
        for (int32_t i = 0; i < nScans; ++i) memcpy(pnWords + static_cast<size_t>(i) * nWords, pScan + static_cast<size_t>(i) * pWalk->nScanSize, nBytes);
    }
    pWalk->nReadPos = RingWalk_Advance(pWalk->nReadPos, static_cast<int64_t>(nScans) * pWalk->nScanSize);
    return 1;
}

}  // extern "C"
