// A text as a JSON string, quotes included: quotes, backslashes and control characters escaped.
// The SigMF metadata and the MQTT meta message are written with it.
#pragma once

#include <string>

namespace qlog {

std::string jsonText(const std::string& s);

}  // namespace qlog
