/*
 * Command-line helpers: board id and channel number as positional arguments, named options.
 * Board id is argument 1 and channel argument 2 (the EX variants read two of each). None of them
 * prints; each answers 1 for valid or found and 0 otherwise.
 */
#ifndef QUENO_ARGUMENTS_H
#define QUENO_ARGUMENTS_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Board id from argument 1, 0 when absent; valid from 0 to below the board count. */
int ARG_GetBoardId(int argc, char** argv, int32_t nBoardCount, int32_t* pnBoardId);
/* Board ids from arguments 1 and 2, 0 and 1 when fewer than two are given; valid as above. */
int ARG_GetBoardIdEX(int argc, char** argv, int32_t nBoardCount, int32_t* pnBoardId1, int32_t* pnBoardId2);
/* Channel from argument 2, 0 when absent; valid for 0..7. The board count is not used. */
int ARG_GetChannelNo(int argc, char** argv, int32_t nBoardCount, uint32_t* pnChannelNo);
/* Channels from arguments 2 and 3, 0 and 1 when absent (second 0 when only one is given). */
int ARG_GetChannelNoEX(int argc, char** argv, int32_t nBoardCount, uint32_t* pnChannel1, uint32_t* pnChannel2);
/* Copies the argument following the first one that begins with sOption into sDest. The copy is
 * always terminated within nDestLen bytes and zero-filled up to it; nDestLen <= 0 writes nothing. */
int ARG_GetOption(int argc, char** argv, const char* sOption, char* sDest, int nDestLen);
/* 1 when an argument begins with sOption. */
int ARG_GetBooleanOption(int argc, char** argv, const char* sOption);

#ifdef __cplusplus
}
#endif

#endif /* QUENO_ARGUMENTS_H */
