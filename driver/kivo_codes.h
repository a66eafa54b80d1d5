/*
 * Numbers of the driver contract: command codes and result codes.
 *
 * This is the only header that the simulated driver shares with the example, so it holds plain
 * numbers and nothing else. Result codes: 0 is success, a positive code an error, a negative code a
 * warning.
 */
#ifndef KIVO_CODES_H
#define KIVO_CODES_H

/* Command codes of KiVoSetParam_i32, KiVoGetParam_i32 and KiVoGetParam_i64. */
enum KiVoCommand {
    ParamOpenBoard = 1,
    ParamCloseBoard = 2,
    ParamResetBoard = 3,
    ParamStartAcq = 4,
    ParamStopAcq = 5,
    ParamApplySettings = 16,
    ParamBufferQuery32 = 32,
    ParamBufferEnd = 33,
    ParamAvailableSamples = 37,
    ParamReadPosition = 38,
    ParamReleaseSamples = 39,
    ParamBufferSize = 40,
    ParamScanSize = 42,
    ParamBoardSetting258 = 258,
    ParamBoardSetting263 = 263,
    ParamSampleDelay = 770
};

/* Result codes. The example itself relies on ResultBufferOverflow, ResultPathNotFound and
 * ResultBufferTooSmall; the others are the simulated driver's own. */
enum KiVoResult {
    ResultOk = 0,

    /* warnings */
    ResultTextTruncated = -1101,    /* the answer was cut to fit the caller's buffer */
    ResultSettingsNotApplied = -1201, /* settings changed since the last apply command */

    /* errors */
    ResultGeneralError = 1,
    ResultNotInitialized = 1001,
    ResultInvalidBoard = 1002,
    ResultBoardNotOpen = 1003,
    ResultBoardAlreadyOpen = 1004,
    ResultAcqRunning = 1005,
    ResultNoChannelUsed = 1006,
    ResultAlreadyInitialized = 1007,
    ResultUnknownCommand = 1010,
    ResultInvalidValue = 1011,
    ResultReadOnlyCommand = 1012,
    ResultWriteOnlyCommand = 1013,
    ResultNullArgument = 1014,
    ResultUnknownTarget = 1020,
    ResultUnknownProperty = 1021,
    ResultInvalidPropertyValue = 1022,
    ResultModeNotAvailable = 1023,
    ResultRangeNotAvailable = 1024,
    ResultReadOnlyProperty = 1025,
    ResultSampleRateOutOfLimits = 1026,
    ResultNotSupported = 1030,
    ResultAcqNotRunning = 1040,
    ResultReleaseTooMany = 1041,
    ResultOutOfMemory = 1050,
    ResultInvalidQuery = 1100,
    ResultQueryNoMatch = 1102,
    ResultSystemDescriptionInvalid = 1200,
    ResultBufferOverflow = 1794,
    ResultPathNotFound = 100007,
    ResultBufferTooSmall = 230001
};

#endif /* KIVO_CODES_H */
