#include "result_texts.h"

#include <map>
#include <mutex>
#include <string>

#include "kivo_codes.h"

namespace qsim {

namespace {

struct KnownText {
    int32_t nResult;
    const char* sText;
};

constexpr KnownText kKnownTexts[] = {
    {ResultOk, "success"},
    {ResultTextTruncated, "warning: the answer was cut to fit the caller's buffer"},
    {ResultSettingsNotApplied, "warning: settings were changed after the last apply command"},
    {ResultGeneralError, "general error"},
    {ResultNotInitialized, "driver is not initialised (call KiVoDriverInit first)"},
    {ResultInvalidBoard, "no board with this board id"},
    {ResultBoardNotOpen, "board is not open"},
    {ResultBoardAlreadyOpen, "board is already open"},
    {ResultAcqRunning, "not allowed while the acquisition is running"},
    {ResultNoChannelUsed, "no channel of the board is marked as used"},
    {ResultUnknownCommand, "unknown command code"},
    {ResultInvalidValue, "invalid value for this command"},
    {ResultReadOnlyCommand, "command can only be read"},
    {ResultWriteOnlyCommand, "command can only be written"},
    {ResultNullArgument, "a required argument is null"},
    {ResultUnknownTarget, "unknown property target"},
    {ResultUnknownProperty, "unknown property for this target or channel mode"},
    {ResultInvalidPropertyValue, "invalid property value"},
    {ResultModeNotAvailable, "mode is not available on this channel"},
    {ResultRangeNotAvailable, "range is not available in this channel mode"},
    {ResultReadOnlyProperty, "property can only be read"},
    {ResultSampleRateOutOfLimits, "sample rate is outside the board's limits"},
    {ResultNotSupported, "function is not supported by the simulated driver"},
    {ResultAcqNotRunning, "acquisition is not running"},
    {ResultReleaseTooMany, "more scans released than are available"},
    {ResultOutOfMemory, "out of memory"},
    {ResultInvalidQuery, "invalid query"},
    {ResultQueryNoMatch, "query matched nothing"},
    {ResultSystemDescriptionInvalid, "system description could not be loaded"},
    {ResultBufferOverflow, "measurement buffer overflow: unreleased scans were overwritten"},
    {ResultPathNotFound, "path not found"},
    {ResultBufferTooSmall, "buffer too small"},
};

}  // namespace

const char* resultText(int32_t nResult) {
    for (const KnownText& known : kKnownTexts) {
        if (known.nResult == nResult) return known.sText;
    }
    // Unknown codes get a text of their own that stays valid: callers print it and never free it.
    static std::mutex mutex;
    static std::map<int32_t, std::string> unknownTexts;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = unknownTexts.find(nResult);
    if (it == unknownTexts.end()) {
        it = unknownTexts.emplace(nResult, "unknown result code " + std::to_string(nResult)).first;
    }
    return it->second.c_str();
}

}  // namespace qsim
