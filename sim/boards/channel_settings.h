// The settings of one channel, checked against the modes its description node offers.
//
// Under <Mode Mode="..."> a child element names a property the mode accepts: one with ID0, ID1, ...
// children is a list of the values offered (a written value is settled on the matching entry),
// one with Min/Max attributes a number within those limits (with an optional Unit). "Range" is
// settled on the smallest offered range that holds the written one.
#pragma once

#include <libxml/tree.h>
#include <stdint.h>

#include <map>
#include <string>

#include "plain_text.h"

namespace qsim {

class ChannelSettings {
public:
    ChannelSettings(xmlNodePtr pChannelNode, int32_t nResolution);

    int32_t write(const std::string& sProperty, const std::string& sValue);
    int32_t read(const std::string& sProperty, std::string* pValue) const;

    bool used() const { return bUsed_; }
    const std::string& mode() const { return sMode_; }
    const RangeText& range() const { return range_; }
    // The IIR filter setting, 0 when the mode has none.
    double filter() const;

private:
    xmlNodePtr findMode(const std::string& sMode) const;
    void enterMode(xmlNodePtr pMode);
    int32_t writeRange(const std::string& sValue);
    int32_t writeListEntry(xmlNodePtr pList, const std::string& sProperty, const std::string& sValue);
    int32_t writeNumber(xmlNodePtr pLimits, const std::string& sProperty, const std::string& sValue);

    xmlNodePtr pChannel_;
    xmlNodePtr pMode_ = nullptr;
    int32_t nResolution_;
    std::string sMode_;
    bool bUsed_ = false;
    RangeText range_;
    std::map<std::string, std::string> values_;  // settled texts of the mode's other properties
};

}  // namespace qsim
