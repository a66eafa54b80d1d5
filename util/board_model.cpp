// The model check: is the selected board one of the models this example supports?
#include "board_model.h"

#include <stdio.h>
#include <string.h>

#include "kivo_api.h"

namespace {
constexpr size_t kTextSize = 256;
}

extern "C" int TestBoardType(int32_t nBoardId, const char* const* sModelList) {
    char sPath[kTextSize] = {0};
    // One byte more than the driver is told, so the name stays terminated whatever the driver wrote.
    char sBoardName[kTextSize + 1] = {0};
    snprintf(sPath, sizeof(sPath), "BoardID%d", static_cast<int>(nBoardId));

    int32_t nResult = KiVoGetParamStruct_str(sPath, "BoardName", sBoardName, kTextSize);
    if (nResult != 0) {
        CheckError(nResult);
        return 0;
    }

    for (const char* const* pEntry = sModelList; pEntry != nullptr && *pEntry != nullptr; ++pEntry) {
        size_t nCompare = strlen(*pEntry);
        if (nCompare > kTextSize) nCompare = kTextSize;
        if (strncmp(sBoardName, *pEntry, nCompare) == 0) {
            fprintf(stderr, "Found a %s board with BoardID %d\n", sBoardName, static_cast<int>(nBoardId));
            fflush(stderr);
            return 1;
        }
    }

    fprintf(stderr,
            "BoardID %d (Boardname: %s) is not any of the required boards.\n"
            "List of possible boards for this example:\n",
            static_cast<int>(nBoardId), sBoardName);
    fflush(stderr);
    for (const char* const* pEntry = sModelList; pEntry != nullptr && *pEntry != nullptr; ++pEntry) {
        printf("  %s\n", *pEntry);
    }
    return 0;
}
