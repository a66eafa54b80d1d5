// A system description as large as the simulator accepts: as many boards, channels, copied mode
// elements, ring-buffer bytes and file bytes as its limits allow.
#pragma once

#include <string>

std::string limitDescription();
