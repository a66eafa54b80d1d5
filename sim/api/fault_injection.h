// Fault injection from QUENO_SIM_FAULTS: rules separated by ';', each "selector[@N|#N]=value".
//
//   boards=-3                          KiVoDriverInit reports this board count
//   KiVoSetParam_i32=1003              the entry point returns 1003 without doing anything
//   cmd:2=7                            every call with command code 2 returns 7
//   prop:BoardID0/AI0:Range=1022       string-property calls on that target and property
//   value:42=0                         a read of command 42 succeeds and reports 0
//   offset:38=4096                     a read of command 38 reports its true value plus 4096
//   text:BoardID0/AI0:Range=abc        a read of that property succeeds and answers "abc"
//
// "@N" makes a rule fire from its N-th matching call on, "#N" on the N-th matching call only; without
// either it fires on every matching call. In prop: and text: rules "*" stands for any target or
// property. Each rule counts its own matching calls.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

namespace qsim {

class FaultSet {
public:
    // Reads the rules; false with a message when one cannot be read (nothing is kept then).
    bool parse(const char* sRules, std::string* pError);

    // The board count to report instead of the description's, if a rule gives one.
    bool boardCount(int32_t* pnCount) const;

    // The result an entry-point call must return instead of doing its work. nCommand is used when
    // bHasCommand; target and property when not null.
    bool injectedResult(const char* sEntryPoint, bool bHasCommand, int32_t nCommand, const char* sTarget,
                        const char* sProperty, int32_t* pnResult);

    // Changes the value that a successful read of a command reports.
    void adjustValue(int32_t nCommand, int64_t* pnValue);

    // Replaces the text that a successful property read answers.
    bool replacementText(const char* sTarget, const char* sProperty, std::string* pText);

private:
    enum class Kind { Boards, EntryPoint, Command, Property, Value, Offset, Text };
    struct Rule {
        Kind kind;
        std::string sName;  // entry point, or target for prop:/text:
        std::string sProperty;
        int32_t nCommand = 0;
        int64_t nFromCall = 1;
        bool bOnlyThatCall = false;
        int64_t nValue = 0;
        std::string sText;
        int64_t nCalls = 0;
    };

    static bool parseRule(const std::string& sRule, Rule* pRule, std::string* pError);
    static bool fieldMatches(const std::string& sPattern, const char* sValue);
    static bool countAndFire(Rule& rule);

    std::vector<Rule> rules_;
};

}  // namespace qsim
