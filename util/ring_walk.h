/*
 * Walking the driver's ring buffer in place.
 *
 *   nBufferEnd - nBufferSize                                   nBufferEnd
 *   | scan | scan | scan | ...                          | scan |
 *     ^ one 32-bit word per used input at the start of each scan, nScanSize bytes apart
 *
 * Positions are addresses in this process held in 64-bit integers. Nothing outside the buffer the
 * driver described is ever read: every scan is checked to lie in [end - size, end) before it is.
 */
#ifndef QUENO_RING_WALK_H
#define QUENO_RING_WALK_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct RingWalk {
    int64_t nBufferEnd;  /* one past the last byte */
    int32_t nBufferSize; /* bytes */
    int32_t nScanSize;   /* bytes from one scan to the next */
    int64_t nReadPos;    /* the next scan to read */
} RingWalk;

/* 1 when nScans scans of nWords 32-bit words each can be walked in the described buffer: positive
 * sizes, a scan that holds the words and fits the buffer, no more scans than it holds, and a
 * buffer that lies in this process's address space. Else 0. */
int RingWalk_Usable(const RingWalk* pWalk, int32_t nScans, int32_t nWords);

/* One step: wraps nReadPos at the buffer end (at most once), copies the first nWords words of the
 * scan there into pnWords and advances by one scan. 0, with nothing read, when the scan does not
 * lie wholly inside the buffer. */
int RingWalk_ReadScan(RingWalk* pWalk, int32_t* pnWords, int32_t nWords);

/* Wraps nReadPos at the buffer end (at most once) and answers how many whole scans of nWords words
 * lie between it and the end: a run that can be read in one go. 0 when it lies outside the buffer. */
int32_t RingWalk_ContiguousScans(RingWalk* pWalk, int32_t nWords);

/* nScans scans of such a run: their first nWords words each into pnWords, one after another (one
 * copy when the scans are packed), and advances. 0, with nothing read, when the run does not lie
 * wholly inside the buffer. */
int RingWalk_ReadRun(RingWalk* pWalk, int32_t* pnWords, int32_t nWords, int32_t nScans);

/* Position arithmetic with two's-complement wrap-around, written out so it never overflows. */
int64_t RingWalk_Advance(int64_t nPos, int64_t nBytes);

#ifdef __cplusplus
}
#endif

#endif /* QUENO_RING_WALK_H */
