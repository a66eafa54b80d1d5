#include "json_text.h"

#include <stdio.h>

namespace qlog {

std::string jsonText(const std::string& s) {
    std::string sOut = "\"";
    for (char c : s) {
        unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            sOut += '\\';
            sOut += c;
        } else if (u < 0x20) {
            char sEscape[8];
            snprintf(sEscape, sizeof(sEscape), "\\u%04x", u);
            sOut += sEscape;
        } else {
            sOut += c;
        }
    }
    return sOut + "\"";
}

}  // namespace qlog
