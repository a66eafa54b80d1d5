// The fault matrix: the driver calls of one complete scripted run are recorded, then each call in
// turn is made to fail once with an error and once with a warning (QUENO_SIM_FAULTS, "#N" for the
// N-th call of that entry point), and the real example must react as specified for that call.
// Board counts and hostile texts complete it. Every case must end without a crash, a hang or a
// sanitizer report, and always through the driver's de-initialisation.
#include <stdint.h>

#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "expected_run.h"
#include "gtest/gtest.h"
#include "process_runner.h"

namespace {

const char kScript[] = "25,5,overflow";
const std::string kEnd = kEndOfExample;
const std::string kNoCards = kNoCardsMessage;

struct InjectedCode {
    int32_t nCode;
    const char* sText;  // the simulator's text for it
};
const InjectedCode kError = {1003, "board is not open"};
const InjectedCode kWarning = {-1201, "warning: settings were changed after the last apply command"};

bool contains(const std::string& s, const std::string& sPart) { return s.find(sPart) != std::string::npos; }

RunResult run(const std::string& sFaults, std::vector<std::string> args = {}) {
    RunOptions options;
    options.args = std::move(args);
    options.env["QUENO_SIM_SCRIPT"] = kScript;
    if (!sFaults.empty()) options.env["QUENO_SIM_FAULTS"] = sFaults;
    return runExample(options);
}

// What every case must hold, whatever failed.
void expectOrderlyEnd(const RunResult& r) {
    EXPECT_FALSE(r.bTimedOut);
    EXPECT_NE(r.nExitStatus, -1) << "killed by a signal";
    EXPECT_FALSE(contains(r.sErr, "Sanitizer") || contains(r.sErr, "runtime error:")) << r.sErr;
    ASSERT_FALSE(r.trace.empty());
    EXPECT_EQ(r.trace.back().rfind("KiVoDriverDeInit()", 0), 0u) << r.trace.back();
}

bool traceHas(const RunResult& r, const std::string& sPrefix) {
    for (const std::string& s : r.trace) {
        if (s.rfind(sPrefix, 0) == 0) return true;
    }
    return false;
}

// One recorded call, and which call of its entry point it was.
struct RecordedCall {
    std::string sLine;
    std::string sEntryPoint;
    int nOccurrence;
};

std::vector<RecordedCall> recordedCalls() {
    RunResult r = run("");
    EXPECT_EQ(r.nExitStatus, 0);
    std::vector<RecordedCall> calls;
    std::map<std::string, int> occurrences;
    for (const std::string& sLine : r.trace) {
        std::string sEntryPoint = sLine.substr(0, sLine.find('('));
        int nOccurrence = ++occurrences[sEntryPoint];
        // The text lookup answers a text, not a result: there is nothing to make it fail with.
        if (sLine[0] == '#' || sEntryPoint == "KiVoErrorConstantToString") continue;
        calls.push_back({sLine, sEntryPoint, nOccurrence});
    }
    return calls;
}

bool startRefused(const RunResult& r) {
    for (const std::string& s : r.trace) {
        if (s.rfind("KiVoSetParam_i32(0, 4, 0) = ", 0) == 0) return s != "KiVoSetParam_i32(0, 4, 0) = 0";
    }
    return false;
}

// The outcome the example gives a failure of this call.
void expectOutcome(const RecordedCall& call, const InjectedCode& code, const RunResult& r) {
    const std::string sReport = "\nError: " + std::string(code.sText) + "\n";
    if (call.sEntryPoint == "KiVoDriverInit") {  // no count: no boards
        EXPECT_EQ(r.nExitStatus, 1);
        EXPECT_TRUE(endsWith(r.sErr, sReport + kNoCards)) << r.sErr;
    } else if (contains(call.sLine, "\"BoardName\"")) {  // the model check cannot pass
        EXPECT_EQ(r.nExitStatus, 1);
        EXPECT_TRUE(contains(r.sErr, code.sText)) << r.sErr;
        EXPECT_FALSE(contains(r.sErr, kEnd));
        EXPECT_FALSE(traceHas(r, "KiVoSetParam_i32(0, 4,"));
    } else if (call.sLine.rfind("KiVoSetParam_i32(0, 4,", 0) == 0) {  // a refused start: its text alone
        EXPECT_EQ(r.nExitStatus, 1);
        EXPECT_TRUE(endsWith(r.sErr, "\n" + std::string(code.sText))) << r.sErr;
        EXPECT_FALSE(traceHas(r, "KiVoSetParam_i32(0, 5,"));
    } else if (call.sEntryPoint == "KiVoDriverDeInit") {  // the unload does not ask
        EXPECT_EQ(r.nExitStatus, 0);
        EXPECT_TRUE(endsWith(r.sErr, kEnd)) << r.sErr;
    } else if (startRefused(r)) {  // a failed open, use or apply makes the driver refuse the start
        EXPECT_EQ(r.nExitStatus, 1);
        EXPECT_TRUE(contains(r.sErr, sReport)) << r.sErr;
        EXPECT_FALSE(contains(r.sErr, kEnd));
        EXPECT_FALSE(traceHas(r, "KiVoSetParam_i32(0, 5,"));
    } else {  // reported, and the run goes on to its normal end
        bool bClose = call.sLine.rfind("KiVoSetParam_i32(0, 2,", 0) == 0;
        int nLow = code.nCode & 0xff;
        EXPECT_EQ(r.nExitStatus, bClose ? (nLow == 0 ? 1 : nLow) : 0);
        EXPECT_TRUE(contains(r.sErr, sReport)) << r.sErr;
        EXPECT_TRUE(endsWith(r.sErr, kEnd)) << r.sErr;
        EXPECT_TRUE(traceHas(r, "KiVoSetParam_i32(0, 5,"));
        EXPECT_TRUE(traceHas(r, "KiVoSetParam_i32(0, 2,"));
    }
}

void runCallMatrix(const InjectedCode& code) {
    std::vector<RecordedCall> calls = recordedCalls();
    ASSERT_GT(calls.size(), 20u);
    for (const RecordedCall& call : calls) {
        std::string sRule = call.sEntryPoint + "#" + std::to_string(call.nOccurrence) + "=" + std::to_string(code.nCode);
        SCOPED_TRACE(sRule + "  (" + call.sLine + ")");
        RunResult r = run(sRule);
        expectOrderlyEnd(r);
        expectOutcome(call, code, r);
    }
    std::cout << "fault matrix: " << calls.size() << " calls failing with " << code.nCode << "\n";
}

TEST(FaultMatrix, EveryCallFailingWithAnError) { runCallMatrix(kError); }
TEST(FaultMatrix, EveryCallFailingWithAWarning) { runCallMatrix(kWarning); }

TEST(FaultMatrix, BoardCounts) {
    const char* counts[] = {"-2147483648", "-3", "-1", "0", "1", "2", "3", "2147483647"};
    const char* ids[] = {"0", "1", "2", "-1"};
    int nCases = 0;
    for (const char* sCount : counts) {
        for (const char* sId : ids) {
            SCOPED_TRACE(std::string("boards=") + sCount + ", board " + sId);
            RunResult r = run(std::string("boards=") + sCount, {sId});
            expectOrderlyEnd(r);
            ++nCases;
        }
    }
    std::cout << "fault matrix: " << nCases << " board counts and ids\n";
}

TEST(FaultMatrix, HostileTexts) {
    const std::string texts[] = {"", "abc", "nan..inf degC", "1e999..-1e999", "200..-100 degC", "%s%n%x",
                                 std::string(300, '9'), "-100.000000..200.000000 degC" + std::string(300, ' ')};
    const char* properties[] = {"BoardID0:BoardName", "BoardID0/AI0:Range", "BoardID0/AI0:SensorRes0",
                                "BoardID0/AI0:Excitation"};
    int nCases = 0;
    for (const char* sProperty : properties) {
        for (const std::string& sText : texts) {
            std::string sRule = std::string("text:") + sProperty + "=" + sText;
            SCOPED_TRACE(sRule);
            RunResult r = run(sRule);
            expectOrderlyEnd(r);
            // A board name that is not the model the example needs ends the run with status 1.
            EXPECT_EQ(r.nExitStatus, std::string(sProperty) == "BoardID0:BoardName" ? 1 : 0);
            ++nCases;
        }
    }
    std::cout << "fault matrix: " << nCases << " hostile texts\n";
}

}  // namespace
