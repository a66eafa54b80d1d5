// Board information queries. Every QUENO_ function owns its static buffers (zero at start,
// overwritten by each call); paths and queries are cut to 255 characters.
#include "board_queries.h"

#include <stdio.h>
#include <string.h>

#include "decimal_text.h"
#include "kivo_api.h"

namespace {

constexpr size_t kTextSize = 256;
// Room for any 32-bit decimal with its sign and terminator: a cut number text would parse as a
// plainly wrong number (10000000 read as 1000000).
constexpr uint32_t kNumberSize = 16;
constexpr uint32_t kListCountSize = 10000;

// A function's own buffers. The result text has one byte more than the driver is told, so it
// stays terminated whatever the driver wrote.
template <uint32_t nResultSize>
struct QueryBuffers {
    char sPath[kTextSize];
    char sQuery[kTextSize];
    char sResult[nResultSize + 1];
};

using NumberBuffers = QueryBuffers<kNumberSize>;

int32_t parseNumber(const char* sText) {
    int32_t nNumber = 0;
    ScanDecimal32(sText, &nNumber);
    return nNumber;
}

template <uint32_t nResultSize>
int32_t askPropertyNumber(QueryBuffers<nResultSize>& q, const char* sProperty) {
    CheckError(KiVoGetParamStruct_str(q.sPath, sProperty, q.sResult, nResultSize));
    return parseNumber(q.sResult);
}

template <uint32_t nResultSize>
int32_t askXmlNumber(QueryBuffers<nResultSize>& q) {
    CheckError(KiVoGetParamXML_str(q.sPath, q.sQuery, q.sResult, nResultSize));
    return parseNumber(q.sResult);
}

int32_t askXmlText(const char* sPath, const char* sQuery, char* sBuffer, uint32_t nSize) {
    int32_t nResult = KiVoGetParamXML_str(sPath, sQuery, sBuffer, nSize);
    CheckError(nResult);
    return nResult;
}

int32_t channelCount(NumberBuffers& q, int32_t nBoardId, const char* sKind) {
    snprintf(q.sPath, sizeof(q.sPath), "BoardID%d/%s", static_cast<int>(nBoardId), sKind);
    return askPropertyNumber(q, "Channels");
}

int32_t modeCount(NumberBuffers& q, int32_t nBoardId, const char* sKind, int32_t nChannel) {
    snprintf(q.sPath, sizeof(q.sPath), "BoardID%d/BoardProperties", static_cast<int>(nBoardId));
    snprintf(q.sQuery, sizeof(q.sQuery), "count(ChannelProperties/%s%d/Mode)", sKind, static_cast<int>(nChannel));
    return askXmlNumber(q);
}

// Mode indexes count from 0 for the caller and from 1 in the query.
int32_t modeName(NumberBuffers& q, int32_t nBoardId, const char* sKind, int32_t nChannel, int32_t nMode,
                 char* sBuffer, uint32_t nSize) {
    snprintf(q.sPath, sizeof(q.sPath), "BoardID%d/BoardProperties", static_cast<int>(nBoardId));
    snprintf(q.sQuery, sizeof(q.sQuery), "ChannelProperties/%s%d/Mode[%d]/@Mode", sKind, static_cast<int>(nChannel),
             static_cast<int>(nMode) + 1);
    return askXmlText(q.sPath, q.sQuery, sBuffer, nSize);
}

int32_t acqPropNumber(NumberBuffers& q, int32_t nBoardId) {
    snprintf(q.sPath, sizeof(q.sPath), "BoardID%d/BoardProperties/AcquisitionProperties/AcqProp",
             static_cast<int>(nBoardId));
    return askXmlNumber(q);
}

}  // namespace

