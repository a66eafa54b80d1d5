// The driver's system paths and its network enumeration.
#include "system_info.h"

#include <stdio.h>

#include "kivo_api.h"

namespace {
constexpr size_t kPathSize = 256;
constexpr uint32_t kEnumerationSize = 10000;
}  // namespace

extern "C" {

const ApiPathEntry sApiPathTable[5] = {
    {0, "config"}, {1, "log"}, {2, "systemxml"}, {3, "testresults"}, {4, "backup"},
};

int32_t GetApiPath(int32_t nKey, char* sBuffer, uint32_t nSize) {
    const ApiPathEntry* pEntry = nullptr;
    for (const ApiPathEntry& entry : sApiPathTable) {
        if (entry.nKey == nKey) {
            pEntry = &entry;
            break;
        }
    }
    if (pEntry == nullptr) return ResultPathNotFound;

    char sPath[kPathSize] = {0};
    snprintf(sPath, sizeof(sPath), "System/%s", pEntry->sNode);
    uint32_t nLength = 0;
    int32_t nResult = KiVoGetParamStruct_strLEN(sPath, "Path", &nLength);
    CheckError(nResult);
    if (nResult != 0) return ResultPathNotFound;
    // The text and its terminator must fit; nLength + 1 cannot wrap once it is below nSize.
    if (nLength >= nSize) return ResultBufferTooSmall;
    CheckError(KiVoGetParamStruct_str(sPath, "Path", sBuffer, nLength + 1));
    return 0;
}

int32_t ListNetworkInterfaces(void) {
    // Zero-filled, with one byte more than the driver is told: the printer always gets a
    // terminated text, an empty one when the driver wrote nothing.
    static_assert(kEnumerationSize == 10000, "the driver is told 10000 bytes");
    char sEnumeration[kEnumerationSize + 1] = {0};
    CheckError(KiVoGetParamStruct_str("quenoetapi", "Network/Enumerate", sEnumeration, kEnumerationSize));
    return DumpXmlTree(sEnumeration);
}

}  // extern "C"
