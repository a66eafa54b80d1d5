/*
 * queno_log: record every scan of the chosen analogue inputs of a QUENO board into a CSV file or a
 * SigMF recording, to an MQTT broker, and live in a browser.
 *
 * Demonstrates a long, unattended recording on the acquisition core (acquisition/): the ring buffer
 * is walked as the RTD example walks it, but each scan is copied into a queue and handed back to
 * the driver at once, and the writer thread hands the queue to the sinks. A slow disk fills the
 * queue, never the driver's buffer; whatever is lost, the file says where and how much. One thread
 * takes the stop signals, so a stop is taken at any moment.
 *
 * Steps:
 *   1. read the options and the channels; take the view's port; create the output (nothing is
 *      overwritten); connect to the broker
 *   2. load the driver, find the board, configure the inputs, read back what the driver settled
 *   3. start the acquisition and the writer thread
 *   4. poll the ring buffer until the duration or scan count is reached or a stop signal comes;
 *      restart the acquisition after an overflow
 *   5. stop, drain the queue, write the end line, sync, close the board, unload the driver
 *
 * Exit status: 0 every scan written, 3 scans were lost (the gap lines say where), 2 bad options or
 * a setting the driver refused, 1 no driver, no board, or an output that cannot be written.
 */
#include <math.h>
#include <stdio.h>
#include <string.h>

#include <memory>
#include <string>

#include "acquisition_core.h"
#include "alarm_hook.h"
#include "alarms.h"
#include "csv_sink.h"
#include "event_capture.h"
#include "kivo_api.h"
#include "log_options.h"
#ifdef QUENO_WITH_HTTP
#include "live_view.h"
#include "view_sink.h"
#endif
#include "mqtt_messages.h"
#ifdef QUENO_WITH_MQTT
#include "mqtt_publisher.h"
#include "mqtt_sink.h"
#endif
#include "host_port.h"
#include "output_file.h"
#include "program_messages.h"
#include "retention.h"
#include "run_bounds.h"
#ifdef QUENO_WITH_SYSTEMD
#include "service_notifier.h"
#endif
#include "several_boards.h"
#include "sigmf_sink.h"
#include "status_line.h"
#include "stop_signals.h"
#include "value_text.h"
#include "writer_thread.h"

namespace qlog {
class MqttPublisher;  // the broker's side, in a build with MQTT
class LiveView;       // the browser's side, in a build with the live view
}  // namespace qlog

