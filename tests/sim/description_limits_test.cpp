// Hostile and careless system descriptions and rules: each is refused with a message that says
// where and why, and nothing is built from it. One small description per rule.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>

#include "description_limits.h"
#include "fault_injection.h"
#include "acquisition.h"
#include "gtest/gtest.h"
#include "limit_description.h"
#include "system_description.h"

namespace qsim {
namespace {

std::string board(const std::string& sInside) {
    return "<QuenoSimSystem><Board model='X'>" + sInside + "</Board></QuenoSimSystem>";
}

std::string group(const std::string& sKind, int nCount, const std::string& sModes) {
    return "<ChannelGroup kind='" + sKind + "' count='" + std::to_string(nCount) + "'>" + sModes + "</ChannelGroup>";
}

std::string repeat(const std::string& s, size_t n) {
    std::string sAll;
    for (size_t i = 0; i < n; ++i) sAll += s;
    return sAll;
}

std::string parseError(const std::string& sXml) {
    std::string sError;
    std::unique_ptr<SystemDescription> system = SystemDescription::parse(sXml.data(), sXml.size(), "test", &sError);
    return system == nullptr ? sError : "accepted";
}

TEST(DescriptionLimits, RefusesNumbersOutsideWhatTheyMean) {
    using L = DescriptionLimits;
    const struct {
        std::string sXml;
        const char* sExpected;
    } cases[] = {
        {board("<Sensor temperature='nan'/>"), "<Sensor>: temperature=\"nan\" must be a finite number"},
        {board("<Sensor drift='inf'/>"), "drift=\"inf\""},
        {board("<Sensor driftPeriod='1e-308'/>"), "driftPeriod=\"1e-308\""},
        {board("<Sensor noise='-0.5'/>"), "noise=\"-0.5\""},
        {board("<Sensor temperature='-300'/>"), "temperature=\"-300\""},
        {board(group("AI", 1, "<Mode Mode='V'><IIRFilter_VAL Min='1e400' Max='1'/></Mode>")), "Min=\"1e400\""},
        {board(group("AI", 1, "<Mode Mode='V'><Gain Min='5' Max='1'/></Mode>")), "Min=\"5\" is above Max=\"1\""},
        {board(group("AI", 1, "<Mode Mode='V'><Gain Min='0' Max='1' Default='2'/></Mode>")), "outside Min..Max"},
        {board(group("AI", 1, "<Mode Mode='V'><Range><ID0>5..1 V</ID0></Range></Mode>")), "range \"5..1 V\""},
        {board(group("AI", 1, "<Mode Mode='V'><Range><ID0>nan..1 V</ID0></Range></Mode>")), "range \"nan..1 V\""},
        {board("<BoardProperties><AcquisitionProperties><AcqProp><SampleRate Default='nan'/></AcqProp>"
               "</AcquisitionProperties></BoardProperties>"),
         "<SampleRate>: Default=\"nan\""},
        {board("<BoardProperties><AcquisitionProperties><AcqProp><SampleRate Default='-1000'/></AcqProp>"
               "</AcquisitionProperties></BoardProperties>"),
         "Default=\"-1000\""},
        {board("<BoardProperties><AcquisitionProperties><AcqProp><SampleRate ProgMax='1e30'/></AcqProp>"
               "</AcquisitionProperties></BoardProperties>"),
         "ProgMax=\"1e30\""},
        {board("<BoardProperties><AcquisitionProperties><AcqProp><SampleRate ProgMin='10' ProgMax='5'/></AcqProp>"
               "</AcquisitionProperties></BoardProperties>"),
         "ProgMin is above ProgMax"},
        {board("<BoardProperties><ChannelProperties><AI0><Mode Mode='V'><Gain Max='inf'/></Mode></AI0>"
               "</ChannelProperties></BoardProperties>"),
         "<Gain>: Max=\"inf\""},
        // Sizes.
        {"<QuenoSimSystem>" + repeat("<Board model='X'/>", L::kMaxBoards + 1) + "</QuenoSimSystem>", "more than 64 boards"},
        {board(group("AI", 257, "")), "count=\"257\""},
        {board(group("AI", 1, repeat("<Mode Mode='V'/>", L::kMaxModesPerChannel + 1))), "more than 32 modes"},
        {board(group("AI", 1, "<Mode Mode='V'><Range>" + repeat("<ID0>0..1 V</ID0>", L::kMaxListEntries + 1) + "</Range></Mode>")),
         "more than 256 entries"},
        {board(group("AI", 256, "<Mode Mode='V'>" + repeat("<a/>", 400) + "</Mode>")), "would make more than 100000 elements"},
        {board("<Acquisition bufferScans='16777216'/>" + group("AI", 8, "")), "need more than 67108864 bytes"},
        {"<QuenoSimSystem>" + repeat("<x/>", L::kMaxElements) + "</QuenoSimSystem>", "more than 100000 elements"},
        {std::string(L::kMaxFileBytes + 1, ' '), "larger than 1048576 bytes"},
        // Entities are expanded wherever text is read: no document type, no entities.
        {"<!DOCTYPE QuenoSimSystem [<!ENTITY a 'aaaaaaaa'>]><QuenoSimSystem/>", "document type declaration"},
    };
    for (const auto& c : cases) {
        std::string sError = parseError(c.sXml);
        EXPECT_NE(sError.find(c.sExpected), std::string::npos) << sError << "\n  for " << c.sXml.substr(0, 200);
    }
}

TEST(DescriptionLimits, AcceptsADescriptionAtEveryLimit) {
    std::string sXml = limitDescription();
    EXPECT_LE(sXml.size(), DescriptionLimits::kMaxFileBytes);
    EXPECT_EQ(parseError(sXml), "accepted");
}

TEST(DescriptionLimits, ReadsOnlyRegularFiles) {
    char sDir[] = "/tmp/queno-desc-XXXXXX";
    ASSERT_NE(mkdtemp(sDir), nullptr);
    std::string sFifo = std::string(sDir) + "/fifo";
    ASSERT_EQ(mkfifo(sFifo.c_str(), 0600), 0);
    for (const std::string& sPath : {sFifo, std::string(sDir), std::string("/dev/zero"), std::string(sDir) + "/none"}) {
        std::string sError;
        EXPECT_EQ(SystemDescription::load(sPath.c_str(), &sError), nullptr) << sPath;  // and it did not block
        EXPECT_FALSE(sError.empty());
    }
    unlink(sFifo.c_str());
    rmdir(sDir);
}

TEST(RuleLimits, NumbersBeyondTheirWidthAreErrors) {
    for (const char* sRules : {"cmd:4294967298=7", "value:4294967338=0", "offset:-2147483649=1", "cmd:2@99999999999999999999=1",
                               "KiVoNoSuchCall=1", "=5", "cmd:=1"}) {
        FaultSet faults;
        std::string sError;
        EXPECT_FALSE(faults.parse(sRules, &sError)) << sRules;
        EXPECT_NE(sError.find("rule"), std::string::npos) << sRules;
    }
    for (const char* sScript : {"16777217", "-1", "99999999999999999999", "1e3", "overflowx"}) {
        AcquisitionScript script;
        std::string sError;
        EXPECT_FALSE(AcquisitionScript::parse(sScript, &script, &sError)) << sScript;
        EXPECT_NE(sError.find("step"), std::string::npos) << sScript;
    }
}

}  // namespace
}  // namespace qsim
