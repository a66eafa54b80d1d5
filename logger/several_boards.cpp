#include "several_boards.h"

#include <math.h>
#include <string.h>

#include <algorithm>
#include <memory>

#ifdef QUENO_WITH_SHA512
#include <openssl/evp.h>
#endif

#include "csv_sink.h"
#include "kivo_api.h"
#include "mqtt_messages.h"
#ifdef QUENO_WITH_MQTT
#include "mqtt_publisher.h"
#include "mqtt_sink.h"
#endif
#include "output_file.h"
#include "program_messages.h"
#include "recording_json.h"
#include "regular_file.h"
#include "run_bounds.h"
#include "sigmf_sink.h"
#include "status_line.h"
#include "stop_signals.h"
#include "writer_thread.h"

namespace qlog {

namespace {

// One board's part of the run: its setup, its file, its acquisition, its clock and its writer.
struct BoardRun {
    explicit BoardRun(const BoardConfig& config, double dRate) : config(config), model(dRate) {}
    BoardConfig config;
    LogOptions options;  // the run's, with this board and its file
    BoardSetup setup;
    bool bOpen = false;
    bool bStarted = false;
    bool bReading = true;
    OutputFile output;
    std::string sFirstName;
    ClockModel model;
    std::unique_ptr<ScanQueue> queue;
    std::unique_ptr<Acquirer> acquirer;
    ScanClock clock;
    std::unique_ptr<WriterThread> writer;
#ifdef QUENO_WITH_MQTT
    std::unique_ptr<MqttPublisher> publisher;  // each board under a topic of its own
#endif
    bool bKept = false;
    bool bFinished = false;
};

std::string boardText(const BoardConfig& config) {
    return config.sBoardSerial.empty() ? std::to_string(config.nBoardId) : "serial:" + config.sBoardSerial;
}

// Every board, stopped, closed, its writer ended and its file kept or removed, on every path; then
// the driver unloaded.
class Runs {
public:
    explicit Runs(MessageSink& messages) : messages_(messages) {}
    ~Runs() {
        finishAll();
        if (bLoaded_) KiVoPxiUnload();
    }
    Runs(const Runs&) = delete;
    Runs& operator=(const Runs&) = delete;
    bool load() { return bLoaded_ = loadDriver(); }
    // Every board stopped first, one right after the other as they were started; then each
    // acquisition and writer ends.
    void finishAll() {
        for (auto& pRun : runs) {
            if (pRun->bOpen) closeBoard(pRun->setup, pRun->bStarted, messages_);
            pRun->bOpen = false;
        }
        for (auto& pRun : runs) {
            BoardRun& run = *pRun;
            if (run.acquirer && run.bStarted && !run.bFinished) run.acquirer->finish();
            if (run.writer && !run.bFinished) run.writer->finish();
            run.bFinished = true;
            if (!run.bKept) run.output.abandon();
        }
    }
    std::vector<std::unique_ptr<BoardRun>> runs;

private:
    MessageSink& messages_;
    bool bLoaded_ = false;
};

std::string sha512Of(const std::string& sPath) {
#ifdef QUENO_WITH_SHA512
    std::string sText;
    int nErrno = 0;
    if (readRegularFile(sPath, 64ull << 20, &sText, &nErrno) != FileRead::Done) return "";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int nDigest = 0;
    if (EVP_Digest(sText.data(), sText.size(), digest, &nDigest, EVP_sha512(), nullptr) != 1) return "";
    std::string sHex;
    for (unsigned int i = 0; i < nDigest; ++i) sHex += textf("%02x", digest[i]);
    return sHex;
#else
    (void)sPath;
    return "";
#endif
}

// "00:01:02 [#####...............]  25%  board 0: 62000 scans  board 1: 61998 scans, 1 gap (40 lost)"
std::string statusText(const std::vector<std::unique_ptr<BoardRun>>& runs, uint64_t nLimit, double dRate) {
    uint64_t nMost = 0;
    std::string sBoards;
    for (const auto& pRun : runs) {
        const WriterCounts& counts = pRun->writer->counts();
        nMost = std::max(nMost, pRun->acquirer->nextScan());
        sBoards += "  board " + std::to_string(pRun->setup.nBoardId) + ": " + std::to_string(counts.nScans.load()) + " scans";
        const uint64_t nGaps = counts.nGaps.load();
        if (nGaps > 0) sBoards += textf(", %llu gap%s (%llu lost)", static_cast<unsigned long long>(nGaps), nGaps == 1 ? "" : "s",
                                        static_cast<unsigned long long>(counts.nLost.load()));
    }
    std::string s = formatElapsed(static_cast<double>(nMost) / dRate);
    if (nLimit != UINT64_MAX) s += progressText(static_cast<double>(nMost) / static_cast<double>(nLimit));
    return s + sBoards;
}

std::string baseName(const std::string& sPath) {
    const size_t nSlash = sPath.rfind('/');
    return nSlash == std::string::npos ? sPath : sPath.substr(nSlash + 1);
}

// The files' common base: -o without its extension, or the default name's.
std::string severalBoardsBase(const LogOptions& options, int64_t nStartMicros) {
    if (options.sOutput.empty()) return defaultOutputName("boards", nStartMicros, "");
    std::string sBase = sigmfBase(options.sOutput);
    for (const char* sExtension : {".sigmf-collection", ".sigmf", ".csv"}) {
        const size_t n = strlen(sExtension);
        if (sBase.size() > n && sBase.compare(sBase.size() - n, n, sExtension) == 0) sBase.erase(sBase.size() - n);
    }
    return sBase;
}

// A SigMF collection naming each board's recording (its metadata's SHA-512, where known).
std::string collectionText(const std::vector<std::pair<std::string, std::string>>& namesAndHashes) {
    Json streams = Json::array();
    for (const auto& stream : namesAndHashes) {
        Json entry{{"name", stream.first}};
        if (!stream.second.empty()) entry["hash"] = stream.second;
        streams.push_back(entry);
    }
    const Json collection{{"collection",
                           Json{{"core:version", "1.0.0"},
                                {"core:description", "queno_log: " + std::to_string(namesAndHashes.size()) + " boards on one time base"},
                                {"core:streams", streams}}}};
    return jsonDump(collection, 2) + "\n";
}

}  // namespace

int recordSeveralBoards(LogOptions& options, MessageSink& messages) {
#ifndef QUENO_WITH_MQTT
    if (options.bMqtt) {
        say("--mqtt: this queno_log was built without MQTT (libmosquitto was missing)");
        return 2;
    }
#endif
    Runs runs(messages);
    if (!runs.load()) return 1;
    // Every board found, and none named twice, before any is touched.
    const SetupOutcome found = findBoards(&options.boards, messages);
    if (found.result == SetupResult::NoBoard) return 2;
    if (!found.done()) return 1;
    for (size_t i = 0; i < options.boards.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            if (options.boards[i].nBoardId != options.boards[j].nBoardId) continue;
            say("board " + std::to_string(options.boards[i].nBoardId) + " is named twice: as " + boardText(options.boards[j]) +
                " and as " + boardText(options.boards[i]) + "; name each board once");
            return 2;
        }
    }
    // The files first: a name that is taken must not leave boards configured for nothing.
    const std::string sBase = severalBoardsBase(options, utcMicrosNow());
    const bool bRotating = options.dRotateSeconds > 0 || options.nRotateBytes > 0;
    for (const BoardConfig& config : options.boards) {
        runs.runs.emplace_back(new BoardRun(config, options.board.dRate));
        BoardRun& run = *runs.runs.back();
        run.options = options;
        run.options.boards.clear();
        run.options.board = config;
        run.options.sOutput = sBase + "-board" + std::to_string(config.nBoardId) + (options.bSigmf ? ".sigmf-data" : ".csv");
        if (options.bSigmf) run.output.pairWith(".sigmf-meta");
        std::string sError;
        if (!run.output.open(run.options.sOutput, bRotating, &sError)) {
            if (StopSignalReceived() != 0) return 128 + StopSignalReceived();
            say(sError);
            return 1;
        }
        run.sFirstName = run.output.name();
    }
#ifdef QUENO_WITH_MQTT
    // The broker is asked before any board is set up, for each board under its own topic.
    for (auto& pRun : runs.runs) {
        BoardRun& run = *pRun;
        if (!options.bMqtt) break;
        MqttOptions& mqtt = run.options.mqtt;
        const std::string sBoard = std::to_string(run.config.nBoardId);
        mqtt.sTopic = options.mqtt.sTopic.empty() ? defaultTopic(sBoard) : options.mqtt.sTopic + "/board" + sBoard;
        mqtt.sClientSuffix = "-board" + sBoard;
        const uint64_t nSpool = spoolRows(options);
        run.publisher.reset(new MqttPublisher);
        std::string sError;
        if (!run.publisher->start(mqtt, nSpool, &sError)) {
            if (StopSignalReceived() != 0) return 128 + StopSignalReceived();
            say("MQTT: " + sError);
            return 1;
        }
    }
#endif
    // Each board set up, then all started one right after the other.
    for (auto& pRun : runs.runs) {
        BoardRun& run = *pRun;
        const SetupOutcome outcome = setupBoard(run.config, messages, &run.setup);
        if (!outcome.done()) {
            if (outcome.result == SetupResult::Stopped) return 128 + StopSignalReceived();
            return outcome.result == SetupResult::Refused ? 2 : 1;
        }
        run.bOpen = true;
        if (StopSignalReceived() != 0) return 128 + StopSignalReceived();
    }
    for (auto& pRun : runs.runs) {
        BoardRun& run = *pRun;
        const uint32_t nWords = static_cast<uint32_t>(run.setup.channels.size());
        run.queue.reset(new ScanQueue(queueCapacityScans(run.setup.dRate, nWords), nWords));
        run.acquirer.reset(new Acquirer(run.setup, run.queue.get(), scanLimit(options, run.setup.dRate), messages));
        run.acquirer->anchorTo(&run.model);
        if (run.acquirer->start() != 0) return 1;
        run.bStarted = true;
        run.bKept = true;
    }
    const int64_t nDeadline = options.dDurationSeconds > 0
                                  ? monotonicMicros() + static_cast<int64_t>(options.dDurationSeconds * 1e6) + kDurationGraceMicros
                                  : INT64_MAX;
    std::vector<std::pair<std::string, std::string>> streams;
    for (auto& pRun : runs.runs) {
        BoardRun& run = *pRun;
        run.clock = ScanClock(run.acquirer->firstScanMicros(), run.setup.nSampleDelay, run.setup.rate);
        run.clock.follow(&run.model);
        run.writer.reset(new WriterThread(run.setup, run.queue.get(), options.nAverage));
        if (options.bSigmf) {
            run.writer->addSink(std::unique_ptr<Sink>(new SigmfSink(run.options, run.setup, &run.output, run.clock)));
        } else {
            run.writer->addSink(std::unique_ptr<Sink>(new CsvSink(run.options, run.setup, &run.output, run.clock)));
        }
#ifdef QUENO_WITH_MQTT
        if (run.publisher) {
            run.publisher->publishMeta(metaMessage(run.setup, run.options, run.clock));
            run.writer->addSink(std::unique_ptr<Sink>(
                new MqttSink(run.setup, run.clock, run.publisher.get(), options.mqtt.bInflux, options.bKeepLimits)));
        }
#endif
        if (!run.writer->start()) return 1;
        streams.emplace_back(sigmfBase(baseName(run.sFirstName)), "");
    }
    std::string sError;
    const std::string sCollection = sBase + ".sigmf-collection";
    if (options.bSigmf && !replaceFile(sCollection, collectionText(streams), true, &sError)) {
        say(sError);
        return 1;
    }
    say("recording " + std::to_string(runs.runs.size()) + " boards into " + sBase + "-board<id>" + (options.bSigmf ? ".sigmf-data" : ".csv"),
        Priority::Info);

