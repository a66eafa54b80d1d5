/* Checking a board's model against the models an example supports. */
#ifndef QUENO_BOARD_MODEL_H
#define QUENO_BOARD_MODEL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Reads "BoardName" of "BoardID<id>" and matches it against the null-terminated model list, each
 * entry as a prefix of the name. Prints the verdict; 1 when a model matches, else 0. */
int TestBoardType(int32_t nBoardId, const char* const* sModelList);

#ifdef __cplusplus
}
#endif

#endif /* QUENO_BOARD_MODEL_H */
