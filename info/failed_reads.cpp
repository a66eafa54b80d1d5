// Counts driver reads that fail with an error, or whose answer was cut to fit the buffer (what is
// left of it is not what the board said). The library's queries report a failure through
// CheckError and answer what they could; the tool also needs to know that one failed, for its exit
// status. It puts counting wrappers into the process-wide entry-point table, in front of the
// driver's own entry points.
#include "board_inventory.h"

#include "kivo_api.h"

namespace info {

namespace {

int gnFailedReads = 0;
KiVoGetParamStruct_str_t gpStructRead = nullptr;
KiVoGetParamStruct_strLEN_t gpStructLength = nullptr;
KiVoGetParamXML_str_t gpXmlRead = nullptr;

int32_t counted(int32_t nResult) {
    if (nResult > 0 || nResult == ResultTextTruncated) ++gnFailedReads;
    return nResult;
}

int32_t countingStructRead(const char* sTarget, const char* sProperty, char* sBuffer, uint32_t nSize) {
    return counted(gpStructRead(sTarget, sProperty, sBuffer, nSize));
}
int32_t countingStructLength(const char* sTarget, const char* sProperty, uint32_t* pnLength) {
    return counted(gpStructLength(sTarget, sProperty, pnLength));
}
int32_t countingXmlRead(const char* sBase, const char* sQuery, char* sBuffer, uint32_t nSize) {
    return counted(gpXmlRead(sBase, sQuery, sBuffer, nSize));
}

}  // namespace

void countFailedReads() {
    gpStructRead = KiVoGetParamStruct_str;
    gpStructLength = KiVoGetParamStruct_strLEN;
    gpXmlRead = KiVoGetParamXML_str;
    if (gpStructRead != nullptr) KiVoGetParamStruct_str = countingStructRead;
    if (gpStructLength != nullptr) KiVoGetParamStruct_strLEN = countingStructLength;
    if (gpXmlRead != nullptr) KiVoGetParamXML_str = countingXmlRead;
}

void noteFailedRead() { ++gnFailedReads; }

int failedReads() { return gnFailedReads; }

}  // namespace info
