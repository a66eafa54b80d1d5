// The RTD channel configuration: the example's fixed settings, written in a fixed order.
#include <stdio.h>
#include <stdlib.h>

#include "example.h"
#include "kivo_api.h"
#include "run_text.h"
#include "scaling.h"

namespace {

// The example measures a PT-type RTD with 0.5 mA excitation over -100..200 degC.
constexpr const char* kSampleRate = "1000";
constexpr int32_t kBoardSetting258 = 100;
constexpr int32_t kBoardSetting263 = 200;
constexpr double kExcitationCurrent = 0.5;
constexpr int kSensorResistance = 600;
constexpr double kRangeMin = -100.0;
constexpr double kRangeMax = 200.0;
constexpr int kSampleResolution = 24;

void writeChannel(const RunState* pRun, const char* sProperty, const char* sValue) {
    CheckError(KiVoSetParamStruct_str(pRun->sChannelPath, sProperty, sValue));
}

// Reads a channel property into sReadBack. A failed read leaves what the driver left there; the
// last byte is kept a terminator so the text never runs past the buffer.
void readBack(RunState* pRun, const char* sProperty) {
    CheckError(KiVoGetParamStruct_str(pRun->sChannelPath, sProperty, pRun->sReadBack, sizeof(pRun->sReadBack)));
    pRun->sReadBack[sizeof(pRun->sReadBack) - 1] = '\0';
}

void printInformationBlock(RunState* pRun) {
    printf("\nINFO Print-Outs:\n");

    readBack(pRun, "SensorRes0");
    // The number, then everything after it (the unit with its leading space).
    char* sRest = nullptr;
    double dResistance = strtod(pRun->sReadBack, &sRest);
    printf("SensorRes0 Value:   %f  %s\n", dResistance, sRest);

    readBack(pRun, "Range");
    printf("Adjusted Range:    %s\n", pRun->sReadBack);

    readBack(pRun, "Excitation");
    printf("Adjusted Exc.:      %s\n", pRun->sReadBack);
}

}  // namespace

extern "C" void ConfigureRtdChannel(RunState* pRun) {
    FormatRunText(pRun->sAcqPath, sizeof(pRun->sAcqPath), "BoardID%d/AcqProp", static_cast<int>(pRun->nBoardId));
    CheckError(KiVoSetParamStruct_str(pRun->sAcqPath, "Samplerate", kSampleRate));

    CheckError(KiVoSetParam_i32(pRun->nBoardId, ParamBoardSetting258, kBoardSetting258));
    CheckError(KiVoSetParam_i32(pRun->nBoardId, ParamBoardSetting263, kBoardSetting263));

    FormatRunText(pRun->sExcitation, sizeof(pRun->sExcitation), "%f %s", kExcitationCurrent, "mA");
    FormatRunText(pRun->sRange, sizeof(pRun->sRange), "%f..%f degC", kRangeMin, kRangeMax);
    FormatRunText(pRun->sSensorRes, sizeof(pRun->sSensorRes), "%d %s", kSensorResistance, "Ohm");
    FormatRunText(pRun->sChannelPath, sizeof(pRun->sChannelPath), "%s/AI%d", pRun->sBoardPath,
                  static_cast<int>(pRun->nChannelNo));

    // The order matters to the driver: the mode first, the range last but one.
    writeChannel(pRun, "Mode", "RTD-Temperature");
    writeChannel(pRun, "LinearisationTable", "PTX");
    writeChannel(pRun, "Used", "True");
    writeChannel(pRun, "Excitation", pRun->sExcitation);
    writeChannel(pRun, "SensorRes0", pRun->sSensorRes);
    writeChannel(pRun, "Range", pRun->sRange);
    writeChannel(pRun, "IIRFilter_VAL", "100");

    // The scaling follows the range the driver settled on, which may differ from the one written.
    CheckError(GetAdjustedRange(pRun->sChannelPath, pRun->dAdjustedRange));
    CalcScaling(&pRun->scaleInfo, kSampleResolution, pRun->dAdjustedRange[0], pRun->dAdjustedRange[1]);

    CheckError(KiVoSetParam_i32(pRun->nBoardId, ParamApplySettings, 0));

    printInformationBlock(pRun);

    CheckError(KiVoGetParam_i32(pRun->nBoardId, ParamSampleDelay, &pRun->nSampleDelay));
    CheckError(KiVoGetParam_i32(pRun->nBoardId, ParamScanSize, &pRun->nScanSize));
}
