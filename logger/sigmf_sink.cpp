#include "sigmf_sink.h"

#include <errno.h>
#include <fcntl.h>
#include <libgen.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include "program_messages.h"
#include "recording_json.h"
#include "value_text.h"

namespace qlog {

namespace {

const char* limitName(int nSide) { return nSide > 0 ? "over" : "under"; }

}  // namespace

SigmfSink::SigmfSink(const LogOptions& options, const BoardSetup& board, OutputFile* pOutput, const ScanClock& clock)
    : options_(options), board_(board), pOutput_(pOutput), clock_(clock), nChannels_(board.channels.size()),
      nScanBytes_(board.channels.size() * (options.nAverage > 1 ? sizeof(double) : sizeof(int32_t))),
      stretches_(board.channels.size()), alarms_(board.channels.size(), {AlarmState::Normal, 0}), alarmsAtStart_(alarms_),
      means_(board.channels.size(), 0.0) {
    static_assert(sizeof(double) == 8 && sizeof(int32_t) == 4, "SigMF's ri32 and rf64");
    newFile();
    bNewFileDue_ = false;
}

void SigmfSink::newFile() {
    nRotateScans_ = 0;
    if (options_.dRotateSeconds > 0) {
        double dScans = nearbyint(options_.dRotateSeconds * board_.dRate);
        nRotateScans_ = dScans < 1 ? 1 : static_cast<uint64_t>(dScans);
    }
    bNewFileDue_ = true;
}

void SigmfSink::fail(const std::string& sWhy) {
    if (bFailed_) return;
    say(sWhy + " - stopping");
    bFailed_ = true;
}

bool SigmfSink::begin() {
    // The data are written as they lie in memory: this machine's order must be SigMF's.
    const uint32_t nOne = 1;
    if (*reinterpret_cast<const unsigned char*>(&nOne) != 1) fail("SigMF recordings are written on little-endian machines only");
    nLastSync_ = monotonicMicros();
    startCapture(nFileFirstScan_);
    return !bFailed_;
}

// A capture begins at this file's next position: the first scan, the first after a gap, the first
// of a file. The metadata that says so reaches the disk before the scan does.
void SigmfSink::startCapture(uint64_t nScan) {
    if (!captures_.empty() && captures_.back().nPosition == nPosition_) {
        captures_.back().nScan = nScan;  // a gap before any scan of it: the capture moves on
    } else {
        captures_.push_back({nPosition_, nScan});
    }
    bCaptureDue_ = false;
    writeMeta(nullptr);
}

void SigmfSink::rows(const RowBlock& block) {
    if (bFailed_) return;
    if (block.pCounts != nullptr) {
        writeRows(block.nFirstScan, block.pCounts, block.nRows, 1);
        return;
    }
    for (size_t i = 0; i < block.nRows; ++i) {
        for (size_t c = 0; c < nChannels_; ++c) {
            const size_t n = i * nChannels_ + c;
            means_[c] = block.pLimited[n] != 0 && !options_.bKeepLimits ? NAN : block.pMeans[n];
        }
        writeRows(block.nFirstScan + i * block.nScansPerRow, means_.data(), 1, block.nScansPerRow);
    }
}

// Scans from one capture to the next where the clock is fitted: a minute's.
uint64_t SigmfSink::nCaptureScans() const {
    const double dScans = nearbyint(60.0 * board_.dRate);
    return dScans < 1 ? 1 : static_cast<uint64_t>(dScans);
}

// Rows as they lie in memory, cut where a file of the rotation is full.
void SigmfSink::writeRows(uint64_t nFirstScan, const void* pData, size_t nRows, uint32_t nScansPerRow) {
    const char* p = static_cast<const char*>(pData);
    for (size_t nDone = 0; nDone < nRows && !bFailed_;) {
        const uint64_t nScan = nFirstScan + nDone * nScansPerRow;
        const bool bByTime = nRotateScans_ > 0 && nScan >= nFileFirstScan_ + nRotateScans_;
        const bool bBySize = options_.nRotateBytes > 0 && pOutput_->bytes() + nScanBytes_ > options_.nRotateBytes;
        const bool bNewFile = bNewFileDue_;
        bNewFileDue_ = false;
        if (nPosition_ > 0 && (bByTime || bBySize || bNewFile)) rotate(nScan);
        // A fitted clock gets a capture every minute, so that any reader finds times on the common base.
        if (clock_.model() != nullptr && !captures_.empty() && nScan >= captures_.back().nScan + nCaptureScans()) bCaptureDue_ = true;
        if (bCaptureDue_) startCapture(nScan);
        if (bFailed_) return;
        size_t nTake = nRows - nDone;
        if (clock_.model() != nullptr) {
            const uint64_t nLeft = (captures_.back().nScan + nCaptureScans() - nScan + nScansPerRow - 1) / nScansPerRow;
            nTake = static_cast<size_t>(std::min<uint64_t>(nTake, std::max<uint64_t>(nLeft, 1)));
        }
        if (nRotateScans_ > 0) {
            const uint64_t nLeft = (nFileFirstScan_ + nRotateScans_ - nScan + nScansPerRow - 1) / nScansPerRow;
            nTake = static_cast<size_t>(std::min<uint64_t>(nTake, std::max<uint64_t>(nLeft, 1)));
        }
        if (options_.nRotateBytes > 0 && pOutput_->bytes() < options_.nRotateBytes) {
            const uint64_t nRoom = (options_.nRotateBytes - pOutput_->bytes()) / nScanBytes_;
            nTake = static_cast<size_t>(std::min<uint64_t>(nTake, std::max<uint64_t>(nRoom, 1)));
        }
        if (!pOutput_->write(p + nDone * nScanBytes_, nTake * nScanBytes_)) {
            fail("cannot write " + pOutput_->name() + ": " + strerror(pOutput_->error()));
            return;
        }
        nPosition_ += nTake;
        nDone += nTake;
    }
}

void SigmfSink::gap(const GapRecord& gap) {
    annotations_.push_back({nPosition_, Json{{"core:sample_start", nPosition_}, {"core:comment", gapText(gap)}, {"queno:gap", gapJson(gap)}}});
    bCaptureDue_ = true;
}

// A stretch at a limit, from where it began in this file: sHow is "ended" (by in-range samples or
// the other limit), "continues" (into the next file) or "to_end" (of the run).
SigmfSink::Annotation SigmfSink::stretchAnnotation(size_t nChannel, const Stretch& stretch, uint64_t nEndScan, uint64_t nScans,
                                                   const char* sHow) const {
    const std::string sName = "AI" + std::to_string(board_.channels[nChannel].nChannel);
    return {stretch.nPosition, Json{{"core:sample_start", stretch.nPosition},
                                    {"core:sample_count", nPosition_ - stretch.nPosition},
                                    {"core:comment", sName + " " + limitName(stretch.nSide) + " range"},
                                    {"queno:limit", Json{{"channel", sName},
                                                         {"side", limitName(stretch.nSide)},
                                                         {"from_scan", stretch.nFrom},
                                                         {"end_scan", nEndScan},
                                                         {"scans", nScans},
                                                         {"how", sHow}}}}};
}

void SigmfSink::alarm(const AlarmEvent& event) {
    const LoggedChannel& channel = board_.channels[event.nChannel];
    const std::string sName = "AI" + std::to_string(channel.nChannel);
    annotations_.push_back({nPosition_, Json{{"core:sample_start", nPosition_},
                                             {"core:comment", "alarm " + sName + ": " + alarmEventText(event, channel)},
                                             {"queno:alarm", alarmJson(event, sName)}}});
    alarms_[event.nChannel] = {event.state, event.nScan};
}

void SigmfSink::limit(const LimitChange& change) {
    Stretch& stretch = stretches_[change.nChannel];
    if (change.nOldSide != 0) annotations_.push_back(stretchAnnotation(change.nChannel, stretch, change.nScan, change.nOldScans, "ended"));
    stretch = change.nNewSide != 0 ? Stretch{change.nNewSide, change.nScan, nPosition_} : Stretch{};
}

void SigmfSink::tick(int64_t nMonotonicMicros) {
    if (nMonotonicMicros - nLastSync_ >= static_cast<int64_t>(options_.dSyncSeconds * 1e6)) {
        pOutput_->sync();
        nLastSync_ = monotonicMicros();
    }
}

// This file is complete: its metadata names the next, which begins with a capture of its own.
void SigmfSink::rotate(uint64_t nNextScan) {
    std::string sError;
    if (!pOutput_->prepareNext(&sError)) {  // the metadata names only a file that exists
        fail(sError);
        return;
    }
    sNext_ = pOutput_->nextCompanionName();
    for (size_t c = 0; c < nChannels_; ++c) {
        if (stretches_[c].nSide != 0) annotations_.push_back(stretchAnnotation(c, stretches_[c], nNextScan, 0, "continues"));
    }
    if (!writeMeta(nullptr)) return;
    if (!pOutput_->rotate(&sError)) {
        fail(sError);
        return;
    }
    captures_.clear();
    annotations_.clear();
    sNext_.clear();
    bMetaWritten_ = false;
    nPosition_ = 0;
    nFileFirstScan_ = nNextScan;
    for (Stretch& stretch : stretches_) stretch.nPosition = 0;
    stretchesAtStart_ = stretches_;
    alarmsAtStart_ = alarms_;
    startCapture(nNextScan);
}

void SigmfSink::end(const RunTotals& totals) {
    if (!bFailed_) {
        for (const LimitChange& open : totals.openStretches) {
            annotations_.push_back(stretchAnnotation(open.nChannel, stretches_[open.nChannel], open.nScan, open.nOldScans, "to_end"));
        }
        pOutput_->sync();
        writeMeta(&totals);
    }
    pOutput_->close();
}

Json SigmfSink::globalJson(const RunTotals* pTotals) const {
    const bool bMeans = options_.nAverage > 1;
    Json global{{"core:datatype", bMeans ? "rf64_le" : "ri32_le"},
                {"core:sample_rate", board_.dRate / options_.nAverage},
                {"core:num_channels", nChannels_},
                {"core:version", "1.0.0"},
                {"core:recorder", "queno_log " QUENO_VERSION},
                {"core:hw", board_.sName + ", serial " + board_.sSerial},
                {"core:extensions", Json::array({Json{{"name", "queno"}, {"version", "1.0.0"}, {"optional", true}}})}};
    const Json board = boardJson(board_);  // named: items() refers to it
    for (const auto& item : board.items()) global["queno:" + item.key()] = item.value();
    global["queno:average"] = options_.nAverage;
    global["queno:keep_limits"] = options_.bKeepLimits;
    const Json clock = clockJson(clock_);
    for (const auto& item : clock.items()) global["queno:" + item.key()] = item.value();
    if (clock_.model() != nullptr) {
        const ClockFit fit = clock_.model()->fit();
        global["queno:clock"] = Json{{"fitted_rate", fit.dRate}, {"error_bound_us", fit.dBoundMicros}, {"anchors", fit.nAnchors}};
    }
    global["queno:file"] = pOutput_->fileNumber();
    global["queno:first_scan"] = nFileFirstScan_;
    Json atStart = Json::array();
    for (size_t c = 0; c < stretchesAtStart_.size(); ++c) {
        if (stretchesAtStart_[c].nSide == 0) continue;
        atStart.push_back(Json{{"channel", "AI" + std::to_string(board_.channels[c].nChannel)},
                               {"side", limitName(stretchesAtStart_[c].nSide)},
                               {"from_scan", stretchesAtStart_[c].nFrom}});
    }
    global["queno:limits_at_start"] = atStart;
    if (!options_.alarms.empty()) {  // the alarms that hold as this file begins
        Json alarms = Json::array();
        for (size_t c = 0; c < alarmsAtStart_.size(); ++c) {
            if (alarmsAtStart_[c].first == AlarmState::Normal) continue;
            alarms.push_back(Json{{"channel", "AI" + std::to_string(board_.channels[c].nChannel)},
                                  {"state", alarmStateName(alarmsAtStart_[c].first)},
                                  {"since_scan", alarmsAtStart_[c].second}});
        }
        global["queno:alarms_at_start"] = alarms;
    }
    global["queno:channels"] = channelsJson(board_);
    if (!sNext_.empty()) global["queno:next"] = sNext_.substr(sNext_.rfind('/') + 1);
    if (pTotals != nullptr) {
        Json end{{"scans", pTotals->nScans}, {"gaps", pTotals->nGaps}, {"lost", pTotals->nLost}};
        if (pTotals->nRowsDropped >= 0) end["rows_dropped"] = pTotals->nRowsDropped;  // only where rows are published
        end["time"] = utcText(pTotals->nEndMicros);
        end["time_us"] = pTotals->nEndMicros;
        end["out_of_range"] = pTotals->outOfRange;
        if (!pTotals->alarmEvents.empty()) {
            Json alarms = Json::array();
            for (const auto& events : pTotals->alarmEvents) {
                alarms.push_back(Json{{"channel", "AI" + std::to_string(board_.channels[events.first].nChannel)}, {"events", events.second}});
            }
            end["alarm_events"] = alarms;
        }
        global["queno:end"] = end;
    }
    return global;
}

bool SigmfSink::writeMeta(const RunTotals* pTotals) {
    // One capture or annotation a line, so that the file reads well and diffs well.
    std::string s = "{\n  \"global\": " + jsonDump(globalJson(pTotals)) + ",\n  \"captures\": [";
    for (size_t i = 0; i < captures_.size(); ++i) {
        Json capture{{"core:sample_start", captures_[i].nPosition},
                     {"core:global_index", captures_[i].nScan},
                     {"core:datetime", utcText(clock_.micros(captures_[i].nScan))}};
        // The fitted clock's rate from this capture on, so that a reader's times are the model's.
        if (clock_.model() != nullptr) {
            capture["queno:datetime_us"] = clock_.micros(captures_[i].nScan);
            capture["queno:rate"] = clock_.model()->rateAt(captures_[i].nScan);
        }
        s += std::string(i > 0 ? "," : "") + "\n    " + jsonDump(capture);
    }
    // Annotations in the order of their first sample, as SigMF asks.
    std::vector<const Annotation*> ordered;
    for (const Annotation& annotation : annotations_) ordered.push_back(&annotation);
    std::stable_sort(ordered.begin(), ordered.end(), [](const Annotation* a, const Annotation* b) { return a->nStart < b->nStart; });
    s += "\n  ],\n  \"annotations\": [";
    for (size_t i = 0; i < ordered.size(); ++i) s += std::string(i > 0 ? "," : "") + "\n    " + jsonDump(ordered[i]->json);
    s += "\n  ]\n}\n";
    std::string sError;
    if (!replaceFile(pOutput_->companionName(), s, !bMetaWritten_, &sError)) {
        fail(sError);
        return false;
    }
    bMetaWritten_ = true;
    return true;
}

}  // namespace qlog
