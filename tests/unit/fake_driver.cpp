#include "fake_driver.h"

#include <stdio.h>
#include <string.h>

#include "kivo_api.h"

namespace {

FakeDriver gFake;
std::string gErrorText;

void record(const std::string& sCall) { gFake.calls.push_back(sCall); }

int32_t answerText(const std::map<std::string, FakeAnswer>& answers, const std::string& sKey, char* sBuffer,
                   uint32_t nSize) {
    auto it = answers.find(sKey);
    if (it == answers.end()) return 1021;
    if (it->second.bWrite && nSize > 0) {
        // Like a driver: terminated within the size.
        size_t n = it->second.sText.size() < nSize - 1 ? it->second.sText.size() : nSize - 1;
        memcpy(sBuffer, it->second.sText.data(), n);
        sBuffer[n] = '\0';
    }
    return it->second.nResult;
}

int32_t fakeGetStruct(const char* sTarget, const char* sProperty, char* sBuffer, uint32_t nSize) {
    record(std::string("GetParamStruct_str ") + sTarget + " " + sProperty + " " + std::to_string(nSize));
    if (gFake.onGetStruct) return gFake.onGetStruct(sTarget, sProperty, sBuffer, nSize);
    return answerText(gFake.structAnswers, std::string(sTarget) + "|" + sProperty, sBuffer, nSize);
}

int32_t fakeGetStructLen(const char* sTarget, const char* sProperty, uint32_t* pnLength) {
    record(std::string("GetParamStruct_strLEN ") + sTarget + " " + sProperty);
    auto it = gFake.lengths.find(std::string(sTarget) + "|" + sProperty);
    if (it == gFake.lengths.end()) return 1021;
    *pnLength = it->second;
    return 0;
}

int32_t fakeSetStruct(const char* sTarget, const char* sProperty, const char* sValue) {
    record(std::string("SetParamStruct_str ") + sTarget + " " + sProperty + " " + sValue);
    auto it = gFake.setStructResults.find(std::string(sTarget) + "|" + sProperty);
    return it == gFake.setStructResults.end() ? 0 : it->second;
}

int32_t fakeGetXml(const char* sBase, const char* sQuery, char* sBuffer, uint32_t nSize) {
    record(std::string("GetParamXML_str ") + sBase + " " + sQuery + " " + std::to_string(nSize));
    if (gFake.onGetXml) return gFake.onGetXml(sBase, sQuery, sBuffer, nSize);
    return answerText(gFake.xmlAnswers, std::string(sBase) + "|" + sQuery, sBuffer, nSize);
}

int32_t fakeSetI32(int32_t nBoardId, int32_t nCommand, int32_t nValue) {
    record("SetParam_i32 " + std::to_string(nBoardId) + " " + std::to_string(nCommand) + " " + std::to_string(nValue));
    auto it = gFake.setResults.find(nCommand);
    return it == gFake.setResults.end() ? 0 : it->second;
}

template <typename T>
int32_t fakeGet(const char* sName, int32_t nBoardId, int32_t nCommand, T* pnValue) {
    record(std::string(sName) + " " + std::to_string(nBoardId) + " " + std::to_string(nCommand));
    auto itValue = gFake.getValues.find(nCommand);
    if (itValue != gFake.getValues.end()) *pnValue = static_cast<T>(itValue->second);
    auto itResult = gFake.getResults.find(nCommand);
    return itResult == gFake.getResults.end() ? 0 : itResult->second;
}

int32_t fakeGetI32(int32_t nBoardId, int32_t nCommand, int32_t* pnValue) {
    return fakeGet("GetParam_i32", nBoardId, nCommand, pnValue);
}

int32_t fakeGetI64(int32_t nBoardId, int32_t nCommand, int64_t* pnValue) {
    return fakeGet("GetParam_i64", nBoardId, nCommand, pnValue);
}

const char* fakeErrorText(int32_t nResult) {
    record("ErrorConstantToString " + std::to_string(nResult));
    if (gFake.bNullErrorText) return nullptr;
    gErrorText = "text of " + std::to_string(nResult);
    return gErrorText.c_str();
}

int32_t fakeDeInit(void) {
    record("DriverDeInit");
    return 0;
}

}  // namespace

FakeDriver& fakeDriver() { return gFake; }

void installFakeDriver() {
    gFake = FakeDriver();
    KiVoGetParamStruct_str = fakeGetStruct;
    KiVoGetParamStruct_strLEN = fakeGetStructLen;
    KiVoSetParamStruct_str = fakeSetStruct;
    KiVoGetParamXML_str = fakeGetXml;
    KiVoSetParam_i32 = fakeSetI32;
    KiVoGetParam_i32 = fakeGetI32;
    KiVoGetParam_i64 = fakeGetI64;
    KiVoErrorConstantToString = fakeErrorText;
    KiVoDriverDeInit = fakeDeInit;
}

void removeFakeDriver() { KiVoPxiUnload(); }
