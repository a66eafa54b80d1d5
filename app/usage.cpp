// What the example says about itself: --help, --version, and a refusal of options it lacks. All of
// it happens before the driver is loaded, so asking for help never touches a board.
#include <stdio.h>
#include <string.h>

#include "example.h"

namespace {

const char kUsage[] =
    "Usage: rtd_example [BOARD [CHANNEL]]\n"
    "Measures the temperature of an RTD on one analogue input of a QUENO-1600-UNIV board and prints\n"
    "every tenth sample, raw and in degrees Celsius.\n"
    "\n"
    "  BOARD     the board id, from 0 (default 0); queno_info lists the boards\n"
    "  CHANNEL   the analogue input, 0 to 7 (default 0)\n"
    "  -h, --help     this text\n"
    "      --version  the version\n"
    "\n"
    "Any key ends the measurement, as do Ctrl-C, SIGTERM and SIGHUP; the board is stopped and closed.\n"
    "\n"
    "The driver, libkvpxi_api.so, is looked for on the library search path, then beside the program.\n"
    "Without a board, run it on the simulated driver:  queno-sim rtd_example\n"
    "\n"
    "Exit status: 0 the close succeeded; 1 no driver, no boards, a board of another model, a refused\n"
    "start, or output that could not be written; 2 a rejected board id or channel; 128 + signal when\n"
    "stopped before the board was opened; otherwise the close command's result.\n";

}  // namespace

extern "C" int HandleInformationArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
            fputs(kUsage, stdout);
            return 0;
        }
        if (strcmp(argv[i], "--version") == 0) {
            fputs("rtd_example " QUENO_VERSION "\n", stdout);
            return 0;
        }
    }
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--", 2) == 0) {
            fprintf(stderr, "rtd_example: unknown option %s\n%s", argv[i], kUsage);
            return 2;
        }
    }
    return -1;
}
