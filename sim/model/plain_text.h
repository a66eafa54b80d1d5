// Texts as the simulator's users write them: white space around a value, "min..max unit" ranges.
#pragma once

#include <string>

namespace qsim {

std::string trimWhiteSpace(const std::string& s);

struct RangeText {
    double dMin = 0;
    double dMax = 0;
    std::string sUnit;
};

// Reads "min..max unit"; false when the text is not of that form.
bool parseRangeText(const std::string& sText, RangeText* pRange);
std::string formatRangeText(const RangeText& range);

}  // namespace qsim