    // Each board read on its own: one that ends or fails does not stop the others' reading.
    // Often, whatever the buffers hold: each reading is an anchor of the boards' clocks. The
    // interval wanders from 5 to 15 ms, so that the readings do not lock onto the phase at which a
    // board delivers its blocks: some come right after a block, and those tell its clock.
    uint32_t nDither = 0x2545F491u;
    bool bFailed = false;
    StatusLine status(runs.runs.front()->setup, options.bQuiet);
    const uint64_t nLimit = scanLimit(options, options.board.dRate);
    for (;;) {
        nDither = nDither * 1664525u + 1013904223u;
        SleepUntilStopSignal(5 + static_cast<int>((nDither >> 16) % 11));
        if (StopSignalReceived() != 0) break;
        bool bAnyReading = false;
        for (auto& pRun : runs.runs) {
            BoardRun& run = *pRun;
            if (!run.bReading) continue;
            if (run.writer->failed()) bFailed = true;
            run.bReading = run.acquirer->poll();
            if (run.acquirer->failed()) bFailed = true;
            if (run.bReading && monotonicMicros() > nDeadline) {
                run.acquirer->endUndelivered();
                run.bReading = false;
            }
            bAnyReading = bAnyReading || run.bReading;
        }
        if (!bAnyReading || bFailed) break;
        if (status.enabled()) status.show(statusText(runs.runs, nLimit, options.board.dRate));
    }
    runs.finishAll();
    if (status.enabled()) status.show(statusText(runs.runs, nLimit, options.board.dRate), true);
    status.finish();
    // Each board says what it lost; the others' files are whole all the same.
    bool bLost = false;
    for (size_t i = 0; i < runs.runs.size(); ++i) {
        BoardRun& run = *runs.runs[i];
        if (run.acquirer->failed() || run.writer->failed()) bFailed = true;
        const uint64_t nLost = run.writer->counts().nLost.load(), nGaps = run.writer->counts().nGaps.load();
        if (nLost > 0) {
            say(textf("board %d: %llu scan%s lost in %llu gap%s; %s say where", static_cast<int>(run.setup.nBoardId),
                      static_cast<unsigned long long>(nLost), nLost == 1 ? "" : "s", static_cast<unsigned long long>(nGaps),
                      nGaps == 1 ? "" : "s", options.bSigmf ? "its recording's gap annotations" : "its file's gap lines"));
            bLost = true;
        }
        if (options.bSigmf) streams[i].second = sha512Of(run.output.companionOf(run.sFirstName));
#ifdef QUENO_WITH_MQTT
        const uint64_t nDropped = run.publisher ? run.publisher->dropped() : 0;
        if (nDropped > 0) {
            say(textf("board %d: %llu row%s dropped: the broker could not take them in time", static_cast<int>(run.setup.nBoardId),
                      static_cast<unsigned long long>(nDropped), nDropped == 1 ? "" : "s"));
            bLost = true;
        }
#endif
    }
    if (options.bSigmf && !replaceFile(sCollection, collectionText(streams), false, &sError)) {
        say(sError);
        bFailed = true;
    }
    if (bFailed) return 1;
    return bLost ? 3 : 0;
}

}  // namespace qlog
