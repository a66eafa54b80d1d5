// queno._queno: the boards and their scans for the Python package. The package's Python side
// (queno/board.py) gives them their final shape; here is what must be fast or must touch the
// driver: the queue read into numpy arrays (one memcpy per run of scans, the GIL released), waits
// that Ctrl-C ends, and the scaling and times exactly as queno_log computes them.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <math.h>
#include <string.h>

#include <chrono>

#include "board_session.h"
#include "kivo_api.h"
#include "acquisition_session.h"
#include "session_error.h"

namespace py = pybind11;
using qpy::BoardSession;
using qpy::ErrorKind;
using qpy::AcquisitionSession;
using qpy::SessionError;

namespace {

// How long a wait holds on before it looks for Ctrl-C.
constexpr int kWaitSliceMs = 50;

const char* className(ErrorKind kind) {
    switch (kind) {
        case ErrorKind::DriverNotFound: return "DriverNotFound";
        case ErrorKind::BoardNotFound: return "BoardNotFound";
        case ErrorKind::SettingRefused: return "SettingRefused";
        case ErrorKind::BufferOverflow: return "BufferOverflow";
        case ErrorKind::Error: break;
    }
    return "Error";
}

py::object gapObject(uint64_t nNext, uint64_t nLost, const std::string& sReason) {
    return py::module_::import("queno.recording").attr("Gap")(nNext, nLost, sReason);
}

py::object gapObject(const qacq::GapRecord& gap) { return gapObject(gap.nNextScan, gap.nLost, qacq::gapReason(gap)); }

[[noreturn]] void throwGap(const qacq::GapRecord& gap) {
    SessionError error(ErrorKind::BufferOverflow, qacq::gapText(gap),
                       gap.cause == qacq::GapCause::Overflow ? static_cast<int32_t>(ResultBufferOverflow) : 0);
    error.nGapNext = gap.nNextScan;
    error.nGapLost = gap.nLost;
    error.sGapReason = qacq::gapReason(gap);
    throw error;
}

// The reader's hold on a scan: one thread reads at a time.
class Reading {
public:
    explicit Reading(AcquisitionSession& scan) : lock_(scan.readerMutex(), std::try_to_lock) {
        if (!lock_.owns_lock()) throw std::runtime_error("another thread is reading this scan");
    }

private:
    std::unique_lock<std::mutex> lock_;
};

// Waits for scans with the GIL released, a slice at a time; Ctrl-C between slices raises
// KeyboardInterrupt. dTimeout < 0: as long as it takes.
AcquisitionSession::State waitForScans(AcquisitionSession& scan, double dTimeout) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::microseconds(static_cast<int64_t>(dTimeout * 1e6));
    for (;;) {
        int nSlice = kWaitSliceMs;
        if (dTimeout >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() < nSlice) nSlice = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        AcquisitionSession::State state;
        {
            py::gil_scoped_release released;
            state = scan.wait(nSlice);
        }
        if (state != AcquisitionSession::State::Waiting) return state;
        if (PyErr_CheckSignals() != 0) throw py::error_already_set();
        if (dTimeout >= 0 && std::chrono::steady_clock::now() >= deadline) return state;
    }
}

void raiseIfFailed(AcquisitionSession& scan) {
    const std::string sFailure = scan.failure();
    if (!sFailure.empty()) throw SessionError(ErrorKind::Error, sFailure);
}

py::list channelFacts(const qacq::BoardSetup& board) {
    py::list channels;
    for (const qacq::LoggedChannel& c : board.channels) {
        py::dict settled;
        for (const qacq::PropertyWrite& p : c.settled) settled[py::str(p.first)] = p.second;
        channels.append(py::dict(py::arg("name") = "AI" + std::to_string(c.nChannel), py::arg("path") = c.sPath,
                                 py::arg("mode") = c.sMode, py::arg("range") = c.sRange, py::arg("unit") = c.sUnit,
                                 py::arg("scale") = c.scale.scale, py::arg("offset") = c.scale.offset,
                                 py::arg("low") = c.dRange[0], py::arg("high") = c.dRange[1],
                                 py::arg("settings") = settled));
    }
    return channels;
}

// A scan as the Python side sees it.
class Scan {
public:
    explicit Scan(std::shared_ptr<AcquisitionSession> session) : session_(std::move(session)) {}
    Scan(Scan&&) = default;
    ~Scan() {
        // A child forked from the process that runs the acquisition has a copy of it without its
        // thread and its waiters: tearing that down would wait for them forever. It is left as
        // it is; the child's exit takes it.
        if (session_ != nullptr && !qpy::inDriverProcess()) new std::shared_ptr<AcquisitionSession>(std::move(session_));
    }

