// The driver and the boards as the Python module holds them. The driver is loaded when the first
// board opens (or for a moment, to list the boards) and unloaded when the last one closes; a board
// is opened and reset once, and configured anew for every acquisition of it.
#pragma once

#include <locale.h>
#include <stdint.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "board_inventory.h"
#include "board_setup.h"
#include "session_error.h"

namespace qpy {

class AcquisitionSession;

// A use of the loaded driver: the first loads and initialises it, the last one gone unloads it.
// Throws DriverNotFound with the loader's reason.
class DriverUse {
public:
    DriverUse();
    ~DriverUse();
    DriverUse(const DriverUse&) = delete;
    DriverUse& operator=(const DriverUse&) = delete;
};

// Every board the driver has, as queno_info lists them.
std::vector<info::BoardInfo> listBoards();

// Numbers in the C locale on this thread while it lives: a script's setlocale (de_DE writes
// "333,5") must not change what goes to the driver or what is read back from it.
class CLocale {
public:
    CLocale();
    ~CLocale();
    CLocale(const CLocale&) = delete;
    CLocale& operator=(const CLocale&) = delete;

private:
    locale_t previous_;
};

// True in the process that loaded the driver; false in a child forked from it, which owns neither
// the boards nor the acquisition threads (fork copies the calling thread only) and must leave them
// to its parent.
bool inDriverProcess();

// The process-wide lock around driver calls of the setup, the acquisition and the board list, with
// the C locale for their duration.
std::mutex& driverMutex();
class DriverLock {
public:
    DriverLock() : lock_(driverMutex()) {}

private:
    std::lock_guard<std::mutex> lock_;
    CLocale locale_;
};

struct ScanRequest {
    std::vector<std::string> channels;  // queno_log's CHANNEL syntax
    double dRate = 1000;
    bool bRaiseOnGap = false;
    bool bKeepLimits = false;
};

class BoardSession : public std::enable_shared_from_this<BoardSession> {
public:
    // Opens board nId, or the board with this serial number when sSerial is not empty.
    static std::shared_ptr<BoardSession> open(int32_t nId, const std::string& sSerial);
    ~BoardSession();

    const qacq::BoardSetup& setup() const { return board_; }
    KeptMessages& messages() { return messages_; }
    bool isOpen() const { return bOpen_; }
    // Configures the board and starts an acquisition; one at a time.
    std::shared_ptr<AcquisitionSession> scan(const ScanRequest& request);
    // Stops a running scan and closes the board; the driver is unloaded with the last board.
    void close();
    // Every board still open, closed (at the interpreter's exit).
    static void closeAll();

private:
    BoardSession() = default;
    void reopen();

    std::unique_ptr<DriverUse> driver_;
    qacq::BoardConfig config_;
    qacq::BoardSetup board_;
    KeptMessages messages_;
    bool bOpen_ = false;
    bool bConfigured_ = false;  // a scan configured the board: the next one resets it first
    std::weak_ptr<AcquisitionSession> scan_;
};

}  // namespace qpy
