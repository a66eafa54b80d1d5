#include "limit_description.h"

#include "description_limits.h"

std::string limitDescription() {
    using L = qsim::DescriptionLimits;
    const int nBoards = static_cast<int>(L::kMaxBoards);
    const int nChannels = L::kMaxChannelsPerKind;
    // Each AI channel gets a copy of a five-element mode: 5 x 256 x 64 copied elements, within the limit.
    const long long nBufferScans = L::kMaxBufferBytes / (4LL * nChannels * nBoards);
    std::string sBoard = "<Board model=\"QUENO-1600-UNIV\"><Acquisition bufferScans=\"" + std::to_string(nBufferScans) +
                         "\"/><ChannelGroup kind=\"AI\" count=\"" + std::to_string(nChannels) +
                         "\"><Mode Mode=\"RTD-Temperature\"><Range><ID0>-200..850 degC</ID0><ID1>-100..200 degC</ID1>"
                         "</Range><SensorRes0 Min=\"10\" Max=\"10000\" Default=\"100\"/></Mode></ChannelGroup>"
                         "<BoardProperties><AcquisitionProperties><AcqProp><SampleRate ProgMin=\"1\" ProgMax=\"20000\" "
                         "Default=\"100\"/></AcqProp></AcquisitionProperties><ChannelProperties><CNT0>";
    std::string sText = "<QuenoSimSystem>";
    // The rest of the file's bytes go to lists of the one counter channel each board describes itself.
    const size_t nBudget = L::kMaxFileBytes - 4096;
    const size_t nPerBoard = nBudget / nBoards;
    for (int b = 0; b < nBoards; ++b) {
        std::string s = sBoard;
        for (int nMode = 0; s.size() + 200 < nPerBoard && nMode < static_cast<int>(L::kMaxModesPerChannel); ++nMode) {
            s += "<Mode Mode=\"M" + std::to_string(nMode) + "\"><Gate>";
            for (size_t e = 0; e < L::kMaxListEntries && s.size() + 40 < nPerBoard; ++e) {
                s += "<ID" + std::to_string(e) + ">" + std::to_string(e) + "</ID" + std::to_string(e) + ">";
            }
            s += "</Gate></Mode>";
        }
        sText += s + "</CNT0></ChannelProperties></BoardProperties></Board>";
    }
    return sText + "</QuenoSimSystem>";
}
