/*
 * RTD temperature measurement on a QUENO-1600-UNIV board.
 *
 * Demonstrates how to bind the board driver at run time, select a board and an analogue-input
 * channel from the command line, make sure the board is a supported model, configure the channel
 * for an RTD through the driver's string properties, and read the driver's ring buffer in place
 * while the board acquires.
 *
 * Usage: rtd_example [board id [channel number]]   (both default to 0); --help, --version
 *
 * Steps:
 *   1. load the driver library and bind its entry points
 *   2. initialise the driver and learn the number of boards
 *   3. take board id and channel number from the command line
 *   4. open and reset the board, check its model
 *   5. configure the channel for RTD measurement and derive the scaling from the settled range
 *   6. start the acquisition, then poll the ring buffer about every 10 ms and print every tenth
 *      sample raw and in degrees Celsius, until a key is pressed or the buffer overflows
 *   7. stop, close the board, unload the driver
 *
 * SIGINT, SIGTERM and SIGHUP end the run like a key: from the open of the board on through step 7,
 * before it with the driver unloaded and status 128 + signal. A measurement whose output cannot be
 * written (a closed pipe, a full disk) ends the same way, with a message and status 1.
 *
 * Exit status: 1 when the driver cannot be loaded, there are no boards, the board is of another
 * model or the start is refused; 2 for a rejected board id or channel (or an unknown option); the
 * result of the close command at the normal end (1 when it failed with a code that would read as 0).
 */
#include "example.h"
#include "board_model.h"
#include "kivo_api.h"
#include "stop_signals.h"

namespace {
// An early end says with its status why the run did not measure.
constexpr int kStatusFailed = 1;    // no boards, a board of another model, a refused start
constexpr int kStatusRejected = 2;  // a board id or channel the command line got wrong

int endEarly(const char* sMessage, int nStatus) {
    UnloadQuenoApi(sMessage);
    return nStatus;
}
}  // namespace

int main(int argc, char** argv) {
    RunState run = {};
    int nInformation = HandleInformationArguments(argc, argv);
    if (nInformation >= 0) return nInformation;
    InstallStopSignals();

    if (LoadQuenoApi() != 0) return 1;

    InitDriver(&run);
    if (run.nBoardCount == 0) {
        return endEarly("No Queno cards found. Aborting...\nPlease configure a system using the KIVO2 Explorer.\n",
                        kStatusFailed);
    }
    if (StopSignalReceived()) return EndBeforeOpen();
    if (!SelectBoard(argc, argv, &run)) return endEarly(run.sErrorText, kStatusRejected);
    if (!SelectChannel(argc, argv, &run)) return endEarly(run.sErrorText, kStatusRejected);
    if (StopSignalReceived()) return EndBeforeOpen();

    OpenBoard(&run);
    if (!TestBoardType(run.nBoardId, sBoardNameNeeded)) return endEarly(nullptr, kStatusFailed);
    if (StopSignalReceived()) return RunExitStatus(&run, EndRun(&run));

    ConfigureRtdChannel(&run);
    if (StopSignalReceived()) return RunExitStatus(&run, EndRun(&run));
    if (!StartAcquisition(&run)) return endEarly(run.sErrorText, kStatusFailed);
    RunMeasurement(&run);

    return RunExitStatus(&run, EndRun(&run));
}
