// What a run against the simulator is expected to print and call, piece by piece.
#pragma once

#include "process_runner.h"

#include <initializer_list>
#include <map>
#include <string>
#include <vector>

using Lines = std::vector<std::string>;

Lines concat(std::initializer_list<Lines> parts);

// Open, reset and the model read of board n.
Lines openAndCheckTrace(int nBoard, const std::string& sBoardName);

struct ConfigExpectation {
    int nBoard = 0;
    int nChannel = 0;
    std::string sSettledRange = "-100.000000..200.000000 degC";
    std::string sExcitation = "0.500000 mA";
    int nSampleDelay = 4;
    int nScanSize = 4;
};

// Every call of the channel configuration, in order, when each one succeeds.
Lines configurationTrace(const ConfigExpectation& expected);
// The information block on standard output.
std::string infoBlock(const ConfigExpectation& expected);

// The start of the measurement: the start command and the three buffer reads.
Lines startTrace(int nBoard, int nBufferBytes);
// An available-samples query answered with the overflow, and the text of the overflow result.
Lines overflowTrace(int nBoard, int nAvailable = 0);
std::string startLine(int nBoard, int nChannel);
extern const char kOverflowLine[];   // standard output
extern const char kOverflowError[];  // standard error, from CheckError

extern const char kEndOfExample[];    // the last words of every normal end, on standard error
extern const char kNoCardsMessage[];  // standard error when the driver reports no boards
bool endsWith(const std::string& s, const std::string& sTail);

// The end of the run: stop, close, de-initialise.
Lines endTrace(int nBoard);

// Runs the example; unless the test gives a script, the measurement ends at its first query with
// an overflow, so that no run waits for a key.
RunResult runWith(std::vector<std::string> args, std::map<std::string, std::string> env = {});
