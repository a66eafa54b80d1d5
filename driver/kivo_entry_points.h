/*
 * The driver's entry points: their function types and the list of all 39 in binding order.
 *
 * KIVO_ENTRY_POINTS(X) expands X(name, result type, parameter list, argument names, class) once per
 * entry point, in the order in which the loader binds them. The class is MANDATORY or STAGE1 to
 * STAGE5: a missing optional entry point ends the load at the level of its stage.
 */
#ifndef KIVO_ENTRY_POINTS_H
#define KIVO_ENTRY_POINTS_H

#include <stdint.h>

/* clang-format off */
#define KIVO_ENTRY_POINTS(X) \
    X(KiVoDriverInit, int32_t, (int32_t* pnBoardCount), (pnBoardCount), MANDATORY) \
    X(KiVoDriverDeInit, int32_t, (void), (), MANDATORY) \
    X(KiVoGetParam_i32, int32_t, (int32_t nBoardId, int32_t nCommand, int32_t* pnValue), (nBoardId, nCommand, pnValue), MANDATORY) \
    X(KiVoSetParam_i32, int32_t, (int32_t nBoardId, int32_t nCommand, int32_t nValue), (nBoardId, nCommand, nValue), MANDATORY) \
    X(KiVoGetParam_i64, int32_t, (int32_t nBoardId, int32_t nCommand, int64_t* pnValue), (nBoardId, nCommand, pnValue), MANDATORY) \
    X(KiVoSetParam_i64, int32_t, (int32_t nBoardId, int32_t nCommand, int64_t nValue), (nBoardId, nCommand, nValue), MANDATORY) \
    X(KiVoSetParamStruct_str, int32_t, (const char* sTarget, const char* sProperty, const char* sValue), (sTarget, sProperty, sValue), MANDATORY) \
    X(KiVoGetParamStruct_str, int32_t, (const char* sTarget, const char* sProperty, char* sBuffer, uint32_t nBufferSize), (sTarget, sProperty, sBuffer, nBufferSize), MANDATORY) \
    X(KiVoGetParamStruct_strLEN, int32_t, (const char* sTarget, const char* sProperty, uint32_t* pnLength), (sTarget, sProperty, pnLength), MANDATORY) \
    X(KiVoSetParamXML_str, int32_t, (const char* sBase, const char* sQuery, const char* sValue), (sBase, sQuery, sValue), MANDATORY) \
    X(KiVoGetParamXML_str, int32_t, (const char* sBase, const char* sQuery, char* sBuffer, uint32_t nBufferSize), (sBase, sQuery, sBuffer, nBufferSize), MANDATORY) \
    X(KiVoOpenCAN, int32_t, (int32_t nBoardId, int32_t nChannel), (nBoardId, nChannel), MANDATORY) \
    X(KiVoCloseCAN, int32_t, (int32_t nBoardId, int32_t nChannel), (nBoardId, nChannel), MANDATORY) \
    X(KiVoGetChannelPropCAN, int32_t, (int32_t nBoardId, int32_t nChannel, const char* sProperty, char* sBuffer, uint32_t nBufferSize), (nBoardId, nChannel, sProperty, sBuffer, nBufferSize), MANDATORY) \
    X(KiVoSetChannelPropCAN, int32_t, (int32_t nBoardId, int32_t nChannel, const char* sProperty, const char* sValue), (nBoardId, nChannel, sProperty, sValue), MANDATORY) \
    X(KiVoStartCAN, int32_t, (int32_t nBoardId, int32_t nChannel), (nBoardId, nChannel), MANDATORY) \
    X(KiVoStopCAN, int32_t, (int32_t nBoardId, int32_t nChannel), (nBoardId, nChannel), MANDATORY) \
    X(KiVoReadCAN, int32_t, (int32_t nBoardId, int32_t nChannel, void* pFrames, uint32_t nMaxFrames, uint32_t* pnFramesRead), (nBoardId, nChannel, pFrames, nMaxFrames, pnFramesRead), MANDATORY) \
    X(KiVoReadCANRawFrame, int32_t, (int32_t nBoardId, int32_t nChannel, void* pBuffer, uint32_t nBufferSize, uint32_t* pnBytesRead), (nBoardId, nChannel, pBuffer, nBufferSize, pnBytesRead), MANDATORY) \
    X(KiVoWriteCAN, int32_t, (int32_t nBoardId, int32_t nChannel, const void* pFrames, uint32_t nFrames, uint32_t* pnFramesWritten), (nBoardId, nChannel, pFrames, nFrames, pnFramesWritten), MANDATORY) \
    X(KiVoErrorCntCAN, int32_t, (int32_t nBoardId, int32_t nChannel, uint32_t* pnRxErrors, uint32_t* pnTxErrors), (nBoardId, nChannel, pnRxErrors, pnTxErrors), MANDATORY) \
    X(KiVoOpenDmaUart, int32_t, (int32_t nBoardId, int32_t nChannel), (nBoardId, nChannel), MANDATORY) \
    X(KiVoCloseDmaUart, int32_t, (int32_t nBoardId, int32_t nChannel), (nBoardId, nChannel), MANDATORY) \
    X(KiVoGetChannelPropDmaUart, int32_t, (int32_t nBoardId, int32_t nChannel, const char* sProperty, char* sBuffer, uint32_t nBufferSize), (nBoardId, nChannel, sProperty, sBuffer, nBufferSize), MANDATORY) \
    X(KiVoSetChannelPropDmaUart, int32_t, (int32_t nBoardId, int32_t nChannel, const char* sProperty, const char* sValue), (nBoardId, nChannel, sProperty, sValue), MANDATORY) \
    X(KiVoStartDmaUart, int32_t, (int32_t nBoardId, int32_t nChannel), (nBoardId, nChannel), MANDATORY) \
    X(KiVoStopDmaUart, int32_t, (int32_t nBoardId, int32_t nChannel), (nBoardId, nChannel), MANDATORY) \
    X(KiVoReadDmaUart, int32_t, (int32_t nBoardId, int32_t nChannel, void* pBuffer, uint32_t nBufferSize, uint32_t* pnBytesRead), (nBoardId, nChannel, pBuffer, nBufferSize, pnBytesRead), MANDATORY) \
    X(KiVoReadDmaUartRawFrame, int32_t, (int32_t nBoardId, int32_t nChannel, void* pBuffer, uint32_t nBufferSize, uint32_t* pnBytesRead), (nBoardId, nChannel, pBuffer, nBufferSize, pnBytesRead), MANDATORY) \
    X(KiVoWriteDmaUart, int32_t, (int32_t nBoardId, int32_t nChannel, const void* pBuffer, uint32_t nBytes, uint32_t* pnBytesWritten), (nBoardId, nChannel, pBuffer, nBytes, pnBytesWritten), MANDATORY) \
    X(KiVoErrorConstantToString, const char*, (int32_t nResult), (nResult), MANDATORY) \
    X(KiVoGetParamXML_strLEN, int32_t, (const char* sBase, const char* sQuery, uint32_t* pnLength), (sBase, sQuery, pnLength), STAGE1) \
    X(KiVoFreeFramesCAN, int32_t, (int32_t nBoardId, int32_t nChannel, uint32_t nFrames), (nBoardId, nChannel, nFrames), STAGE2) \
    X(KiVoFreeDmaUartRawFrame, int32_t, (int32_t nBoardId, int32_t nChannel, uint32_t nBytes), (nBoardId, nChannel, nBytes), STAGE3) \
    X(KiVoGetParamStructEx_str, int32_t, (const char* sTarget, const char* sProperty, char* sBuffer, uint32_t nBufferSize, uint32_t* pnLength), (sTarget, sProperty, sBuffer, nBufferSize, pnLength), STAGE4) \
    X(KiVoReadCANEx, int32_t, (int32_t nBoardId, int32_t nChannel, void* pFrames, uint32_t nMaxFrames, uint32_t* pnFramesRead, uint32_t nTimeoutMs), (nBoardId, nChannel, pFrames, nMaxFrames, pnFramesRead, nTimeoutMs), STAGE5) \
    X(KiVoReadCANRawFrameEx, int32_t, (int32_t nBoardId, int32_t nChannel, void* pBuffer, uint32_t nBufferSize, uint32_t* pnBytesRead, uint32_t nTimeoutMs), (nBoardId, nChannel, pBuffer, nBufferSize, pnBytesRead, nTimeoutMs), STAGE5) \
    X(KiVoWriteCANEx, int32_t, (int32_t nBoardId, int32_t nChannel, const void* pFrames, uint32_t nFrames, uint32_t* pnFramesWritten, uint32_t nTimeoutMs), (nBoardId, nChannel, pFrames, nFrames, pnFramesWritten, nTimeoutMs), STAGE5) \
    X(KiVoReadCANNg, int32_t, (int32_t nBoardId, int32_t nChannel, void* pFrames, uint32_t nMaxFrames, uint32_t* pnFramesRead), (nBoardId, nChannel, pFrames, nMaxFrames, pnFramesRead), STAGE5)
/* clang-format on */

/* One function type per entry point, named after it: KiVoDriverInit_t and so on. */
#define KIVO_DECLARE_TYPE(name, ret, params, args, cls) typedef ret(*name##_t) params;
KIVO_ENTRY_POINTS(KIVO_DECLARE_TYPE)
#undef KIVO_DECLARE_TYPE

#endif /* KIVO_ENTRY_POINTS_H */