extern "C" {

int32_t QUENO_GetNrOfChannelsAI(int32_t nBoardId) {
    static NumberBuffers q;
    return channelCount(q, nBoardId, "AI");
}

int32_t QUENO_GetNrOfChannelsCNT(int32_t nBoardId) {
    static NumberBuffers q;
    return channelCount(q, nBoardId, "CNT");
}

int32_t QUENO_GetNrOfChannelsDI(int32_t nBoardId) {
    static NumberBuffers q;
    return channelCount(q, nBoardId, "Discret");
}

int32_t QUENO_GetNrOfChannelsBoardCNT(int32_t nBoardId) {
    static NumberBuffers q;
    return channelCount(q, nBoardId, "BoardCNT");
}

int32_t QUENO_GetNrOfChannelsUART(int32_t nBoardId) {
    static NumberBuffers q;
    return channelCount(q, nBoardId, "UART");
}

int32_t QUENO_AcqProp_GetMinSampleRate(int32_t nBoardId) {
    static NumberBuffers q;
    snprintf(q.sQuery, sizeof(q.sQuery), "%s", "SampleRate/@ProgMin");
    return acqPropNumber(q, nBoardId);
}

int32_t QUENO_AcqProp_GetMaxSampleRate(int32_t nBoardId) {
    static NumberBuffers q;
    snprintf(q.sQuery, sizeof(q.sQuery), "%s", "SampleRate/@ProgMax");
    return acqPropNumber(q, nBoardId);
}

int32_t QUENO_AcqProp_GetNumResolutionAI(int32_t nBoardId) {
    static NumberBuffers q;
    snprintf(q.sPath, sizeof(q.sPath), "BoardID%d/BoardProperties", static_cast<int>(nBoardId));
    snprintf(q.sQuery, sizeof(q.sQuery), "%s",
             "count(AcquisitionProperties/AcqProp/ResolutionAI/*[starts-with(local-name(), 'ID')])");
    return askXmlNumber(q);
}

int32_t QUENO_AcqProp_GetResolutionAI(int32_t nBoardId, int32_t nEntry) {
    static NumberBuffers q;
    snprintf(q.sQuery, sizeof(q.sQuery), "ResolutionAI/ID%d", static_cast<int>(nEntry));
    return acqPropNumber(q, nBoardId);
}

int32_t QUENO_ChanProp_GetNumModesAI(int32_t nBoardId, int32_t nChannel) {
    static NumberBuffers q;
    return modeCount(q, nBoardId, "AI", nChannel);
}

int32_t QUENO_ChanProp_GetNumModesCNT(int32_t nBoardId, int32_t nChannel) {
    static NumberBuffers q;
    return modeCount(q, nBoardId, "CNT", nChannel);
}

int32_t QUENO_ChanProp_GetNumModesDI(int32_t nBoardId, int32_t nChannel) {
    static NumberBuffers q;
    return modeCount(q, nBoardId, "Discret", nChannel);
}

int32_t QUENO_ChanProp_GetNumModesBoardCNT(int32_t nBoardId, int32_t nChannel) {
    static NumberBuffers q;
    return modeCount(q, nBoardId, "BoardCNT", nChannel);
}

int32_t QUENO_ChanProp_GetModeNameAI(int32_t nBoardId, int32_t nChannel, int32_t nMode, char* sBuffer, uint32_t nSize) {
    static NumberBuffers q;
    return modeName(q, nBoardId, "AI", nChannel, nMode, sBuffer, nSize);
}

int32_t QUENO_ChanProp_GetModeNameCNT(int32_t nBoardId, int32_t nChannel, int32_t nMode, char* sBuffer, uint32_t nSize) {
    static NumberBuffers q;
    return modeName(q, nBoardId, "CNT", nChannel, nMode, sBuffer, nSize);
}

int32_t QUENO_ChanProp_GetModeNameDI(int32_t nBoardId, int32_t nChannel, int32_t nMode, char* sBuffer, uint32_t nSize) {
    static NumberBuffers q;
    return modeName(q, nBoardId, "Discret", nChannel, nMode, sBuffer, nSize);
}

int32_t QUENO_ChanProp_GetModeNameBoardCNT(int32_t nBoardId, int32_t nChannel, int32_t nMode, char* sBuffer,
                                           uint32_t nSize) {
    static NumberBuffers q;
    return modeName(q, nBoardId, "BoardCNT", nChannel, nMode, sBuffer, nSize);
}

int32_t QUENO_ChanProp_GetNum(int32_t nBoardId, int32_t nChannel, const char* sKind, const char* sMode,
                              const char* sList) {
    static QueryBuffers<kListCountSize> q;
    snprintf(q.sPath, sizeof(q.sPath), "BoardID%d/BoardProperties", static_cast<int>(nBoardId));
    snprintf(q.sQuery, sizeof(q.sQuery),
             "count(ChannelProperties/%s%d/Mode[@Mode='%s']/%s/*[starts-with(local-name(), 'ID')])", sKind,
             static_cast<int>(nChannel), sMode, sList);
    return askXmlNumber(q);
}

int32_t QUENO_ChanProp_GetEntry(int32_t nBoardId, int32_t nChannel, const char* sKind, const char* sMode,
                                const char* sList, int32_t nEntry, char* sBuffer, uint32_t nSize) {
    static NumberBuffers q;
    snprintf(q.sPath, sizeof(q.sPath), "BoardID%d/BoardProperties", static_cast<int>(nBoardId));
    snprintf(q.sQuery, sizeof(q.sQuery), "ChannelProperties/%s%d/Mode[@Mode='%s']/%s/ID%d", sKind,
             static_cast<int>(nChannel), sMode, sList, static_cast<int>(nEntry));
    return askXmlText(q.sPath, q.sQuery, sBuffer, nSize);
}

int32_t QUENO_GetBoardName(int32_t nBoardId, char* sBuffer, uint32_t nSize) {
    static char sPath[kTextSize];
    snprintf(sPath, sizeof(sPath), "BoardID%d", static_cast<int>(nBoardId));
    int32_t nResult = KiVoGetParamStruct_str(sPath, "BoardName", sBuffer, nSize);
    CheckError(nResult);
    return nResult;
}

double GetMaxARef(int32_t /*nUnused*/, const char* sTargetPath, const char* const* sModels, const double* dValues) {
    char sBoardName[kTextSize + 1] = {0};
    CheckError(KiVoGetParamStruct_str(sTargetPath, "BoardName", sBoardName, kTextSize));
    // A failed read leaves the empty name, which only an empty entry matches.
    for (size_t i = 0; sModels != nullptr && sModels[i] != nullptr; ++i) {
        size_t nCompare = strlen(sModels[i]);
        if (nCompare > kTextSize) nCompare = kTextSize;
        if (strncmp(sBoardName, sModels[i], nCompare) == 0) return dValues[i];
    }
    return 0.0;
}

}  // extern "C"
