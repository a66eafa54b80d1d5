/*
 * Board information queries: facts about a board and its channels read from the driver's property
 * tree. Number queries return the number the driver answered (0 when its text holds none) and
 * report a failing driver call through CheckError; text queries write into the caller's buffer and
 * return the driver's result.
 *
 * Each QUENO_ function formats into and parses from static buffers of its own, so it is not
 * reentrant; different functions share nothing.
 */
#ifndef QUENO_BOARD_QUERIES_H
#define QUENO_BOARD_QUERIES_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Channels of a kind: "Channels" of "BoardID<n>/AI", "/CNT", "/Discret", "/BoardCNT", "/UART". */
int32_t QUENO_GetNrOfChannelsAI(int32_t nBoardId);
int32_t QUENO_GetNrOfChannelsCNT(int32_t nBoardId);
int32_t QUENO_GetNrOfChannelsDI(int32_t nBoardId);
int32_t QUENO_GetNrOfChannelsBoardCNT(int32_t nBoardId);
int32_t QUENO_GetNrOfChannelsUART(int32_t nBoardId);

/* The programmable sample-rate limits, the AI resolutions and their count. */
int32_t QUENO_AcqProp_GetMinSampleRate(int32_t nBoardId);
int32_t QUENO_AcqProp_GetMaxSampleRate(int32_t nBoardId);
int32_t QUENO_AcqProp_GetNumResolutionAI(int32_t nBoardId);
int32_t QUENO_AcqProp_GetResolutionAI(int32_t nBoardId, int32_t nEntry);

/* How many modes a channel offers, and the name of mode nMode (0-based). */
int32_t QUENO_ChanProp_GetNumModesAI(int32_t nBoardId, int32_t nChannel);
int32_t QUENO_ChanProp_GetNumModesCNT(int32_t nBoardId, int32_t nChannel);
int32_t QUENO_ChanProp_GetNumModesDI(int32_t nBoardId, int32_t nChannel);
int32_t QUENO_ChanProp_GetNumModesBoardCNT(int32_t nBoardId, int32_t nChannel);
int32_t QUENO_ChanProp_GetModeNameAI(int32_t nBoardId, int32_t nChannel, int32_t nMode, char* sBuffer, uint32_t nSize);
int32_t QUENO_ChanProp_GetModeNameCNT(int32_t nBoardId, int32_t nChannel, int32_t nMode, char* sBuffer, uint32_t nSize);
int32_t QUENO_ChanProp_GetModeNameDI(int32_t nBoardId, int32_t nChannel, int32_t nMode, char* sBuffer, uint32_t nSize);
int32_t QUENO_ChanProp_GetModeNameBoardCNT(int32_t nBoardId, int32_t nChannel, int32_t nMode, char* sBuffer,
                                           uint32_t nSize);

/* The entries ID0, ID1, ... of a property list under a channel mode: their count, and entry nEntry.
 * sKind is "AI", "CNT", "Discret" or "BoardCNT". */
int32_t QUENO_ChanProp_GetNum(int32_t nBoardId, int32_t nChannel, const char* sKind, const char* sMode,
                              const char* sList);
int32_t QUENO_ChanProp_GetEntry(int32_t nBoardId, int32_t nChannel, const char* sKind, const char* sMode,
                                const char* sList, int32_t nEntry, char* sBuffer, uint32_t nSize);

/* "BoardName" of "BoardID<n>". */
int32_t QUENO_GetBoardName(int32_t nBoardId, char* sBuffer, uint32_t nSize);

/* The value of the first model in the null-terminated list that is a prefix of the board's name
 * (read from sTargetPath), 0.0 when none is. The first argument is not used. */
double GetMaxARef(int32_t nUnused, const char* sTargetPath, const char* const* sModels, const double* dValues);

#ifdef __cplusplus
}
#endif

#endif /* QUENO_BOARD_QUERIES_H */
