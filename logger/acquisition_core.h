// The recorder stands on the acquisition core (acquisition/): one board set up, its ring buffer
// read into a queue with the gaps placed, the exact scan clock. Its names are used in the recorder
// as they are.
#pragma once

#include "acquirer.h"
#include "board_config.h"
#include "board_setup.h"
#include "channel_request.h"
#include "host_clock.h"
#include "messages.h"
#include "scan_clock.h"
#include "scan_queue.h"

namespace qlog {
using namespace qacq;
}  // namespace qlog
