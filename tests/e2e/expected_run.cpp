#include "process_runner.h"
#include "expected_run.h"

#include "gtest/gtest.h"

Lines concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

Lines openAndCheckTrace(int nBoard, const std::string& sBoardName) {
    std::string sBoard = std::to_string(nBoard);
    return {"KiVoSetParam_i32(" + sBoard + ", 1, 0) = 0", "KiVoSetParam_i32(" + sBoard + ", 3, 0) = 0",
            "KiVoGetParamStruct_str(\"BoardID" + sBoard + "\", \"BoardName\", 256) = 0 -> \"" + sBoardName + "\""};
}

Lines configurationTrace(const ConfigExpectation& e) {
    std::string sBoard = std::to_string(e.nBoard);
    std::string sChannel = "\"BoardID" + sBoard + "/AI" + std::to_string(e.nChannel) + "\"";
    auto write = [&](const char* sProperty, const std::string& sValue) {
        return "KiVoSetParamStruct_str(" + sChannel + ", \"" + sProperty + "\", \"" + sValue + "\") = 0";
    };
    auto read = [&](const char* sProperty, int nSize, const std::string& sValue) {
        return "KiVoGetParamStruct_str(" + sChannel + ", \"" + sProperty + "\", " + std::to_string(nSize) +
               ") = 0 -> \"" + sValue + "\"";
    };
    return {"KiVoSetParamStruct_str(\"BoardID" + sBoard + "/AcqProp\", \"Samplerate\", \"1000\") = 0",
            "KiVoSetParam_i32(" + sBoard + ", 258, 100) = 0",
            "KiVoSetParam_i32(" + sBoard + ", 263, 200) = 0",
            write("Mode", "RTD-Temperature"),
            write("LinearisationTable", "PTX"),
            write("Used", "True"),
            write("Excitation", "0.500000 mA"),
            write("SensorRes0", "600 Ohm"),
            write("Range", "-100.000000..200.000000 degC"),
            write("IIRFilter_VAL", "100"),
            read("Range", 48, e.sSettledRange),
            "KiVoSetParam_i32(" + sBoard + ", 16, 0) = 0",
            read("SensorRes0", 256, "600 Ohm"),
            read("Range", 256, e.sSettledRange),
            read("Excitation", 256, e.sExcitation),
            "KiVoGetParam_i32(" + sBoard + ", 770) = 0 -> " + std::to_string(e.nSampleDelay),
            "KiVoGetParam_i32(" + sBoard + ", 42) = 0 -> " + std::to_string(e.nScanSize)};
}

std::string infoBlock(const ConfigExpectation& e) {
    return "\nINFO Print-Outs:\n"
           "SensorRes0 Value:   600.000000   Ohm\n"
           "Adjusted Range:    " +
           e.sSettledRange + "\nAdjusted Exc.:      " + e.sExcitation + "\n";
}

const char kOverflowLine[] = "Measurement Buffer Overflow happened - stopping measurement\n";
const char kOverflowError[] = "\nError: measurement buffer overflow: unreleased scans were overwritten\n";

Lines startTrace(int nBoard, int nBufferBytes) {
    std::string sBoard = std::to_string(nBoard);
    return {"KiVoSetParam_i32(" + sBoard + ", 4, 0) = 0", "KiVoGetParam_i64(" + sBoard + ", 32) = 0 -> buffer+0",
            "KiVoGetParam_i64(" + sBoard + ", 33) = 0 -> buffer+" + std::to_string(nBufferBytes),
            "KiVoGetParam_i32(" + sBoard + ", 40) = 0 -> " + std::to_string(nBufferBytes)};
}

Lines overflowTrace(int nBoard, int nAvailable) {
    return {"KiVoGetParam_i32(" + std::to_string(nBoard) + ", 37) = 1794 -> " + std::to_string(nAvailable),
            "KiVoErrorConstantToString(1794) = 0 -> \"measurement buffer overflow: unreleased scans were overwritten\""};
}

std::string startLine(int nBoard, int nChannel) {
    return "\nMeasurement started on BoardID" + std::to_string(nBoard) + "/AI" + std::to_string(nChannel) + " ..\n\n\n";
}

const char kEndOfExample[] = "\nEnd Of Example\n";
const char kNoCardsMessage[] =
    "No Queno cards found. Aborting...\nPlease configure a system using the KIVO2 Explorer.\n";

bool endsWith(const std::string& s, const std::string& sTail) {
    return s.size() >= sTail.size() && s.compare(s.size() - sTail.size(), sTail.size(), sTail) == 0;
}

Lines endTrace(int nBoard) {
    std::string sBoard = std::to_string(nBoard);
    return {"KiVoSetParam_i32(" + sBoard + ", 5, 0) = 0", "KiVoSetParam_i32(" + sBoard + ", 2, 0) = 0",
            "KiVoDriverDeInit() = 0"};
}

RunResult runWith(std::vector<std::string> args, std::map<std::string, std::string> env) {
    RunOptions options;
    options.args = std::move(args);
    options.env = std::move(env);
    if (options.env.count("QUENO_SIM_SCRIPT") == 0) options.env["QUENO_SIM_SCRIPT"] = "overflow";
    RunResult result = runExample(options);
    EXPECT_FALSE(result.bTimedOut);
    return result;
}
