/*
 * queno_convert: a SigMF recording of queno_log as the CSV queno_log would have written.
 *
 * Usage: queno_convert [-o OUT] RECORDING
 *
 * RECORDING is either file of the pair or the name without its extension. The CSV goes to OUT
 * (never over an existing file) or to standard output: the same header lines (the first says
 * which recording it was converted from), the same rows with the same times and decimals, the same
 * gap lines, limit lines and end line. A recording still being written, or cut by a power failure,
 * is converted up to its last whole scan and ends with a line that says so.
 *
 * Exit status: 0 converted, 1 a recording that cannot be read or is no SigMF recording of
 * queno_log, or an output that cannot be written, 2 bad arguments.
 */
#include <fcntl.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "csv_sink.h"
#include "merged_rows.h"
#include "output_file.h"
#include "recording_json.h"
#include "regular_file.h"
#include "program_messages.h"
#include "sigmf_recording.h"

namespace {

using namespace qlog;

const char kUsage[] =
    "Usage: queno_convert [-o OUT] RECORDING\n"
    "       queno_convert --merge [-o OUT] COLLECTION | FILE FILE...\n"
    "Writes a SigMF recording of queno_log (RECORDING.sigmf-meta and .sigmf-data, either named, or the\n"
    "name without the extension) as the CSV queno_log would have written for the same scans.\n"
    "With --merge, the boards of one run (their .sigmf-collection, or their CSV or SigMF files, the\n"
    "first board first) as one CSV: a row per row of the first board, a column per channel of every\n"
    "board, another board's value from its row nearest in time within half its row period.\n"
    "\n"
    "  -o, --output OUT  the CSV file (never overwritten); '-' or none: standard output\n"
    "      --merge       several boards' files of one run as one CSV\n"
    "      --help, --version\n"
    "\n"
    "Exit status: 0 converted, 1 no such recording or an output that cannot be written, 2 bad arguments.\n";

int usageError(const std::string& sWhy) {
    fprintf(stderr, "queno_convert: %s\nTry 'queno_convert --help' for the options.\n", sWhy.c_str());
    return 2;
}

// The data file's rows, read a block at a time: a file cut while it is read ends the rows there
// (a mapping of it would kill the process at the first page past the cut).
class DataRows {
public:
    DataRows() = default;
    DataRows(const DataRows&) = delete;
    DataRows& operator=(const DataRows&) = delete;
    ~DataRows() {
        if (fd_ >= 0) close(fd_);
    }
    bool open(const std::string& sPath, size_t nRowBytes, std::string* pError) {
        nRowBytes_ = nRowBytes;
        fd_ = ::open(sPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        if (fd_ < 0) *pError = "cannot read " + sPath + ": " + strerror(errno);
        return fd_ >= 0;
    }
    // Rows from nFirst on, at most *pnTo - nFirst of them; *pnTo is moved back to what was read.
    // Null when the file ends (or fails) before nFirst.
    const char* rows(uint64_t nFirst, uint64_t* pnTo) {
        const uint64_t nWant = std::min<uint64_t>(*pnTo - nFirst, std::max<size_t>(kBlockBytes / nRowBytes_, 1));
        buffer_.resize(static_cast<size_t>(nWant) * nRowBytes_);
        size_t nHave = 0;
        while (nHave < buffer_.size()) {
            const ssize_t n = pread(fd_, buffer_.data() + nHave, buffer_.size() - nHave,
                                    static_cast<off_t>(nFirst * nRowBytes_ + nHave));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            nHave += static_cast<size_t>(n);
        }
        *pnTo = nFirst + nHave / nRowBytes_;
        return *pnTo > nFirst ? buffer_.data() : nullptr;
    }

private:
    static constexpr size_t kBlockBytes = 1 << 20;
    int fd_ = -1;
    size_t nRowBytes_ = 1;
    std::vector<char> buffer_;
};

// The limit changes and alarm events of scans before nBefore, in the order the writer met them: by
// scan, a scan's limit changes before its alarms.
void sayChanges(const SigmfRecording& r, uint64_t nBefore, size_t* pnChange, size_t* pnAlarm, CsvSink* pSink) {
    for (;;) {
        const uint64_t nLimitScan = *pnChange < r.limitChanges.size() ? r.limitChanges[*pnChange].nScan : UINT64_MAX;
        const uint64_t nAlarmScan = *pnAlarm < r.alarmEvents.size() ? r.alarmEvents[*pnAlarm].nScan : UINT64_MAX;
        if (nLimitScan < nBefore && nLimitScan <= nAlarmScan) {
            pSink->limit(r.limitChanges[(*pnChange)++]);
        } else if (nAlarmScan < nBefore) {
            pSink->alarm(r.alarmEvents[(*pnAlarm)++]);
        } else {
            return;
        }
    }
}

// Feeds the recording to the CSV sink in the order queno_log's writer met it: before the rows at a
// position its gaps, before a row the limit changes of the scans it holds, then the rows.
void convert(const SigmfRecording& r, DataRows& data, CsvSink* pSink) {
    const size_t nChannels = r.board.channels.size();
    const uint32_t nPerRow = r.options.nAverage;
    std::vector<uint8_t> limited(nChannels);
    size_t nGap = 0, nChange = 0, nAlarm = 0;
    uint64_t nLastScan = 0;
    uint64_t nRows = r.nRows;
    bool bDataShort = r.bDataShort;
    for (size_t nCapture = 0; nCapture < r.captures.size(); ++nCapture) {
        const SigmfRecording::Capture& capture = r.captures[nCapture];
        const uint64_t nEnd = nCapture + 1 < r.captures.size() ? std::min(r.captures[nCapture + 1].nPosition, nRows) : nRows;
        for (uint64_t nPosition = capture.nPosition; nPosition < nEnd;) {
            while (nGap < r.gaps.size() && r.gaps[nGap].nPosition <= nPosition) pSink->gap(r.gaps[nGap++].record);
            const uint64_t nScan = capture.nScan + (nPosition - capture.nPosition) * nPerRow;
            sayChanges(r, nScan + nPerRow, &nChange, &nAlarm, pSink);
            // Rows up to the next change, gap or capture, in one block.
            uint64_t nTo = nEnd;
            if (nGap < r.gaps.size()) nTo = std::min(nTo, std::max(r.gaps[nGap].nPosition, nPosition + 1));
            for (const uint64_t nChangeScan : {nChange < r.limitChanges.size() ? r.limitChanges[nChange].nScan : UINT64_MAX,
                                               nAlarm < r.alarmEvents.size() ? r.alarmEvents[nAlarm].nScan : UINT64_MAX}) {
                if (nChangeScan == UINT64_MAX) continue;
                const uint64_t nAt = capture.nPosition + (nChangeScan - capture.nScan) / nPerRow;
                nTo = std::min(nTo, std::max(nAt, nPosition + 1));
            }
            if (r.bMeans) nTo = nPosition + 1;
            const char* pRows = data.rows(nPosition, &nTo);
            if (pRows == nullptr) {  // cut while it was read: the recording ends here
                nRows = nPosition;
                bDataShort = r.bEnded;
                break;
            }
            RowBlock block;
            block.nFirstScan = nScan;
            block.nRows = static_cast<size_t>(nTo - nPosition);
            block.nScansPerRow = nPerRow;
            if (r.bMeans) {
                const double* pMeans = reinterpret_cast<const double*>(pRows);
                for (size_t c = 0; c < nChannels; ++c) limited[c] = isnan(pMeans[c]) ? 1 : 0;
                block.pMeans = pMeans;
                block.pLimited = limited.data();
            } else {
                block.pCounts = reinterpret_cast<const int32_t*>(pRows);
            }
            pSink->rows(block);
            nLastScan = nScan + (nTo - nPosition - 1) * nPerRow + nPerRow - 1;
            nPosition = nTo;
        }
    }
    while (nGap < r.gaps.size() && r.gaps[nGap].nPosition <= nRows) pSink->gap(r.gaps[nGap++].record);
    sayChanges(r, UINT64_MAX, &nChange, &nAlarm, pSink);
    if (r.bEnded && !bDataShort) {
        pSink->end(r.totals);
    } else if (!r.sNext.empty()) {
        pSink->endWith("# continued in " + r.sNext);
    } else {
        pSink->endWith((nRows == 0 ? std::string("# cut short before its first scan")
                                       : "# cut short after scan " + std::to_string(nLastScan)) +
                       (bDataShort ? ": the data file ends before the scans its metadata counts"
                                     : ": the recording has no end (its writer was stopped, or is still writing)"));
    }
}

// One recording converted into the output named (never over an existing file). 0, or 1 said.
int convertInto(const std::string& sRecording, const std::string& sOutput, OutputFile* pOutput) {
    SigmfRecording recording;
    std::string sError;
    DataRows data;
    if (!readSigmfRecording(sRecording, &recording, &sError) || !data.open(recording.sDataPath, recording.nRowBytes, &sError)) {
        say(sError);
        return 1;
    }
    OutputFile& output = *pOutput;
    if (!output.open(sOutput, false, &sError)) {
        say(sError);
        return 1;
    }
    ScanClock clock(recording.nStartMicros, recording.nDelayScans, recording.board.rate);
    // A board of several: its times are the fitted clock's, capture by capture.
    ClockModel model(recording.board.dRate);
    if (recording.bFittedClock) {
        for (const SigmfRecording::Capture& capture : recording.captures) model.fixed(capture.nScan, capture.nMicros, capture.dRate);
        model.stated(recording.clockFit);
        clock.follow(&model);
    }
    CsvSink sink(recording.options, recording.board, &output, clock);
    const std::string sMeta = recording.sMetaPath.substr(recording.sMetaPath.rfind('/') + 1);
    sink.convertedFrom("# " + recording.sRecorder + ": " + sMeta + ", converted by queno_convert " QUENO_VERSION, recording.nFile,
                       recording.nFirstScan, recording.stretchesAtStart, recording.alarmsAtStart);
    if (!sink.begin()) return 1;
    convert(recording, data, &sink);
    return sink.failed() ? 1 : 0;
}

bool endsWith(const std::string& s, const char* sEnd) {
    const size_t n = strlen(sEnd);
    return s.size() >= n && s.compare(s.size() - n, n, sEnd) == 0;
}

// The recordings a collection names, beside it.
bool collectionMembers(const std::string& sPath, std::vector<std::string>* pMembers, std::string* pError) {
    std::string sText;
    int nErrno = 0;
    const FileRead read = readRegularFile(sPath, 1 << 20, &sText, &nErrno);
    if (read != FileRead::Done) {
        *pError = "cannot read " + sPath + (read == FileRead::TooLarge ? ": larger than 1 MiB" : read == FileRead::NotRegular ? ": not a regular file" : std::string(": ") + strerror(nErrno));
        return false;
    }
    const Json json = Json::parse(sText, nullptr, false);
    const size_t nSlash = sPath.rfind('/');
    const std::string sDirectory = nSlash == std::string::npos ? "" : sPath.substr(0, nSlash + 1);
    if (json.is_object() && json.contains("collection") && json["collection"].is_object() && json["collection"].contains("core:streams") &&
        json["collection"]["core:streams"].is_array()) {
        for (const Json& stream : json["collection"]["core:streams"]) {
            const Json* pName = stream.is_object() && stream.contains("name") ? &stream["name"] : stream.is_array() && !stream.empty() ? &stream[0] : nullptr;
            if (pName == nullptr || !pName->is_string()) continue;
            const std::string sName = pName->get<std::string>();
            if (sName.empty() || sName.find('/') != std::string::npos || sName.find_first_of(std::string("\0\n", 2)) != std::string::npos) continue;
            pMembers->push_back(sDirectory + sName);
        }
    }
    if (pMembers->size() < 2 || pMembers->size() > 256) {
        *pError = sPath + " names no two recordings (\"collection\": {\"core:streams\": [...]})";
        return false;
    }
    return true;
}

// --merge: the boards' files as one CSV. SigMF recordings are converted first, into a folder of
// the run's own that is removed again.
int merge(const std::vector<std::string>& inputs, const std::string& sOutput) {
    std::vector<std::string> recordings;
    std::string sError;
    for (const std::string& sInput : inputs) {
        if (!endsWith(sInput, ".sigmf-collection")) {
            recordings.push_back(sInput);
        } else if (!collectionMembers(sInput, &recordings, &sError)) {
            say(sError);
            return 1;
        }
    }
    if (recordings.size() < 2) return usageError("--merge needs the files of two boards or more, or their collection");
    const char* sTemp = getenv("TMPDIR");
    std::string sTemplate = std::string(sTemp != nullptr && sTemp[0] == '/' ? sTemp : "/tmp") + "/queno_convert-XXXXXX";
    if (mkdtemp(&sTemplate[0]) == nullptr) {
        say(std::string("cannot make a folder for the conversions: ") + strerror(errno));
        return 1;
    }
    std::vector<std::string> csvs, names, made;
    int nStatus = 0;
    for (size_t i = 0; i < recordings.size() && nStatus == 0; ++i) {
        const std::string& sRecording = recordings[i];
        const std::string sName = sRecording.substr(sRecording.rfind('/') + 1);
        names.push_back(sName);
        if (endsWith(sRecording, ".csv")) {
            csvs.push_back(sRecording);
            continue;
        }
        const std::string sCsv = sTemplate + "/" + std::to_string(i) + ".csv";
        OutputFile output;
        nStatus = convertInto(sRecording, sCsv, &output);
        output.close();
        made.push_back(sCsv);
        csvs.push_back(sCsv);
    }
    if (nStatus == 0) {
        FILE* pOut = stdout;
        int fd = -1;
        if (sOutput != "-") {
            fd = ::open(sOutput.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
            pOut = fd >= 0 ? fdopen(fd, "w") : nullptr;
            if (pOut == nullptr) {
                say("cannot create " + sOutput + ": " + strerror(errno) + (errno == EEXIST ? " (it is never overwritten)" : ""));
                nStatus = 1;
            }
        }
        if (pOut != nullptr && !mergeBoardFiles(csvs, names, pOut, &sError)) {
            say(sError);
            nStatus = 1;
        }
        if (pOut != nullptr && pOut != stdout && fclose(pOut) != 0 && nStatus == 0) {
            say("cannot write " + sOutput + ": " + strerror(errno));
            nStatus = 1;
        }
    }
    for (const std::string& sMade : made) unlink(sMade.c_str());
    rmdir(sTemplate.c_str());
    return nStatus;
}

}  // namespace

int main(int argc, char** argv) {
    setProgramName("queno_convert");
    std::string sOutput = "-";
    std::vector<std::string> inputs;
    bool bMerge = false;
    for (int i = 1; i < argc; ++i) {
        const std::string s = argv[i];
        if (s == "--help" || s == "-h") {
            fputs(kUsage, stdout);
            return 0;
        }
        if (s == "--version") {
            fputs("queno_convert " QUENO_VERSION "\n", stdout);
            return 0;
        }
    }
    for (int i = 1; i < argc; ++i) {
        const std::string s = argv[i];
        if (s == "-o" || s == "--output") {
            if (i + 1 >= argc) return usageError("option " + s + " needs a value");
            sOutput = argv[++i];
        } else if (s == "--merge") {
            bMerge = true;
        } else if (s.size() > 1 && s[0] == '-') {
            return usageError("unknown option " + s);
        } else {
            inputs.push_back(s);
        }
    }
    if (inputs.empty()) return usageError("no RECORDING given");
    if (!bMerge && inputs.size() > 1) return usageError("one RECORDING only (several boards' files: --merge)");
    if (sOutput.empty()) return usageError("--output: a file name, or - for standard output");

    if (bMerge) return merge(inputs, sOutput);
    OutputFile output;
    return convertInto(inputs.front(), sOutput, &output);
}
