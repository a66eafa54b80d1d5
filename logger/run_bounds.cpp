#include "run_bounds.h"

#include <math.h>

#include <string>

#include "kivo_api.h"
#include "program_messages.h"

namespace qlog {

uint64_t scanLimit(const LogOptions& options, double dRate) {
    uint64_t nLimit = options.nScans > 0 ? options.nScans : UINT64_MAX;
    if (options.dDurationSeconds > 0) {
        double dScans = ceil(options.dDurationSeconds * dRate);
        if (dScans < static_cast<double>(nLimit)) nLimit = dScans < 1 ? 1 : static_cast<uint64_t>(dScans);
    }
    return nLimit;
}

uint64_t spoolRows(const LogOptions& options) {
    if (options.mqtt.nSpoolRows > 0) return options.mqtt.nSpoolRows;
    double dRows = ceil(3600.0 * options.board.dRate / options.nAverage);
    return dRows < 1000 ? 1000 : (dRows > 4e6 ? 4000000 : static_cast<uint64_t>(dRows));
}

bool loadDriver() {
    if (KiVoPxiLoad() > 0) return true;
    say(std::string("the QUENO driver (") + KIVO_DRIVER_LIBRARY +
        ") could not be loaded: install the driver, or run the logger on the simulated board with: queno-sim queno_log ...");
    return false;
}

}  // namespace qlog
