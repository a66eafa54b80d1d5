/* A user's own program on the installed library: binds the driver, lists the boards, unloads. */
#include <stdio.h>

#include <queno/board_queries.h>
#include <queno/kivo_api.h>

int main(void) {
    int32_t nBoards = 0;
    int32_t nBoardId;
    if (LoadQuenoApi() != 0) return 1;
    CheckError(KiVoDriverInit(&nBoards));
    for (nBoardId = 0; nBoardId < nBoards; ++nBoardId) {
        char sName[257] = {0};
        QUENO_GetBoardName(nBoardId, sName, sizeof(sName) - 1);
        printf("board %d: %s\n", (int)nBoardId, sName);
    }
    return UnloadQuenoApi(NULL);
}
