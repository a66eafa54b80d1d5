/*
 * queno_info: what boards the driver sees, and what each channel can do.
 *
 * Usage: queno_info [board id] [--json] [--paths] [--network] [--adapters] [--help] [--version]
 *        (in any order)
 *
 * Loads the driver the way the examples do (the library search path first, then the program's own
 * directory), initialises it, reads every board (or the one given) through the utility library's
 * queries and prints an indented tree, or one JSON document with --json. De-initialises and
 * unloads the driver on every path. Standard output holds the report and nothing else: a missing
 * driver or a system without boards is said on standard error.
 *
 * Exit status: 0 when everything was read, 1 when the driver could not be loaded or initialised,
 * found no boards, the board id was rejected or an option is unknown, 2 when some query failed or
 * its answer was cut (each is reported on standard error and the listing goes on).
 */
#include <stdio.h>
#include <string.h>

#include <string>

#include "arguments.h"
#include "board_inventory.h"
#include "kivo_api.h"
#include "reports.h"

namespace {

struct InfoOptions {
    bool bJson = false, bPaths = false, bNetwork = false, bAdapters = false, bHelp = false, bVersion = false;
    const char* sBoard = nullptr;  // the board id as given
};

// The options, with what the usage says of each: the usage is made from this table.
const struct InfoFlag {
    const char* sName;
    bool InfoOptions::*pFlag;
    const char* sHelp;  // null: an alias, not listed
} kFlags[] = {{"--json", &InfoOptions::bJson, "one JSON document instead of the text tree"},
              {"--paths", &InfoOptions::bPaths, "also the driver's system paths"},
              {"--network", &InfoOptions::bNetwork, "also the driver's network enumeration"},
              {"--adapters", &InfoOptions::bAdapters, "also the sensor-adapter table"},
              {"--help", &InfoOptions::bHelp, "this text"},
              {"-h", &InfoOptions::bHelp, nullptr},
              {"--version", &InfoOptions::bVersion, "the version"}};

std::string usage() {
    std::string sFlags, sLines;
    for (const InfoFlag& flag : kFlags) {
        if (flag.sHelp == nullptr) continue;
        sFlags += std::string(" [") + flag.sName + "]";
        sLines += "  " + std::string(flag.sName) + std::string(12 - strlen(flag.sName), ' ') + flag.sHelp + "\n";
    }
    return "Usage: queno_info [BOARD]" + sFlags +
           "\nLists the boards the QUENO driver sees: id, name, serial, sample-rate limits, AI resolutions, the\n"
           "number of channels of each kind, and for every channel its modes with their lists and settings.\n"
           "\n"
           "  BOARD       only this board id\n" +
           sLines +
           "\n"
           "Without a board: queno-sim queno_info\n"
           "Exit status: 0 all read, 1 no driver, no boards, a rejected board or a bad option,\n"
           "2 some query failed.\n";
}

bool isNumber(const char* s) {
    if (*s == '-' || *s == '+') ++s;
    return *s >= '0' && *s <= '9';
}

// Options and the board id in any order. False, after saying why, for anything else.
bool parseOptions(int argc, char** argv, InfoOptions* pOptions) {
    for (int i = 1; i < argc; ++i) {
        bool bKnown = false;
        for (const auto& flag : kFlags) {
            if (strcmp(argv[i], flag.sName) == 0) {
                pOptions->*flag.pFlag = true;
                bKnown = true;
            }
        }
        if (!bKnown && pOptions->sBoard == nullptr && isNumber(argv[i])) {
            pOptions->sBoard = argv[i];  // "-1" too: it is refused as a board, not as an option
            bKnown = true;
        }
        if (!bKnown) {
            fprintf(stderr, "queno_info: unknown argument \"%s\"\n%s", argv[i], usage().c_str());
            return false;
        }
    }
    return true;
}

int endWith(int nStatus, const char* sMessage) {
    UnloadQuenoApi(sMessage);
    return nStatus;
}

}  // namespace

void info::sayInventoryNote(const std::string& sText) { fprintf(stderr, "queno_info: %s\n", sText.c_str()); }

int main(int argc, char** argv) {
    InfoOptions options;
    if (!parseOptions(argc, argv, &options)) return 1;
    if (options.bHelp) {
        fputs(usage().c_str(), stdout);
        return 0;
    }
    if (options.bVersion) {
        fputs("queno_info " QUENO_VERSION "\n", stdout);
        return 0;
    }

    // The loader's own entry point: the examples' wrapper would write to standard output.
    if (KiVoPxiLoad() == 0) {
        fprintf(stderr,
                "queno_info: the QUENO driver (%s) could not be loaded: install the driver, or list the simulated "
                "boards with: queno-sim queno_info\n",
                KIVO_DRIVER_LIBRARY);
        return 1;
    }
    info::countFailedReads();
    int32_t nBoardCount = 0;
    // A failed initialisation is said once, in the driver's words; a warning is reported and passed.
    const int32_t nInit = KiVoDriverInit(&nBoardCount);
    if (nInit > 0) {
        const char* sText = KiVoErrorConstantToString(nInit);
        const std::string sMessage = std::string("queno_info: the driver could not be initialised: ") +
                                     (sText != nullptr && sText[0] != '\0' ? sText : "driver result " + std::to_string(nInit)) + "\n";
        return endWith(1, sMessage.c_str());
    }
    CheckError(nInit);
    if (nBoardCount < 0) nBoardCount = nBoardCount == INT32_MIN ? INT32_MAX : -nBoardCount;
    if (nBoardCount == 0) return endWith(1, "queno_info: the driver finds no QUENO board\n");

    info::Inventory inventory;
    if (options.sBoard != nullptr) {
        char sProgram[] = "queno_info";
        char* boardArgs[] = {sProgram, const_cast<char*>(options.sBoard), nullptr};
        int32_t nBoardId = 0;
        if (ARG_GetBoardId(2, boardArgs, nBoardCount, &nBoardId) != 1) {
            fprintf(stderr, "queno_info: no board %s: the driver reports %d board%s\n", options.sBoard,
                    static_cast<int>(nBoardCount), nBoardCount == 1 ? "" : "s");
            return endWith(1, nullptr);
        }
        inventory.boards.push_back(info::readBoard(nBoardId));
    } else {
        for (int32_t nBoardId = 0; nBoardId < nBoardCount; ++nBoardId) inventory.boards.push_back(info::readBoard(nBoardId));
    }
    inventory.bPaths = options.bPaths;
    inventory.bNetwork = options.bNetwork;
    inventory.bAdapters = options.bAdapters;
    if (inventory.bPaths) inventory.systemPaths = info::readSystemPaths();
    if (inventory.bNetwork) inventory.sNetwork = info::readNetworkEnumeration();
    if (inventory.bAdapters) inventory.adapters = info::readAdapters();

    if (options.bJson) {
        info::printJsonReport(inventory);
    } else {
        info::printTextReport(inventory);
    }
    return endWith(info::failedReads() > 0 ? 2 : 0, nullptr);
}
