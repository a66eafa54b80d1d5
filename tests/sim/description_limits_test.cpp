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

// Every attribute of a scenario, out of its limits: refused with its line, element and attribute.
TEST(DescriptionLimits, RefusesScenariosOutsideWhatTheyMean) {
    const std::string kInputs = group("AI", 4, "<Mode Mode='V'><Range><ID0>-10..10 V</ID0></Range></Mode>");
    auto signal = [&](const std::string& sAttributes) { return board(kInputs + "<Signals><Signal " + sAttributes + "/></Signals>"); };
    auto event = [&](const std::string& sAttributes) { return board(kInputs + "<Events><Event " + sAttributes + "/></Events>"); };
    const struct {
        std::string sXml;
        const char* sExpected;
    } cases[] = {
        {signal("channels='AI4' kind='constant' value='1'"), "line 1: <Signal>: channels=\"AI4\" must name analogue inputs"},
        {signal("channels='AI3..AI1' kind='constant' value='1'"), "channels=\"AI3..AI1\""},
        {signal("channels='AO0' kind='constant' value='1'"), "channels=\"AO0\""},
        {signal("channels='AI0' kind='square'"), "kind=\"square\" must be constant, ramp, sine, steps or replay"},
        {signal("channels='AI0' kind='constant'"), "<Signal>: needs a value attribute"},
        {signal("channels='AI0' kind='constant' value='nan'"), "value=\"nan\" must be a finite number"},
        {signal("channels='AI0' kind='constant' value='1e13'"), "value=\"1e13\""},
        {signal("channels='AI0' kind='constant' value='1' noise='-1'"), "noise=\"-1\""},
        {signal("channels='AI0' kind='constant' value='1' seed='1.5'"), "seed=\"1.5\" must be a whole number"},
        {signal("channels='AI0' kind='ramp' from='0' to='1' duration='60'"), "duration=\"60\" must be a time such as 12.5s"},
        {signal("channels='AI0' kind='ramp' from='0' to='1' duration='0s'"), "duration=\"0s\""},
        {signal("channels='AI0' kind='ramp' from='0' to='1' duration='1s' then='stop'"), "then=\"stop\" must be hold or repeat"},
        {signal("channels='AI0' kind='sine' amplitude='1' period='-1s'"), "period=\"-1s\""},
        {signal("channels='AI0' kind='steps' values='1 x 3' every='1s'"), "values=\"1 x 3\""},
        {signal("channels='AI0' kind='steps' values='' every='1s'"), "values=\"\""},
        {signal("channels='AI0' kind='steps' values='1' every='1s' repeat='yes'"), "repeat=\"yes\" must be true or false"},
        {signal("channels='AI0' kind='replay' file='/nonexistent.csv' column='AI0'"),
         "file=\"/nonexistent.csv\" cannot be replayed: /nonexistent.csv: No such file or directory"},
        {signal("channels='AI0' kind='replay' file='/dev/null' column='AI0'"), "/dev/null: not a regular file"},
        {signal("channels='AI0' kind='replay' file='x.csv' column='AI0' speed='0'"), "speed=\"0\""},
        {board(kInputs + "<Signals><Signal channels='AI0..AI2' kind='constant' value='1'/>"
                         "<Signal channels='AI2' kind='constant' value='2'/></Signals>"),
         "AI2 already has a signal"},
        {event("at='1s' kind='open'"), "<Event>: needs a channels attribute"},
        {event("at='1s' kind='melt' channels='AI0'"), "kind=\"melt\""},
        {event("at='-1s' kind='overflow'"), "at=\"-1s\""},
        {event("at='1e10s' kind='overflow'"), "at=\"1e10s\""},
        {event("at='1s' kind='stall'"), "a stall needs a duration"},
        {event("at='1s' kind='stall' duration='1s' channels='AI0'"), "channels=\"AI0\" belongs to open, short and overrange"},
        {event("at='1s' kind='fail' calls='KiVoNothing' result='1003'"), "calls=\"KiVoNothing\" must name driver entry points"},
        {event("at='1s' kind='fail' calls='KiVoGetParam_i32' result='0'"), "result=\"0\" must be a whole result code"},
        {event("at='1s' kind='fail' calls='KiVoGetParam_i32' result='4294967296'"), "result=\"4294967296\""},
        {board(kInputs + "<Events>" + repeat("<Event at='1s' kind='overflow'/>", 257) + "</Events>"), "more than 256 events"},
    };
    for (const auto& c : cases) {
        std::string sError = parseError(c.sXml);
        EXPECT_NE(sError.find(c.sExpected), std::string::npos) << c.sXml << "\n  gave: " << sError;
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
