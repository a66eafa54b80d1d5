// A fake driver for unit tests: points the entry-point table at functions that record every call
// and answer what the test configured.
#pragma once

#include <stdint.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "gtest/gtest.h"

struct FakeAnswer {
    int32_t nResult = 0;
    std::string sText;
    bool bWrite = true;  // false: the driver leaves the buffer untouched
};

struct FakeDriver {
    std::vector<std::string> calls;  // "GetParamStruct_str BoardID0 BoardName 256", ...
    std::map<std::string, FakeAnswer> structAnswers;  // "target|property"
    std::map<std::string, FakeAnswer> xmlAnswers;     // "base|query"
    std::map<int32_t, int32_t> setResults;            // command -> result of KiVoSetParam_i32
    std::map<int32_t, int64_t> getValues;             // command -> value of KiVoGetParam_i32/_i64
    std::map<int32_t, int32_t> getResults;            // command -> result of KiVoGetParam_i32/_i64
    std::map<std::string, int32_t> setStructResults;  // "target|property" -> result
    std::map<std::string, uint32_t> lengths;          // "target|property" -> KiVoGetParamStruct_strLEN
    bool bNullErrorText = false;
    // Overrides the map lookup of KiVoGetParamStruct_str when set.
    std::function<int32_t(const char*, const char*, char*, uint32_t)> onGetStruct;
    std::function<int32_t(const char*, const char*, char*, uint32_t)> onGetXml;
};

FakeDriver& fakeDriver();
void installFakeDriver();  // resets the fake and fills the table
void removeFakeDriver();   // clears the table

class FakeDriverTest : public ::testing::Test {
protected:
    void SetUp() override { installFakeDriver(); }
    void TearDown() override { removeFakeDriver(); }
    FakeDriver& fake() { return fakeDriver(); }
};