    // The next run of scans (scan0, counts [n, channels]), a gap alone ("gap", Gap) when one comes
    // first, () when nothing came within the timeout, None at the end.
    py::object nextBlock(uint64_t nMax, double dTimeout) {
        AcquisitionSession& scan = *session_;
        Reading reading(scan);
        const AcquisitionSession::State state = waitForScans(scan, dTimeout);
        if (state == AcquisitionSession::State::Waiting) return py::tuple();
        if (state == AcquisitionSession::State::Ended) {
            raiseIfFailed(scan);
            return py::none();
        }
        const AcquisitionSession::Piece piece = scan.next(nMax == 0 ? UINT64_MAX : nMax);
        if (piece.bGap) {
            scan.take(piece);
            if (scan.raiseOnGap()) throwGap(piece.gap);
            return py::make_tuple("gap", gapObject(piece.gap));
        }
        const size_t nWords = scan.board().channels.size();
        py::array_t<int32_t> counts({static_cast<py::ssize_t>(piece.nScans), static_cast<py::ssize_t>(nWords)});
        int32_t* pOut = counts.mutable_data();
        {
            py::gil_scoped_release released;
            memcpy(pOut, piece.pCounts, piece.nScans * nWords * sizeof(int32_t));
            scan.take(piece);
        }
        return py::make_tuple(piece.nFirstScan, counts);
    }

    // Fills every row of out (int32 [n, channels], C order) with the next scans; answers the rows
    // filled (fewer only when the scan was stopped), each row's scan number and the gaps met.
    py::tuple readInto(py::array out) {
        AcquisitionSession& scan = *session_;
        const size_t nWords = scan.board().channels.size();
        if (!out.dtype().is(py::dtype::of<int32_t>())) throw py::type_error("out must be an int32 array");
        if (out.ndim() != 2 || static_cast<size_t>(out.shape(1)) != nWords) {
            throw py::value_error("out must have the shape (scans, " + std::to_string(nWords) + ")");
        }
        if (!(out.flags() & py::array::c_style) || !out.writeable()) {
            throw py::value_error("out must be a writable array in C order");
        }
        Reading reading(scan);
        const uint64_t nWanted = static_cast<uint64_t>(out.shape(0));
        int32_t* pOut = static_cast<int32_t*>(out.mutable_data());
        py::array_t<uint64_t> scans(static_cast<py::ssize_t>(nWanted));
        uint64_t* pScans = scans.mutable_data();
        py::list gaps;
        uint64_t nFilled = 0;
        while (nFilled < nWanted) {
            const AcquisitionSession::State state = waitForScans(scan, -1);
            if (state == AcquisitionSession::State::Ended) {
                raiseIfFailed(scan);
                break;
            }
            const AcquisitionSession::Piece piece = scan.next(nWanted - nFilled);
            if (piece.bGap) {
                scan.take(piece);
                if (scan.raiseOnGap()) throwGap(piece.gap);
                gaps.append(gapObject(piece.gap));
                continue;
            }
            py::gil_scoped_release released;
            memcpy(pOut + nFilled * nWords, piece.pCounts, piece.nScans * nWords * sizeof(int32_t));
            for (uint64_t i = 0; i < piece.nScans; ++i) pScans[nFilled + i] = piece.nFirstScan + i;
            scan.take(piece);
            nFilled += piece.nScans;
        }
        return py::make_tuple(nFilled, scans, gaps);
    }

    // count x scale - offset of each channel; NaN at a limit of the range unless the limits are kept.
    py::array_t<double> values(py::array_t<int32_t, py::array::c_style | py::array::forcecast> counts) const {
        const qacq::BoardSetup& board = session_->board();
        const size_t nWords = board.channels.size();
        if (counts.ndim() != 2 || static_cast<size_t>(counts.shape(1)) != nWords) {
            throw py::value_error("counts must have the shape (scans, " + std::to_string(nWords) + ")");
        }
        const size_t nRows = static_cast<size_t>(counts.shape(0));
        py::array_t<double> values({counts.shape(0), counts.shape(1)});
        const int32_t* pIn = counts.data();
        double* pOut = values.mutable_data();
        const bool bKeep = session_->keepLimits();
        py::gil_scoped_release released;
        for (size_t r = 0; r < nRows; ++r) {
            for (size_t c = 0; c < nWords; ++c) {
                const int32_t nCount = pIn[r * nWords + c];
                pOut[r * nWords + c] = !bKeep && qacq::limitSide(nCount, board.nFullScale) != 0
                                           ? NAN
                                           : ScaleSample(&board.channels[c].scale, static_cast<double>(nCount));
            }
        }
        return values;
    }

    // UTC microseconds of each scan number.
    py::array_t<int64_t> times(py::array_t<uint64_t, py::array::c_style | py::array::forcecast> scans) const {
        py::array_t<int64_t> micros(scans.size());
        const uint64_t* pIn = scans.data();
        int64_t* pOut = micros.mutable_data();
        const qacq::ScanClock& clock = session_->clock();
        for (py::ssize_t i = 0; i < scans.size(); ++i) pOut[i] = clock.micros(pIn[i]);
        return micros;
    }

    void stop() {
        py::gil_scoped_release released;
        session_->stop();
    }

    const AcquisitionSession& session() const { return *session_; }

private:
    std::shared_ptr<AcquisitionSession> session_;
};

class Board {
public:
    explicit Board(std::shared_ptr<BoardSession> session) : session_(std::move(session)) {}

