// queno_log with the channels of several boards: one acquisition core per board, each set up and
// started right after the other and read on its own, so that an overflow or a fault on one costs
// that board a gap and not the others. Each board writes files of its own (<base>-board<id>.csv, or
// a SigMF pair per board and <base>.sigmf-collection naming them), with times from the board's
// clock fitted to the host's, so that every file's times are on one base.
#pragma once

#include "acquisition_core.h"
#include "log_options.h"

namespace qlog {

// The run, from loading the driver to its exit status (as queno_log's: 0, 1, 2, 3 or 128 + signal).
int recordSeveralBoards(LogOptions& options, MessageSink& messages);

}  // namespace qlog