namespace {

using namespace qlog;

// The command line, read again at a reload.
int gArgc = 0;
char** gArgv = nullptr;

int usageError(const std::string& sWhy) {
    fprintf(stderr, "queno_log: %s\nTry 'queno_log --help' for the options.\n", sWhy.c_str());
    return 2;
}

StatusFacts statusFacts(const Acquirer& acquirer, const WriterThread& writer, const ScanQueue& queue, const ScanClock& clock,
                        uint64_t nLimit, const MqttPublisher* pPublisher) {
    StatusFacts facts;
    facts.dElapsed = static_cast<double>(clock.micros(acquirer.nextScan()) - clock.startMicros()) / 1e6;
    facts.dFraction = nLimit == UINT64_MAX ? -1 : static_cast<double>(acquirer.nextScan()) / static_cast<double>(nLimit);
    facts.nWritten = writer.counts().nScans.load();
    facts.nQueuePerMille = queue.fillPerMille();
    facts.nGaps = writer.counts().nGaps.load();
    facts.nLost = writer.counts().nLost.load();
#ifdef QUENO_WITH_MQTT
    if (pPublisher != nullptr) {
        facts.bMqtt = true;
        facts.nSpooled = pPublisher->spooled();
        facts.nDropped = pPublisher->dropped();
    }
#else
    (void)pPublisher;
#endif
    return facts;
}

// The file to write: the one named, or the default name; a SigMF pair is named by its data file.
// The default name says the second the run began; a second run in the same second takes
// "-2", "-3", ... of it (nAttempt 1 is the plain name).
std::string outputPath(const LogOptions& options, int64_t nStartMicros, int nAttempt) {
    if (!options.sOutput.empty()) return options.bSigmf ? sigmfBase(options.sOutput) + ".sigmf-data" : options.sOutput;
    const char* sExtension = options.bSigmf ? ".sigmf-data" : ".csv";
    const std::string sName = defaultOutputName(boardLabel(options), nStartMicros, sExtension);
    if (nAttempt <= 1) return sName;
    return sName.substr(0, sName.size() - strlen(sExtension)) + "-" + std::to_string(nAttempt) + sExtension;
}

// Opens the output; with the default name, the first of its numbered names that is free.
bool openOutput(const LogOptions& options, OutputFile* pOutput, std::string* psPath, std::string* pError) {
    // A service's file is always one of a series: a reload begins the next, a restart goes on
    // after the last.
    const bool bFile = options.sOutput != "-" && options.sOutput != "none";
    const bool bRotating = options.dRotateSeconds > 0 || options.nRotateBytes > 0 || (options.bService && bFile);
    if (options.bService) pOutput->continueSeries();
    const int64_t nStart = utcMicrosNow();
    for (int nAttempt = 1;; ++nAttempt) {
        *psPath = outputPath(options, nStart, nAttempt);
        if (pOutput->open(*psPath, bRotating, pError)) return true;
        const bool bTaken = pError->find(" exists; ") != std::string::npos;
        if (!options.sOutput.empty() || !bTaken || nAttempt >= 100) return false;
    }
}

#ifdef QUENO_WITH_HTTP
// The live view's facts of the moment, from what other threads may read at any time.
std::string viewFacts(const WriterThread& writer, const ScanQueue& queue, double dRate, MqttPublisher* pPublisher) {
    const uint64_t nScans = writer.counts().nScans.load();
    const uint64_t nLost = writer.counts().nLost.load();
    char s[320];
    snprintf(s, sizeof(s), "\"elapsed_s\":%.3f,\"scans_written\":%llu,\"queue_fill\":%.3f,\"gaps\":%llu,\"scans_lost\":%llu",
             static_cast<double>(nScans + nLost) / dRate, static_cast<unsigned long long>(nScans), queue.fillPerMille() / 1000.0,
             static_cast<unsigned long long>(writer.counts().nGaps.load()), static_cast<unsigned long long>(nLost));
    std::string sFacts = s;
#ifdef QUENO_WITH_MQTT
    if (pPublisher != nullptr) {
        return sFacts + ",\"mqtt\":{\"spooled\":" + std::to_string(pPublisher->spooled()) +
               ",\"dropped\":" + std::to_string(pPublisher->dropped()) + "}";
    }
#else
    (void)pPublisher;
#endif
    return sFacts + ",\"mqtt\":null";
}
#endif

// The event captures' names before "-alarm-<NNNN>": the output's, without its extension and its
// rotation's number.
std::string captureBase(const LogOptions& options, const std::string& sOutputName) {
    std::string s = options.sOutput.empty() ? sOutputName : options.sOutput;
    if (sigmfBase(s) != s) return sigmfBase(s);
    const size_t nSlash = s.rfind('/'), nDot = s.rfind('.');
    if (nDot != std::string::npos && (nSlash == std::string::npos || nDot > nSlash + 1)) s.erase(nDot);
    return s;
}

// The board stays open while this lives: closed on every path, stopped first once started.
class OpenBoard {
public:
    OpenBoard(const BoardSetup& board, MessageSink& messages) : board_(board), messages_(messages) {}
    ~OpenBoard() { close(false); }
    OpenBoard(const OpenBoard&) = delete;
    OpenBoard& operator=(const OpenBoard&) = delete;
    void close(bool bStop) {
        if (bOpen_) closeBoard(board_, bStop, messages_);
        bOpen_ = false;
    }

private:
    const BoardSetup& board_;
    MessageSink& messages_;
    bool bOpen_ = true;
};

// The driver stays loaded while this lives.
class LoadedDriver {
public:
    LoadedDriver() = default;
    ~LoadedDriver() {
        if (bLoaded_) KiVoPxiUnload();
    }
    LoadedDriver(const LoadedDriver&) = delete;
    LoadedDriver& operator=(const LoadedDriver&) = delete;
    bool load() { return bLoaded_ = loadDriver(); }

private:
    bool bLoaded_ = false;
};

// The output is removed again unless a recording began in it.
class PendingOutput {
public:
    explicit PendingOutput(OutputFile& output) : output_(output) {}
    ~PendingOutput() {
        if (!bKept_) output_.abandon();
    }
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    void keep() { bKept_ = true; }

private:
    OutputFile& output_;
    bool bKept_ = false;
};

#ifdef QUENO_WITH_SYSTEMD
// What a reload cannot change, named, when the file now asks for another value.
std::string restartOnly(const LogOptions& now, const LogOptions& asked) {
    std::vector<std::string> names;
    auto note = [&](bool bDiffers, const char* sName) {
        if (bDiffers) names.push_back(sName);
    };
    note(now.board.nBoardId != asked.board.nBoardId || now.board.sBoardSerial != asked.board.sBoardSerial, "board");
    note(now.board.dRate != asked.board.dRate, "rate");
    note(now.channelTexts != asked.channelTexts, "channels");
    note(now.nAverage != asked.nAverage, "average");
    note(now.sOutput != asked.sOutput || now.bSigmf != asked.bSigmf, "output");
    note(now.bRaw != asked.bRaw || now.bKeepLimits != asked.bKeepLimits, "raw and keep-limits");
    note(now.dDurationSeconds != asked.dDurationSeconds || now.nScans != asked.nScans, "duration and scans");
    note(now.bMqtt != asked.bMqtt || now.mqtt.sHost != asked.mqtt.sHost || now.mqtt.nPort != asked.mqtt.nPort ||
             now.mqtt.sTopic != asked.mqtt.sTopic || now.mqtt.bInflux != asked.mqtt.bInflux || now.mqtt.nQos != asked.mqtt.nQos ||
             now.mqtt.sUser != asked.mqtt.sUser || now.mqtt.sPasswordFile != asked.mqtt.sPasswordFile ||
             now.mqtt.sCaFile != asked.mqtt.sCaFile || now.mqtt.sCert != asked.mqtt.sCert || now.mqtt.sKey != asked.mqtt.sKey,
         "mqtt");
    note(now.bHttp != asked.bHttp || now.sHttpHost != asked.sHttpHost || now.nHttpPort != asked.nHttpPort, "http");
    std::string s;
    for (size_t i = 0; i < names.size(); ++i) s += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return s;
}

// SIGHUP under a service manager: the configuration read again, what may change applied on the
// writer's thread, and a new file begun at the next row. A file that cannot be read now leaves the
// settings as they are.
void reload(LogOptions& options, WriterThread& writer, ServiceNotifier& notifier, std::string* psSaid) {
    notifier.reloading();
    LogOptions asked;
    std::string sError;
    if (parseLogOptions(gArgc, gArgv, &asked, &sError) != ParseOutcome::Run) {
        say("reload: " + sError + "; the settings in use are kept");
        writer.requestNewFile([&notifier] { notifier.reloaded(); });
        return;
    }
    const std::string sKept = restartOnly(options, asked);
    if (!sKept.empty() && sKept != *psSaid) say("reload: " + sKept + " change only with a restart; kept as they are until then");
    *psSaid = sKept;
    writer.requestNewFile([&options, &notifier, asked] {
        options.dRotateSeconds = asked.dRotateSeconds;
        options.nRotateBytes = asked.nRotateBytes;
        options.dSyncSeconds = asked.dSyncSeconds;
        options.retention = asked.retention;
        notifier.reloaded();
    });
}

std::string recordedWhat(const BoardSetup& board) {
    std::string s;
    for (size_t c = 0; c < board.channels.size(); ++c) s += (c > 0 ? ", AI" : "AI") + std::to_string(board.channels[c].nChannel);
    return s + " at " + textf("%g", board.dRate) + " S/s";
}
#endif

int exitStatusOf(const SetupOutcome& outcome) {
    switch (outcome.result) {
        case SetupResult::Done: return 0;
        case SetupResult::Refused: return 2;
        case SetupResult::Stopped: return 128 + StopSignalReceived();
        case SetupResult::NoDriver:
        case SetupResult::NoBoard:
        case SetupResult::DriverFailure: return 1;
    }
    return 1;
}

int record(LogOptions& options, const BoardSetup& board, OpenBoard& openBoard, PendingOutput& pending, OutputFile& output,
           MqttPublisher* pPublisher, LiveView* pView, MessageSink& messages) {
    const uint32_t nWords = static_cast<uint32_t>(board.channels.size());
    ScanQueue queue(queueCapacityScans(board.dRate, nWords), nWords);
    const uint64_t nLimit = scanLimit(options, board.dRate);
    Acquirer acquirer(board, &queue, nLimit, messages);
    if (acquirer.start() != 0) return 1;
    pending.keep();
    const ScanClock clock(acquirer.firstScanMicros(), board.nSampleDelay, board.rate);
    const int64_t nDeadline = options.dDurationSeconds > 0
                                  ? monotonicMicros() + static_cast<int64_t>(options.dDurationSeconds * 1e6) + kDurationGraceMicros
                                  : INT64_MAX;
    WriterThread writer(board, &queue, options.nAverage);
    if (options.bSigmf) {
        writer.addSink(std::unique_ptr<Sink>(new SigmfSink(options, board, &output, clock)));
    } else {
        writer.addSink(std::unique_ptr<Sink>(new CsvSink(options, board, &output, clock)));
    }
#ifdef QUENO_WITH_MQTT
    if (pPublisher != nullptr) {
        pPublisher->publishMeta(metaMessage(board, options, clock));
        writer.addSink(std::unique_ptr<Sink>(new MqttSink(board, clock, pPublisher, options.mqtt.bInflux, options.bKeepLimits)));
    }
#else
    (void)pPublisher;
#endif
#ifdef QUENO_WITH_HTTP
    if (pView != nullptr) {
        auto envelope = std::make_shared<ViewEnvelope>(board, clock);
        pView->attach(board, envelope, metaMessage(board, options, clock),
                      [&writer, &queue, &board, pPublisher] { return viewFacts(writer, queue, board.dRate, pPublisher); });
        writer.addSink(std::unique_ptr<Sink>(new ViewSink(envelope)));
    }
#else
    (void)pView;
#endif
    if (!options.sOnAlarm.empty()) writer.addSink(std::unique_ptr<Sink>(new AlarmHook(options.sOnAlarm, board, clock)));
    AlarmTracker alarms(options.alarms, board);
    writer.setAlarms(&alarms);
    std::unique_ptr<EventCapture> capture;
    if (options.bCapture) {
        capture.reset(new EventCapture(options, board, clock, captureBase(options, output.name())));
        const double dRing = static_cast<double>(captureRingBytes(options.dCapturePreSeconds, board.dRate, board.channels.size()));
        say(textf("--capture: %.1f %s keep the scans of the %g s before an event", dRing >= 1048576 ? dRing / 1048576 : dRing / 1024,
                  dRing >= 1048576 ? "MiB" : "KiB", options.dCapturePreSeconds),
            Priority::Info);
        writer.setCapture(capture.get());
    }
    Retention retention(options.retention, output);
    writer.setHousekeeping([&retention](int64_t nNow) { retention.check(nNow); });
    const bool bWriting = writer.start();
    StatusLine status(board, options.bQuiet);
#ifdef QUENO_WITH_SYSTEMD
    std::unique_ptr<ServiceNotifier> notifier;
    if (options.bService) {
        notifier.reset(new ServiceNotifier(recordedWhat(board), [&writer, &output, &retention, pPublisher] {
            ServiceFacts facts;
            facts.nScans = writer.counts().nScans.load();
            facts.nGaps = writer.counts().nGaps.load();
            facts.nLost = writer.counts().nLost.load();
            facts.sWhere = output.currentName();
#ifdef QUENO_WITH_MQTT
            if (pPublisher != nullptr) facts.sMore = "broker: " + std::to_string(pPublisher->spooled()) + " rows waiting";
#endif
            if (retention.floorPassed()) {
                facts.sMore += std::string(facts.sMore.empty() ? "" : "; ") + "less free space than --min-free, and nothing more may go";
            }
            return facts;
        }));
    }
    unsigned nReloads = ReloadRequests();
    std::string sSaidAtReload;
#endif

    while (bWriting && StopSignalReceived() == 0 && !writer.failed()) {
        SleepUntilStopSignal(acquirer.pollIntervalMs());
        if (StopSignalReceived() != 0) break;
#ifdef QUENO_WITH_SYSTEMD
        if (notifier != nullptr && ReloadRequests() != nReloads) {
            nReloads = ReloadRequests();
            reload(options, writer, *notifier, &sSaidAtReload);
        }
#endif
        if (!acquirer.poll()) break;
        if (monotonicMicros() > nDeadline) {
            acquirer.endUndelivered();
            break;
        }
        if (status.enabled()) {
            status.update(statusFacts(acquirer, writer, queue, clock, nLimit, pPublisher), acquirer.latest());
        }
    }
#ifdef QUENO_WITH_SYSTEMD
    if (notifier != nullptr) notifier->stopping();
#endif
    openBoard.close(true);
    acquirer.finish();
    writer.finish();
#ifdef QUENO_WITH_HTTP
    if (pView != nullptr) pView->stop();  // viewers get the end first; then nothing reads the writer's counts
#endif
    if (status.enabled()) {
        status.update(statusFacts(acquirer, writer, queue, clock, nLimit, pPublisher), acquirer.latest(), true);
    }
    status.finish();

    if (writer.failed() || acquirer.failed()) return 1;
    uint64_t nDropped = 0;
#ifdef QUENO_WITH_MQTT
    if (pPublisher != nullptr) nDropped = pPublisher->dropped();
    if (nDropped > 0) {
        say(textf("%llu row%s dropped: the broker could not take them in time", static_cast<unsigned long long>(nDropped),
                  nDropped == 1 ? "" : "s"));
    }
#endif
    const uint64_t nLost = writer.counts().nLost.load();
    if (nLost > 0) {
        say(textf("%llu scan%s lost in %llu gap%s; %s say where", static_cast<unsigned long long>(nLost), nLost == 1 ? "" : "s",
                  static_cast<unsigned long long>(writer.counts().nGaps.load()), writer.counts().nGaps.load() == 1 ? "" : "s",
                  options.bSigmf ? "the recording's gap annotations" : "the file's gap lines"));
        return 3;
    }
    return nDropped > 0 ? 3 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    setProgramName("queno_log");
    gArgc = argc;
    gArgv = argv;
    LogOptions options;
    std::string sError;
    switch (parseLogOptions(argc, argv, &options, &sError)) {
        case ParseOutcome::Help: fputs(kLogUsage, stdout); return 0;
        case ParseOutcome::Version: fputs(kLogVersion, stdout); return 0;
        case ParseOutcome::Error: return usageError(sError);
        case ParseOutcome::ConfigError: say(sError); return kConfigErrorStatus;
        case ParseOutcome::Run: break;
    }
#ifndef QUENO_WITH_SYSTEMD
    if (options.bService) return usageError("--service: this queno_log was built without libsystemd");
#endif
    if (options.bService) {  // no terminal: no status line, every message with its priority
        setServiceMessages(true);
        options.bQuiet = true;
    }
    if (options.bCheckConfig) {  // all is checked that can be without the board
        fputs(effectiveSettings(options).c_str(), stdout);
        return 0;
    }
    // Before the broker's, the driver's and our own threads start: one thread takes the stop
    // signals, so a stop is taken at any moment (a silent broker, a slow setup, a stall).
    StartStopSignalThread();
    if (options.bService) TakeHangupAsReload();
    ProgramMessages messages;
    if (!options.boards.empty()) return recordSeveralBoards(options, messages);

#ifdef QUENO_WITH_HTTP
    // The port is taken first: one in use must not leave a board configured for nothing.
    std::unique_ptr<LiveView> view;
    if (options.bHttp) {
        view.reset(new LiveView);
        if (!view->listen(options.sHttpHost, options.nHttpPort, &sError)) {
            say("--http: " + sError);
            return 1;
        }
        say("live view at http://" + hostPortText(options.sHttpHost, view->port()) + "/", Priority::Info);
    }
    LiveView* pView = view.get();
#else
    if (options.bHttp) return usageError("--http: this queno_log was built without its live view (libmicrohttpd, npm or its chart library was missing)");
    LiveView* pView = nullptr;
#endif
    OutputFile output;
    std::string sPath;
    if (options.bSigmf) output.pairWith(".sigmf-meta");
    if (!openOutput(options, &output, &sPath, &sError)) {
        if (StopSignalReceived() != 0) return 128 + StopSignalReceived();  // a FIFO nobody read
        say(sError);
        return 1;
    }
    PendingOutput pending(output);
    MqttPublisher* pPublisher = nullptr;
#ifdef QUENO_WITH_MQTT
    std::unique_ptr<MqttPublisher> publisher;
#endif
    if (options.bMqtt) {
#ifdef QUENO_WITH_MQTT
        // The broker is asked first: a wrong password must not leave a board configured for nothing.
        if (options.mqtt.sTopic.empty()) options.mqtt.sTopic = defaultTopic(boardLabel(options));
        publisher.reset(new MqttPublisher);
        const uint64_t nSpool = spoolRows(options);
        if (!publisher->start(options.mqtt, nSpool, &sError)) {
            if (StopSignalReceived() != 0) return 128 + StopSignalReceived();
            say("MQTT: " + sError);
            return 1;
        }
        pPublisher = publisher.get();
#else
        return usageError("--mqtt: this queno_log was built without MQTT (libmosquitto was missing)");
#endif
    }
    LoadedDriver driver;
    if (!driver.load()) return 1;
    if (StopSignalReceived() != 0) return 128 + StopSignalReceived();
    BoardSetup board;
    const SetupOutcome outcome = setupBoard(options.board, messages, &board);
    if (!outcome.done()) return exitStatusOf(outcome);
    OpenBoard open(board, messages);
    if (StopSignalReceived() != 0) return 128 + StopSignalReceived();
    if (options.sOutput.empty()) say("recording to " + sPath, Priority::Info);
    return record(options, board, open, pending, output, pPublisher, pView, messages);
}
