// Queries of the board description: an XPath 1.0 expression evaluated relative to a base node
// ("BoardID<n>/BoardProperties", or any element path below a board).
#pragma once

#include <stdint.h>

#include <string>

#include "system_description.h"

namespace qsim {

// The answer as text: a number in decimal (whole numbers without a fraction), a string as it is,
// a boolean as "true" or "false", a node set as the text content of its first node. Result codes:
// unknown base node, invalid query, a node set that matched nothing.
int32_t evaluateQuery(const SystemDescription& system, const char* sBase, const char* sQuery, std::string* pAnswer);

}  // namespace qsim
