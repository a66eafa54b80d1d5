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
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "csv_sink.h"
#include "output_file.h"
#include "program_messages.h"
#include "sigmf_recording.h"

namespace {

using namespace qlog;

const char kUsage[] =
    "Usage: queno_convert [-o OUT] RECORDING\n"
    "Writes a SigMF recording of queno_log (RECORDING.sigmf-meta and .sigmf-data, either named, or the\n"
    "name without the extension) as the CSV queno_log would have written for the same scans.\n"
    "\n"
    "  -o, --output OUT  the CSV file (never overwritten); '-' or none: standard output\n"
    "      --help, --version\n"
    "\n"
    "Exit status: 0 converted, 1 no such recording or an output that cannot be written, 2 bad arguments.\n";

int usageError(const std::string& sWhy) {
    fprintf(stderr, "queno_convert: %s\nTry 'queno_convert --help' for the options.\n", sWhy.c_str());
    return 2;
}

// The data file as memory; only the whole rows the metadata's reader counted.
class MappedData {
public:
    MappedData() = default;
    MappedData(const MappedData&) = delete;
    MappedData& operator=(const MappedData&) = delete;
    bool map(const std::string& sPath, size_t nBytes, std::string* pError) {
        nBytes_ = nBytes;
        if (nBytes == 0) return true;
        int fd = open(sPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            *pError = "cannot read " + sPath + ": " + strerror(errno);
            return false;
        }
        pData_ = mmap(nullptr, nBytes, PROT_READ, MAP_PRIVATE, fd, 0);
        close(fd);
        if (pData_ == MAP_FAILED) {
            pData_ = nullptr;
            *pError = "cannot read " + sPath + ": " + strerror(errno);
            return false;
        }
        madvise(pData_, nBytes, MADV_SEQUENTIAL);
        return true;
    }
    ~MappedData() {
        if (pData_ != nullptr) munmap(pData_, nBytes_);
    }
    const char* bytes() const { return static_cast<const char*>(pData_); }

private:
    void* pData_ = nullptr;
    size_t nBytes_ = 0;
};

// Feeds the recording to the CSV sink in the order queno_log's writer met it: before the rows at a
// position its gaps, before a row the limit changes of the scans it holds, then the rows.
void convert(const SigmfRecording& r, const char* pData, CsvSink* pSink) {
    const size_t nChannels = r.board.channels.size();
    const uint32_t nPerRow = r.options.nAverage;
    std::vector<uint8_t> limited(nChannels);
    size_t nGap = 0, nChange = 0;
    uint64_t nLastScan = 0;
    for (size_t nCapture = 0; nCapture < r.captures.size(); ++nCapture) {
        const SigmfRecording::Capture& capture = r.captures[nCapture];
        const uint64_t nEnd = nCapture + 1 < r.captures.size() ? std::min(r.captures[nCapture + 1].nPosition, r.nRows) : r.nRows;
        for (uint64_t nPosition = capture.nPosition; nPosition < nEnd;) {
            while (nGap < r.gaps.size() && r.gaps[nGap].nPosition <= nPosition) pSink->gap(r.gaps[nGap++].record);
            const uint64_t nScan = capture.nScan + (nPosition - capture.nPosition) * nPerRow;
            while (nChange < r.limitChanges.size() && r.limitChanges[nChange].nScan < nScan + nPerRow) {
                pSink->limit(r.limitChanges[nChange++]);
            }
            // Rows up to the next change, gap or capture, in one block.
            uint64_t nTo = nEnd;
            if (nGap < r.gaps.size()) nTo = std::min(nTo, std::max(r.gaps[nGap].nPosition, nPosition + 1));
            if (nChange < r.limitChanges.size()) {
                const uint64_t nAt = capture.nPosition + (r.limitChanges[nChange].nScan - capture.nScan) / nPerRow;
                nTo = std::min(nTo, std::max(nAt, nPosition + 1));
            }
            if (r.bMeans) nTo = nPosition + 1;
            RowBlock block;
            block.nFirstScan = nScan;
            block.nRows = static_cast<size_t>(nTo - nPosition);
            block.nScansPerRow = nPerRow;
            const char* pRows = pData + nPosition * r.nRowBytes;
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
    while (nGap < r.gaps.size() && r.gaps[nGap].nPosition <= r.nRows) pSink->gap(r.gaps[nGap++].record);
    while (nChange < r.limitChanges.size()) pSink->limit(r.limitChanges[nChange++]);
    if (r.bEnded) {
        pSink->end(r.totals);
    } else if (!r.sNext.empty()) {
        pSink->endWith("# continued in " + r.sNext);
    } else {
        pSink->endWith((r.nRows == 0 ? std::string("# cut short before its first scan")
                                       : "# cut short after scan " + std::to_string(nLastScan)) +
                       ": the recording has no end (its writer was stopped, or is still writing)");
    }
}

}  // namespace

int main(int argc, char** argv) {
    setProgramName("queno_convert");
    std::string sOutput = "-", sRecording;
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
        } else if (s.size() > 1 && s[0] == '-') {
            return usageError("unknown option " + s);
        } else if (sRecording.empty()) {
            sRecording = s;
        } else {
            return usageError("one RECORDING only");
        }
    }
    if (sRecording.empty()) return usageError("no RECORDING given");
    if (sOutput.empty()) return usageError("--output: a file name, or - for standard output");

    SigmfRecording recording;
    std::string sError;
    MappedData data;
    if (!readSigmfRecording(sRecording, &recording, &sError) ||
        !data.map(recording.sDataPath, recording.nRows * recording.nRowBytes, &sError)) {
        say(sError);
        return 1;
    }
    OutputFile output;
    if (!output.open(sOutput, false, &sError)) {
        say(sError);
        return 1;
    }
    const ScanClock clock(recording.nStartMicros, recording.nDelayScans, recording.board.rate);
    CsvSink sink(recording.options, recording.board, &output, clock);
    const std::string sMeta = recording.sMetaPath.substr(recording.sMetaPath.rfind('/') + 1);
    sink.convertedFrom("# " + recording.sRecorder + ": " + sMeta + ", converted by queno_convert " QUENO_VERSION, recording.nFile,
                       recording.nFirstScan, recording.stretchesAtStart);
    if (!sink.begin()) return 1;
    convert(recording, data.bytes(), &sink);
    return sink.failed() ? 1 : 0;
}
