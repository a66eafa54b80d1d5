// Positional and named command-line arguments.
#include "arguments.h"

#include <string.h>

#include "decimal_text.h"

namespace {

constexpr uint32_t kChannelCount = 8;

// A channel is scanned as a signed number into an unsigned variable: "-1" becomes 4294967295.
void scanChannel(const char* sText, uint32_t* pnChannel) {
    int32_t nValue = 0;
    if (ScanDecimal32(sText, &nValue)) *pnChannel = static_cast<uint32_t>(nValue);
}

void scanBoard(const char* sText, int32_t* pnBoardId) {
    int32_t nValue = 0;
    if (ScanDecimal32(sText, &nValue)) *pnBoardId = nValue;
}

// Boards are counted from 0: a negative id names no board and would reach the driver as one.
bool usableBoard(int32_t nBoardId, int32_t nBoardCount) { return nBoardId >= 0 && nBoardId < nBoardCount; }

bool startsWith(const char* sArgument, const char* sPrefix) {
    return sArgument != nullptr && strncmp(sArgument, sPrefix, strlen(sPrefix)) == 0;
}

}  // namespace

extern "C" {

int ARG_GetBoardId(int argc, char** argv, int32_t nBoardCount, int32_t* pnBoardId) {
    if (argc <= 1) {
        *pnBoardId = 0;
        return 1;
    }
    scanBoard(argv[1], pnBoardId);
    return usableBoard(*pnBoardId, nBoardCount) ? 1 : 0;
}

int ARG_GetBoardIdEX(int argc, char** argv, int32_t nBoardCount, int32_t* pnBoardId1, int32_t* pnBoardId2) {
    if (argc <= 2) {
        *pnBoardId1 = 0;
        *pnBoardId2 = 1;
        return 1;
    }
    scanBoard(argv[1], pnBoardId1);
    scanBoard(argv[2], pnBoardId2);
    return (usableBoard(*pnBoardId1, nBoardCount) && usableBoard(*pnBoardId2, nBoardCount)) ? 1 : 0;
}

int ARG_GetChannelNo(int argc, char** argv, int32_t /*nBoardCount*/, uint32_t* pnChannelNo) {
    if (argc <= 2) {
        *pnChannelNo = 0;
        return 1;
    }
    scanChannel(argv[2], pnChannelNo);
    return *pnChannelNo < kChannelCount ? 1 : 0;
}

int ARG_GetChannelNoEX(int argc, char** argv, int32_t /*nBoardCount*/, uint32_t* pnChannel1, uint32_t* pnChannel2) {
    if (argc <= 2) {
        *pnChannel1 = 0;
        *pnChannel2 = 1;
        return 1;
    }
    scanChannel(argv[2], pnChannel1);
    if (*pnChannel1 >= kChannelCount) return 0;
    if (argc == 3) {
        *pnChannel2 = 0;
        return 1;
    }
    scanChannel(argv[3], pnChannel2);
    return *pnChannel2 < kChannelCount ? 1 : 0;
}

int ARG_GetOption(int argc, char** argv, const char* sOption, char* sDest, int nDestLen) {
    if (argc <= 1 || sOption == nullptr) return 0;
    for (int i = 1; i < argc; ++i) {
        if (!startsWith(argv[i], sOption)) continue;
        if (i + 1 >= argc || argv[i + 1] == nullptr) return 0;
        if (nDestLen > 0 && sDest != nullptr) {
            // strncpy zero-fills up to the length; the last byte is kept for the terminator.
            strncpy(sDest, argv[i + 1], static_cast<size_t>(nDestLen) - 1);
            sDest[nDestLen - 1] = '\0';
        }
        return 1;
    }
    return 0;
}

int ARG_GetBooleanOption(int argc, char** argv, const char* sOption) {
    if (argc <= 1 || sOption == nullptr) return 0;
    for (int i = 1; i < argc; ++i) {
        if (startsWith(argv[i], sOption)) return 1;
    }
    return 0;
}

}  // extern "C"
