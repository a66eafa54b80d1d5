// The 39 exported entry points of the simulated driver. Each one takes the simulator's lock, asks
// the fault rules whether to fail, does its work and writes one line to the call trace.
#include <string.h>

#include <string>
#include <type_traits>

#include "call_trace.h"
#include "kivo_codes.h"
#include "kivo_entry_points.h"
#include "result_texts.h"
#include "simulator.h"

using qsim::Simulator;

namespace {

// One entry-point call: its trace line and its fault check.
class Call {
public:
    explicit Call(const char* sName) : sim_(qsim::simulator()), lock_(sim_.mutex), sName_(sName) {
        sim_.configureOnce();
        sLine_ = std::string(sName) + "(";
    }

    Call& arg(int64_t n) { return raw(std::to_string(n)); }
    Call& arg(const char* s) { return raw(qsim::traceText(s)); }
    Call& raw(const std::string& s) {
        if (nArgs_++ > 0) sLine_ += ", ";
        sLine_ += s;
        return *this;
    }
    Call& command(int32_t nCommand) {
        bHasCommand_ = true;
        nCommand_ = nCommand;
        return arg(nCommand);
    }
    Call& property(const char* sTarget, const char* sProperty) {
        sTarget_ = sTarget;
        sProperty_ = sProperty;
        return arg(sTarget).arg(sProperty);
    }

    // True (with the trace written) when a fault rule decides the result of this call.
    bool injected(int32_t* pnResult) {
        if (sim_.scenarioFailure(sName_, pnResult)) {
            finish(*pnResult, "", " [scenario]");
            return true;
        }
        if (!sim_.faults.injectedResult(sName_, bHasCommand_, nCommand_, sTarget_, sProperty_, pnResult)) return false;
        finish(*pnResult, "", " [injected]");
        return true;
    }

    int32_t finish(int32_t nResult, const std::string& sOut = "", const char* sNote = "") {
        sLine_ += ") = " + std::to_string(nResult);
        if (!sOut.empty()) sLine_ += " -> " + sOut;
        sLine_ += sNote;
        sim_.trace.writeLine(sLine_);
        return nResult;
    }

    Simulator& sim() { return sim_; }

private:
    Simulator& sim_;
    std::lock_guard<std::mutex> lock_;
    const char* sName_;
    std::string sLine_;
    int nArgs_ = 0;
    bool bHasCommand_ = false;
    int32_t nCommand_ = 0;
    const char* sTarget_ = nullptr;
    const char* sProperty_ = nullptr;
};

// Copies a text into the caller's buffer, always terminated within the size.
int32_t copyText(const std::string& sText, char* sBuffer, uint32_t nSize) {
    if (sBuffer == nullptr) return ResultNullArgument;
    if (nSize == 0) return ResultBufferTooSmall;
    size_t nCopy = sText.size() < nSize - 1 ? sText.size() : nSize - 1;
    memcpy(sBuffer, sText.data(), nCopy);
    sBuffer[nCopy] = '\0';
    return sText.size() > nCopy ? ResultTextTruncated : ResultOk;
}

int32_t readProperty(Call& call, const char* sTarget, const char* sProperty, std::string* pValue) {
    int32_t nResult = call.sim().getProperty(sTarget, sProperty, pValue);
    if (nResult == ResultOk) call.sim().faults.replacementText(sTarget, sProperty, pValue);
    return nResult;
}

// The common part of the value reads: fault rules, a null out-pointer, the read and its value
// rules. True when there is a value to hand out (with *pnResult 0 or the overflow); otherwise
// *pnResult is final and already traced.
bool readParam(Call& call, int32_t nBoardId, int32_t nCommand, const void* pOut, int64_t* pnValue,
               int32_t* pnResult) {
    if (call.injected(pnResult)) return false;
    if (pOut == nullptr) {
        *pnResult = call.finish(ResultNullArgument);
        return false;
    }
    *pnResult = call.sim().getParam(nBoardId, nCommand, pnValue);
    if (*pnResult != ResultOk && *pnResult != ResultBufferOverflow) {
        call.finish(*pnResult);
        return false;
    }
    call.sim().faults.adjustValue(nCommand, pnValue);
    return true;
}

// Hands a text answer to the caller's buffer, cut and terminated within the size.
int32_t answerText(Call& call, int32_t nResult, const std::string& sAnswer, char* sBuffer, uint32_t nSize) {
    if (nResult != ResultOk) return call.finish(nResult);
    nResult = copyText(sAnswer, sBuffer, nSize);
    if (nResult != ResultOk && nResult != ResultTextTruncated) return call.finish(nResult);
    return call.finish(nResult, qsim::traceText(sBuffer));
}

// The entry points that the simulated board does not offer: traced, open to fault rules,
// answered "not supported".
int32_t unsupported(Call& call) {
    int32_t nResult = 0;
    if (call.injected(&nResult)) return nResult;
    return call.finish(ResultNotSupported);
}

}  // namespace

