/*
 * queno_info: what boards the driver sees, and what each channel can do.
 *
 * Usage: queno_info [board id] [--json] [--paths] [--network] [--adapters] [--help]
 *
 * Loads the driver the way the examples do (the library search path first, then the program's own
 * directory), initialises it, reads every board (or the one given) through the utility library's
 * queries and prints an indented tree, or one JSON document with --json. De-initialises and
 * unloads the driver on every path.
 *
 * Exit status: 0 when everything was read, 1 when the driver could not be loaded or initialised,
 * the board id was rejected or an option is unknown, 2 when some query failed (each failure is
 * reported on standard error and the listing goes on).
 */
#include <stdio.h>
#include <string.h>

#include "arguments.h"
#include "board_inventory.h"
#include "kivo_api.h"
#include "reports.h"

namespace {

const char kUsage[] =
    "Usage: queno_info [BOARD] [--json] [--paths] [--network] [--adapters] [--help]\n"
    "Lists the boards the QUENO driver sees: id, name, sample-rate limits, AI resolutions, the number\n"
    "of channels of each kind, and for every channel its modes with their lists and settings.\n"
    "\n"
    "  BOARD       only this board id (the first argument)\n"
    "  --json      one JSON document instead of the text tree\n"
    "  --paths     also the driver's system paths\n"
    "  --network   also the driver's network enumeration\n"
    "  --adapters  also the sensor-adapter table\n"
    "  --help      this text\n"
    "\n"
    "Exit status: 0 all read, 1 no driver, no initialisation, a rejected board or a bad option,\n"
    "2 some query failed.\n";

const char* const kOptions[] = {"--json", "--paths", "--network", "--adapters", "--help"};

bool isOption(const char* sArgument) {
    for (const char* sOption : kOptions) {
        if (strcmp(sArgument, sOption) == 0) return true;
    }
    return false;
}

// A board id is a number in the first argument; anything else there is an option.
bool firstArgumentIsNumber(int argc, char** argv) {
    if (argc < 2) return false;
    const char* s = argv[1];
    if (*s == '-' || *s == '+') ++s;
    return *s >= '0' && *s <= '9';
}

int endWith(int nStatus, const char* sMessage) {
    UnloadQuenoApi(sMessage);
    return nStatus;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (!isOption(argv[i]) && !(i == 1 && firstArgumentIsNumber(argc, argv))) {
            fprintf(stderr, "queno_info: unknown argument \"%s\"\n%s", argv[i], kUsage);
            return 1;
        }
    }
    if (ARG_GetBooleanOption(argc, argv, "--help")) {
        fputs(kUsage, stdout);
        return 0;
    }

    if (LoadQuenoApi() != 0) return 1;
    info::countFailedReads();
    int32_t nBoardCount = 0;
    if (CheckError(KiVoDriverInit(&nBoardCount)) != 0) {
        return endWith(1, "queno_info: the driver could not be initialised\n");
    }
    if (nBoardCount < 0) nBoardCount = nBoardCount == INT32_MIN ? INT32_MAX : -nBoardCount;

    info::Inventory inventory;
    if (firstArgumentIsNumber(argc, argv)) {
        int32_t nBoardId = 0;
        if (ARG_GetBoardId(argc, argv, nBoardCount, &nBoardId) != 1 || nBoardId < 0) {
            fprintf(stderr, "queno_info: no board %s: the driver reports %d board%s\n", argv[1],
                    static_cast<int>(nBoardCount), nBoardCount == 1 ? "" : "s");
            return endWith(1, nullptr);
        }
        inventory.boards.push_back(info::readBoard(nBoardId));
    } else {
        for (int32_t nBoardId = 0; nBoardId < nBoardCount; ++nBoardId) inventory.boards.push_back(info::readBoard(nBoardId));
    }
    inventory.bPaths = ARG_GetBooleanOption(argc, argv, "--paths");
    inventory.bNetwork = ARG_GetBooleanOption(argc, argv, "--network");
    inventory.bAdapters = ARG_GetBooleanOption(argc, argv, "--adapters");
    if (inventory.bPaths) inventory.systemPaths = info::readSystemPaths();
    if (inventory.bNetwork) inventory.sNetwork = info::readNetworkEnumeration();
    if (inventory.bAdapters) inventory.adapters = info::readAdapters();

    if (ARG_GetBooleanOption(argc, argv, "--json")) {
        info::printJsonReport(inventory);
    } else {
        info::printTextReport(inventory);
    }
    return endWith(info::failedReads() > 0 ? 2 : 0, nullptr);
}