    Scan scan(const std::vector<std::string>& channels, double dRate, bool bKeepLimits, bool bRaiseOnGap) {
        if (!(dRate > 0) || !isfinite(dRate)) throw py::value_error("rate must be a positive number of scans per second");
        qpy::ScanRequest request;
        request.channels = channels;
        request.dRate = dRate;
        request.bKeepLimits = bKeepLimits;
        request.bRaiseOnGap = bRaiseOnGap;
        return Scan(session_->scan(request));
    }

    void close() {
        py::gil_scoped_release released;
        session_->close();
    }

    const BoardSession& session() const { return *session_; }

private:
    std::shared_ptr<BoardSession> session_;
};

py::list boardList() {
    py::list boards;
    for (const info::BoardInfo& board : qpy::listBoards()) {
        py::list inputs;
        for (const info::ChannelKindInfo& kind : board.kinds) {
            if (kind.sKind != "AI") continue;
            for (const info::ChannelInfo& channel : kind.channels) {
                py::list modes;
                for (const info::ModeInfo& mode : channel.modes) {
                    py::dict lists;
                    for (const auto& list : mode.lists) lists[py::str(list.first)] = list.second;
                    // The settings that are no list (a number between Min and Max, ...) by their attributes.
                    py::dict settings;
                    for (const auto& setting : mode.settings) {
                        py::dict attributes;
                        for (const auto& attribute : setting.second) attributes[py::str(attribute.first)] = attribute.second;
                        settings[py::str(setting.first)] = attributes;
                    }
                    modes.append(py::make_tuple(mode.sName, lists, settings));
                }
                inputs.append(py::make_tuple("AI" + std::to_string(channel.nChannel), modes));
            }
        }
        boards.append(py::dict(py::arg("id") = board.nBoardId, py::arg("model") = board.sName,
                               py::arg("serial") = board.sSerial,
                               py::arg("rates") = py::make_tuple(board.nMinSampleRate, board.nMaxSampleRate),
                               py::arg("resolutions") = board.resolutionsAI, py::arg("inputs") = inputs));
    }
    return boards;
}

}  // namespace

PYBIND11_MODULE(_queno, m) {
    m.doc() = "The QUENO driver binding under the queno package; use the queno package, not this module.";

    py::register_exception_translator([](std::exception_ptr pError) {
        try {
            if (pError) std::rethrow_exception(pError);
        } catch (const SessionError& error) {
            py::object cls = py::module_::import("queno.errors").attr(className(error.kind));
            py::object exception = cls(error.what(), error.nCode);
            if (error.kind == ErrorKind::BufferOverflow) {
                exception.attr("gap") = gapObject(error.nGapNext, error.nGapLost, error.sGapReason);
            }
            PyErr_SetObject(cls.ptr(), exception.ptr());
        }
    });

    py::class_<Scan>(m, "Scan")
        .def("next_block", &Scan::nextBlock, py::arg("max_scans") = 0, py::arg("timeout") = -1.0)
        .def("read_into", &Scan::readInto, py::arg("out"))
        .def("values", &Scan::values, py::arg("counts"))
        .def("times", &Scan::times, py::arg("scans"))
        .def("stop", &Scan::stop)
        .def_property_readonly("channels", [](const Scan& s) { return channelFacts(s.session().board()); })
        .def_property_readonly("rate", [](const Scan& s) { return s.session().board().dRate; })
        .def_property_readonly("start_micros", [](const Scan& s) { return s.session().clock().startMicros(); })
        .def_property_readonly("delay_scans", [](const Scan& s) { return s.session().clock().delayScans(); })
        .def_property_readonly("stopped", [](const Scan& s) { return s.session().stopped(); })
        .def_property_readonly("gaps", [](const Scan& s) { return s.session().gaps(); })
        .def_property_readonly("lost", [](const Scan& s) { return s.session().lost(); })
        .def_property_readonly("queue_capacity", [](const Scan& s) { return s.session().queueCapacity(); })
        .def_property_readonly("queue_fill", [](const Scan& s) { return s.session().queueFillPerMille() / 1000.0; });

    py::class_<Board>(m, "Board")
        .def("scan", &Board::scan, py::arg("channels"), py::arg("rate"), py::arg("keep_limits"), py::arg("raise_on_gap"))
        .def("close", &Board::close)
        .def_property_readonly("id", [](const Board& b) { return b.session().setup().nBoardId; })
        .def_property_readonly("path", [](const Board& b) { return b.session().setup().sPath; })
        .def_property_readonly("model", [](const Board& b) { return b.session().setup().sName; })
        .def_property_readonly("serial", [](const Board& b) { return b.session().setup().sSerial; })
        .def_property_readonly("resolution", [](const Board& b) { return b.session().setup().nResolution; })
        .def_property_readonly("is_open", [](const Board& b) { return b.session().isOpen(); });

    m.def("open", [](int32_t nId, const std::string& sSerial) { return Board(BoardSession::open(nId, sSerial)); },
          py::arg("id"), py::arg("serial"));
    m.def("boards", &boardList);
    m.def("close_all", [] {
        py::gil_scoped_release released;
        BoardSession::closeAll();
    });
}
