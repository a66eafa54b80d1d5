#include "board_session.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>

#include "acquisition_session.h"
#include "kivo_api.h"
#include "messages.h"

namespace qpy {

namespace {

std::mutex gUseMutex;
int gnUses = 0;
pid_t gnDriverProcess = 0;  // the process that loaded the driver

std::mutex gBoardsMutex;
std::vector<BoardSession*> gOpenBoards;

}  // namespace

CLocale::CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    previous_ = c != static_cast<locale_t>(0) ? uselocale(c) : static_cast<locale_t>(0);
}

CLocale::~CLocale() {
    if (previous_ != static_cast<locale_t>(0)) uselocale(previous_);
}

std::mutex& driverMutex() {
    static std::mutex mutex;
    return mutex;
}

DriverUse::DriverUse() {
    std::lock_guard<std::mutex> lock(gUseMutex);
    CLocale locale;  // the driver reads its configuration as it loads
    if (gnUses == 0) {
        // The loader says on standard error why a library did not load; asked first here, the
        // reason goes into the exception instead.
        void* hProbe = dlopen(KIVO_DRIVER_LIBRARY, RTLD_LAZY);
        if (hProbe == nullptr) {
            const char* sWhy = dlerror();
            throw SessionError(ErrorKind::DriverNotFound,
                               std::string("the QUENO driver could not be loaded: ") + (sWhy != nullptr ? sWhy : KIVO_DRIVER_LIBRARY) +
                                   " (on the simulated driver: queno-sim python3 ...)");
        }
        const int32_t nLevel = KiVoPxiLoadByName(KIVO_DRIVER_LIBRARY);
        gnDriverProcess = getpid();
        dlclose(hProbe);
        if (nLevel == 0) {
            throw SessionError(ErrorKind::DriverNotFound,
                               "the QUENO driver " KIVO_DRIVER_LIBRARY " lacks entry points this package needs");
        }
    }
    ++gnUses;
}

bool inDriverProcess() { return gnDriverProcess == 0 || gnDriverProcess == getpid(); }

DriverUse::~DriverUse() {
    if (!inDriverProcess()) return;  // the parent's driver: a child leaves it alone
    std::lock_guard<std::mutex> lock(gUseMutex);
    if (--gnUses == 0) KiVoPxiUnload();
}

std::vector<info::BoardInfo> listBoards() {
    DriverUse driver;
    DriverLock lock;
    int32_t nBoards = 0;
    const int32_t nInit = KiVoDriverInit(&nBoards);
    if (nInit > 0) throw SessionError(ErrorKind::Error, "the driver could not be initialised: " + qacq::driverText(nInit), nInit);
    std::vector<info::BoardInfo> boards;
    for (int32_t nId = 0; nId < nBoards && nId < 1024; ++nId) boards.push_back(info::readBoard(nId));
    return boards;
}

std::shared_ptr<BoardSession> BoardSession::open(int32_t nId, const std::string& sSerial) {
    std::shared_ptr<BoardSession> session(new BoardSession());
    session->driver_.reset(new DriverUse());
    session->config_.nBoardId = nId;
    session->config_.sBoardSerial = sSerial;
    {
        std::lock_guard<std::mutex> lock(gBoardsMutex);
        for (const BoardSession* other : gOpenBoards) {
            if (other->bOpen_ && (sSerial.empty() ? other->board_.nBoardId == nId : other->board_.sSerial == sSerial)) {
                throw SessionError(ErrorKind::Error, "board " + other->board_.sPath + " is open already");
            }
        }
    }
    DriverLock lock;
    const qacq::SetupOutcome outcome = qacq::openBoard(session->config_, session->messages_, &session->board_);
    if (!outcome.done()) throw setupError(outcome, "no such board");
    session->bOpen_ = true;
    std::lock_guard<std::mutex> boards(gBoardsMutex);
    gOpenBoards.push_back(session.get());
    return session;
}

BoardSession::~BoardSession() {
    close();
    std::lock_guard<std::mutex> lock(gBoardsMutex);
    gOpenBoards.erase(std::remove(gOpenBoards.begin(), gOpenBoards.end(), this), gOpenBoards.end());
}

void BoardSession::reopen() {
    qacq::reportDriver(messages_, board_.sPath + ": opening the board", KiVoSetParam_i32(board_.nBoardId, ParamOpenBoard, 0));
    qacq::reportDriver(messages_, board_.sPath + ": resetting the board", KiVoSetParam_i32(board_.nBoardId, ParamResetBoard, 0));
    bOpen_ = true;
}

std::shared_ptr<AcquisitionSession> BoardSession::scan(const ScanRequest& request) {
    if (driver_ == nullptr) throw SessionError(ErrorKind::Error, "the board is closed");
    std::shared_ptr<AcquisitionSession> running = scan_.lock();
    if (running != nullptr && !running->stopped()) {
        throw SessionError(ErrorKind::Error, board_.sPath + " is scanning already: stop that scan first");
    }
    qacq::BoardConfig config = config_;
    config.nBoardId = board_.nBoardId;
    config.sBoardSerial.clear();
    config.dRate = request.dRate;
    std::string sError;
    if (!qacq::addChannelRequests(request.channels, &config.channels, &sError)) throw std::invalid_argument(sError);
    if (config.channels.empty()) throw std::invalid_argument("no channel given (for example \"AI0:rtd\")");

    DriverLock lock;
    // The board forgets the last scan's settings, as if just opened; after a refusal the setup
    // closed it.
    if (!bOpen_) {
        reopen();
    } else if (bConfigured_) {
        qacq::reportDriver(messages_, board_.sPath + ": resetting the board", KiVoSetParam_i32(board_.nBoardId, ParamResetBoard, 0));
    }
    bConfigured_ = true;
    const qacq::SetupOutcome outcome = qacq::configureBoard(config, messages_, &board_);
    if (!outcome.done()) {
        bOpen_ = false;  // the setup closed it
        throw setupError(outcome, "the board was not configured");
    }
    std::shared_ptr<AcquisitionSession> session(
        new AcquisitionSession(shared_from_this(), board_, request.bKeepLimits, request.bRaiseOnGap));
    scan_ = session;
    return session;
}

void BoardSession::close() {
    if (!inDriverProcess()) return;  // a forked child: the board is its parent's
    if (std::shared_ptr<AcquisitionSession> running = scan_.lock()) running->stop();
    if (driver_ == nullptr) return;
    {
        DriverLock lock;
        if (bOpen_) qacq::closeBoard(board_, false, messages_);
        bOpen_ = false;
    }
    driver_.reset();
}

void BoardSession::closeAll() {
    std::vector<BoardSession*> boards;
    {
        std::lock_guard<std::mutex> lock(gBoardsMutex);
        boards = gOpenBoards;
    }
    for (BoardSession* board : boards) board->close();
}

}  // namespace qpy