// Built with hidden visibility: only what stands between these pragmas is exported.
#pragma GCC visibility push(default)
extern "C" {

int32_t KiVoDriverInit(int32_t* pnBoardCount) {
    Call call("KiVoDriverInit");
    int32_t nResult = 0;
    if (call.injected(&nResult)) return nResult;
    nResult = call.sim().init(pnBoardCount);
    return call.finish(nResult, nResult == ResultOk ? std::to_string(*pnBoardCount) : "");
}

int32_t KiVoDriverDeInit(void) {
    Call call("KiVoDriverDeInit");
    int32_t nResult = 0;
    if (call.injected(&nResult)) return nResult;
    return call.finish(call.sim().deinit());
}

int32_t KiVoGetParam_i32(int32_t nBoardId, int32_t nCommand, int32_t* pnValue) {
    Call call("KiVoGetParam_i32");
    call.arg(nBoardId).command(nCommand);
    int32_t nResult = 0;
    int64_t nValue = 0;
    if (!readParam(call, nBoardId, nCommand, pnValue, &nValue, &nResult)) return nResult;
    if (nValue < INT32_MIN || nValue > INT32_MAX) return call.finish(ResultInvalidValue);  // an address: use _i64
    *pnValue = static_cast<int32_t>(nValue);
    return call.finish(nResult, std::to_string(nValue));
}

int32_t KiVoSetParam_i32(int32_t nBoardId, int32_t nCommand, int32_t nValue) {
    Call call("KiVoSetParam_i32");
    call.arg(nBoardId).command(nCommand).arg(nValue);
    int32_t nResult = 0;
    if (call.injected(&nResult)) return nResult;
    return call.finish(call.sim().setParam(nBoardId, nCommand, nValue));
}

int32_t KiVoGetParam_i64(int32_t nBoardId, int32_t nCommand, int64_t* pnValue) {
    Call call("KiVoGetParam_i64");
    call.arg(nBoardId).command(nCommand);
    int32_t nResult = 0;
    int64_t nValue = 0;
    if (!readParam(call, nBoardId, nCommand, pnValue, &nValue, &nResult)) return nResult;
    *pnValue = nValue;
    return call.finish(nResult, call.sim().describeValue(nBoardId, nCommand, nValue));
}

int32_t KiVoSetParam_i64(int32_t nBoardId, int32_t nCommand, int64_t nValue) {
    Call call("KiVoSetParam_i64");
    call.arg(nBoardId).command(nCommand).arg(nValue);
    int32_t nResult = 0;
    if (call.injected(&nResult)) return nResult;
    return call.finish(call.sim().setParam(nBoardId, nCommand, nValue));
}

int32_t KiVoSetParamStruct_str(const char* sTarget, const char* sProperty, const char* sValue) {
    Call call("KiVoSetParamStruct_str");
    call.property(sTarget, sProperty).arg(sValue);
    int32_t nResult = 0;
    if (call.injected(&nResult)) return nResult;
    return call.finish(call.sim().setProperty(sTarget, sProperty, sValue));
}

int32_t KiVoGetParamStruct_str(const char* sTarget, const char* sProperty, char* sBuffer, uint32_t nBufferSize) {
    Call call("KiVoGetParamStruct_str");
    call.property(sTarget, sProperty).arg(nBufferSize);
    int32_t nResult = 0;
    if (call.injected(&nResult)) return nResult;
    std::string sValue;
    nResult = readProperty(call, sTarget, sProperty, &sValue);
    return answerText(call, nResult, sValue, sBuffer, nBufferSize);
}

int32_t KiVoGetParamStruct_strLEN(const char* sTarget, const char* sProperty, uint32_t* pnLength) {
    Call call("KiVoGetParamStruct_strLEN");
    call.property(sTarget, sProperty);
    int32_t nResult = 0;
    if (call.injected(&nResult)) return nResult;
    if (pnLength == nullptr) return call.finish(ResultNullArgument);
    std::string sValue;
    nResult = readProperty(call, sTarget, sProperty, &sValue);
    if (nResult != ResultOk) return call.finish(nResult);
    *pnLength = static_cast<uint32_t>(sValue.size());
    return call.finish(nResult, std::to_string(*pnLength));
}

int32_t KiVoGetParamStructEx_str(const char* sTarget, const char* sProperty, char* sBuffer, uint32_t nBufferSize,
                                 uint32_t* pnLength) {
    Call call("KiVoGetParamStructEx_str");
    call.property(sTarget, sProperty).arg(nBufferSize);
    int32_t nResult = 0;
    if (call.injected(&nResult)) return nResult;
    std::string sValue;
    nResult = readProperty(call, sTarget, sProperty, &sValue);
    // The full length is reported even when the text had to be cut, so a caller can retry.
    if (nResult == ResultOk && pnLength != nullptr) *pnLength = static_cast<uint32_t>(sValue.size());
    return answerText(call, nResult, sValue, sBuffer, nBufferSize);
}

int32_t KiVoSetParamXML_str(const char* sBase, const char* sQuery, const char* sValue) {
    Call call("KiVoSetParamXML_str");
    call.arg(sBase).arg(sQuery).arg(sValue);
    return unsupported(call);
}

int32_t KiVoGetParamXML_str(const char* sBase, const char* sQuery, char* sBuffer, uint32_t nBufferSize) {
    Call call("KiVoGetParamXML_str");
    call.arg(sBase).arg(sQuery).arg(nBufferSize);
    int32_t nResult = 0;
    if (call.injected(&nResult)) return nResult;
    std::string sAnswer;
    nResult = call.sim().query(sBase, sQuery, &sAnswer);
    return answerText(call, nResult, sAnswer, sBuffer, nBufferSize);
}

int32_t KiVoGetParamXML_strLEN(const char* sBase, const char* sQuery, uint32_t* pnLength) {
    Call call("KiVoGetParamXML_strLEN");
    call.arg(sBase).arg(sQuery);
    int32_t nResult = 0;
    if (call.injected(&nResult)) return nResult;
    if (pnLength == nullptr) return call.finish(ResultNullArgument);
    std::string sAnswer;
    nResult = call.sim().query(sBase, sQuery, &sAnswer);
    if (nResult != ResultOk) return call.finish(nResult);
    *pnLength = static_cast<uint32_t>(sAnswer.size());
    return call.finish(nResult, std::to_string(*pnLength));
}

const char* KiVoErrorConstantToString(int32_t nResult) {
    Call call("KiVoErrorConstantToString");
    call.arg(nResult);
    const char* sText = qsim::resultText(nResult);
    call.finish(0, qsim::traceText(sText));
    return sText;
}

// CAN and DMA-UART channels are not simulated.
#define QSIM_UNSUPPORTED_CHANNEL_CALL(name, params)  \
    int32_t name params {                             \
        Call call(#name);                             \
        call.arg(nBoardId).arg(nChannel);             \
        return unsupported(call);                     \
    }

QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoOpenCAN, (int32_t nBoardId, int32_t nChannel))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoCloseCAN, (int32_t nBoardId, int32_t nChannel))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoGetChannelPropCAN, (int32_t nBoardId, int32_t nChannel, const char*, char*, uint32_t))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoSetChannelPropCAN, (int32_t nBoardId, int32_t nChannel, const char*, const char*))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoStartCAN, (int32_t nBoardId, int32_t nChannel))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoStopCAN, (int32_t nBoardId, int32_t nChannel))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoReadCAN, (int32_t nBoardId, int32_t nChannel, void*, uint32_t, uint32_t*))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoReadCANRawFrame, (int32_t nBoardId, int32_t nChannel, void*, uint32_t, uint32_t*))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoWriteCAN, (int32_t nBoardId, int32_t nChannel, const void*, uint32_t, uint32_t*))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoErrorCntCAN, (int32_t nBoardId, int32_t nChannel, uint32_t*, uint32_t*))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoOpenDmaUart, (int32_t nBoardId, int32_t nChannel))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoCloseDmaUart, (int32_t nBoardId, int32_t nChannel))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoGetChannelPropDmaUart, (int32_t nBoardId, int32_t nChannel, const char*, char*, uint32_t))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoSetChannelPropDmaUart, (int32_t nBoardId, int32_t nChannel, const char*, const char*))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoStartDmaUart, (int32_t nBoardId, int32_t nChannel))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoStopDmaUart, (int32_t nBoardId, int32_t nChannel))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoReadDmaUart, (int32_t nBoardId, int32_t nChannel, void*, uint32_t, uint32_t*))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoReadDmaUartRawFrame, (int32_t nBoardId, int32_t nChannel, void*, uint32_t, uint32_t*))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoWriteDmaUart, (int32_t nBoardId, int32_t nChannel, const void*, uint32_t, uint32_t*))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoFreeFramesCAN, (int32_t nBoardId, int32_t nChannel, uint32_t))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoFreeDmaUartRawFrame, (int32_t nBoardId, int32_t nChannel, uint32_t))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoReadCANEx, (int32_t nBoardId, int32_t nChannel, void*, uint32_t, uint32_t*, uint32_t))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoReadCANRawFrameEx, (int32_t nBoardId, int32_t nChannel, void*, uint32_t, uint32_t*, uint32_t))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoWriteCANEx, (int32_t nBoardId, int32_t nChannel, const void*, uint32_t, uint32_t*, uint32_t))
QSIM_UNSUPPORTED_CHANNEL_CALL(KiVoReadCANNg, (int32_t nBoardId, int32_t nChannel, void*, uint32_t, uint32_t*))

#undef QSIM_UNSUPPORTED_CHANNEL_CALL

}  // extern "C"
#pragma GCC visibility pop

// Every entry point has exactly the type that the loader's table expects.
#define QSIM_CHECK_TYPE(name, ret, params, args, cls) \
    static_assert(std::is_same<decltype(&::name), name##_t>::value, #name " does not match the contract");
KIVO_ENTRY_POINTS(QSIM_CHECK_TYPE)
#undef QSIM_CHECK_TYPE
