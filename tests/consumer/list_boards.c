/* A user's own program on the installed library: binds the driver, lists the boards with the
 * value of a full-scale count in the first one's default range, unloads. The scaling helpers need
 * the maths library: the link shows whether the package's link line names it. */
#include <stdio.h>

#include <queno/board_queries.h>
#include <queno/kivo_api.h>
#include <queno/scaling.h>

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
    {
        ScaleInfo scale;
        CalcScaling(&scale, 24, -10.0, 10.0);
        printf("full scale: %.3f V\n", ScaleSample(&scale, 8388607.0));
    }
    return UnloadQuenoApi(NULL);
}
