#include "merged_rows.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <deque>
#include <memory>

namespace qlog {

namespace {

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

bool digits(const char* s, size_t n, int* pn) {
    int v = 0;
    for (size_t i = 0; i < n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    *pn = v;
    return true;
}

struct Row {
    int64_t nMicros = 0;
    std::string sValues;  // the fields after time and scan, as written
};

// One board's CSV file, read line by line.
class BoardFile {
public:
    ~BoardFile() {
        if (pFile_ != nullptr) fclose(pFile_);
        free(pLine_);
    }
    bool open(const std::string& sPath, std::string* pError) {
        sPath_ = sPath;
        const int fd = ::open(sPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
        struct stat info = {};
        if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            *pError = "cannot read " + sPath + ": " + (fd < 0 ? strerror(errno) : "not a regular file");
            if (fd >= 0) ::close(fd);
            return false;
        }
        pFile_ = fdopen(fd, "r");
        return readHeader(pError);
    }
    // The next row; comment lines met before it go to *pComments when it is not null.
    bool next(Row* pRow, std::vector<std::string>* pComments) {
        for (;;) {
            const ssize_t n = getline(&pLine_, &nLine_, pFile_);
            if (n <= 0) return false;
            std::string sLine(pLine_, static_cast<size_t>(n));
            if (sLine.back() == '\n') sLine.pop_back();
            if (sLine.empty()) continue;
            if (sLine[0] == '#') {
                if (pComments != nullptr) pComments->push_back(sLine);
                continue;
            }
            const size_t nTime = sLine.find(',');
            const size_t nScan = nTime == std::string::npos ? std::string::npos : sLine.find(',', nTime + 1);
            if (nScan == std::string::npos || !parseUtcText(sLine.data(), nTime, &pRow->nMicros)) continue;  // a line cut short
            pRow->sValues = sLine.substr(nScan + 1);
            return true;
        }
    }
    std::string boardId;
    std::string sBoardLine;        // "board 0: QUENO-1600-UNIV, serial A1, 24 bits"
    std::vector<std::string> columns;
    double dRowMicros = 0;         // a row's period

private:
    bool readHeader(std::string* pError) {
        double dRate = 0;
        unsigned long nAverage = 1;
        for (;;) {
            const ssize_t n = getline(&pLine_, &nLine_, pFile_);
            if (n <= 0) break;
            std::string sLine(pLine_, static_cast<size_t>(n));
            if (sLine.back() == '\n') sLine.pop_back();
            if (sLine.compare(0, 8, "# board ") == 0) {
                sBoardLine = sLine.substr(2);
                boardId = sLine.substr(8, sLine.find(':') - 8);
            } else if (sLine.compare(0, 7, "# rate ") == 0) {
                dRate = strtod(sLine.c_str() + 7, nullptr);
            } else if (sLine.compare(0, 23, "# each row is the mean ") == 0) {
                nAverage = strtoul(sLine.c_str() + 26, nullptr, 10);
            } else if (sLine.compare(0, 10, "time,scan,") == 0) {
                for (size_t nFrom = 10; nFrom <= sLine.size();) {
                    size_t nComma = sLine.find(',', nFrom);
                    if (nComma == std::string::npos) nComma = sLine.size();
                    columns.push_back(sLine.substr(nFrom, nComma - nFrom));
                    nFrom = nComma + 1;
                }
                break;
            }
        }
        if (boardId.empty() || !(dRate > 0) || columns.empty() || nAverage == 0) {
            *pError = sPath_ + " is not a CSV file of queno_log (no board, rate or column line)";
            return false;
        }
        dRowMicros = 1e6 * static_cast<double>(nAverage) / dRate;
        return true;
    }

    std::string sPath_;
    FILE* pFile_ = nullptr;
    char* pLine_ = nullptr;
    size_t nLine_ = 0;
};

// Another board's rows around the first board's row times: its nearest within half a period.
class NearestRows {
public:
    explicit NearestRows(BoardFile& file) : file_(file), dHalf_(file.dRowMicros / 2) {
        empty_.assign(file.columns.size() - 1, ',');
    }
    const std::string& at(int64_t nMicros) {
        while (!bEnded_ && (rows_.empty() || static_cast<double>(rows_.back().nMicros) <= static_cast<double>(nMicros) + dHalf_)) {
            Row row;
            if (!file_.next(&row, nullptr)) {
                bEnded_ = true;
                break;
            }
            rows_.push_back(std::move(row));
        }
        while (!rows_.empty() && static_cast<double>(rows_.front().nMicros) < static_cast<double>(nMicros) - dHalf_) rows_.pop_front();
        const Row* pBest = nullptr;
        for (const Row& row : rows_) {
            const double d = fabs(static_cast<double>(row.nMicros - nMicros));
            if (d <= dHalf_ && (pBest == nullptr || d < fabs(static_cast<double>(pBest->nMicros - nMicros)))) pBest = &row;
        }
        return pBest != nullptr ? pBest->sValues : empty_;
    }

private:
    static double fabs(double d) { return d < 0 ? -d : d; }
    BoardFile& file_;
    double dHalf_;
    std::deque<Row> rows_;
    bool bEnded_ = false;
    std::string empty_;
};

}  // namespace

bool parseUtcText(const char* s, size_t n, int64_t* pnMicros) {
    int y, mo, d, h, mi, se, us = 0;
    if (n != 20 && n != 27) return false;
    if (s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' || s[16] != ':' || s[n - 1] != 'Z') return false;
    if (!digits(s, 4, &y) || !digits(s + 5, 2, &mo) || !digits(s + 8, 2, &d) || !digits(s + 11, 2, &h) || !digits(s + 14, 2, &mi) ||
        !digits(s + 17, 2, &se)) {
        return false;
    }
    if (n == 27 && (s[19] != '.' || !digits(s + 20, 6, &us))) return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 60) return false;
    const int64_t nDays = daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    *pnMicros = ((nDays * 24 + h) * 60 + mi) * 60000000ll + se * 1000000ll + us;
    return true;
}

bool mergeBoardFiles(const std::vector<std::string>& paths, const std::vector<std::string>& names, FILE* pOut, std::string* pError) {
    std::vector<std::unique_ptr<BoardFile>> files;
    for (const std::string& sPath : paths) {
        files.emplace_back(new BoardFile);
        if (!files.back()->open(sPath, pError)) return false;
    }
    fprintf(pOut, "# queno_convert --merge: %zu boards, a row per row of board %s; another board's values are its row nearest in time "
                  "within half its row period, empty where it has none\n",
            files.size(), files.front()->boardId.c_str());
    for (size_t i = 0; i < files.size(); ++i) fprintf(pOut, "# %s: %s\n", names[i].c_str(), files[i]->sBoardLine.c_str());
    std::string sColumns = "time";
    for (const auto& file : files) {
        for (const std::string& sColumn : file->columns) sColumns += "," + file->boardId + "/" + sColumn;
    }
    fprintf(pOut, "%s\n", sColumns.c_str());
    std::vector<std::unique_ptr<NearestRows>> others;
    for (size_t i = 1; i < files.size(); ++i) others.emplace_back(new NearestRows(*files[i]));
    Row row;
    std::vector<std::string> comments;
    std::string sLine;
    char sTime[32];
    for (;;) {
        comments.clear();
        const bool bRow = files.front()->next(&row, &comments);
        for (const std::string& sComment : comments) fprintf(pOut, "%s\n", sComment.c_str());
        if (!bRow) break;
        const int64_t nSeconds = row.nMicros / 1000000;
        const time_t t = static_cast<time_t>(nSeconds);
        struct tm parts = {};
        gmtime_r(&t, &parts);
        const size_t n = strftime(sTime, sizeof(sTime), "%Y-%m-%dT%H:%M:%S", &parts);
        snprintf(sTime + n, sizeof(sTime) - n, ".%06lldZ", static_cast<long long>(row.nMicros % 1000000));
        sLine = sTime;
        sLine += ',';
        sLine += row.sValues;
        for (auto& other : others) {
            sLine += ',';
            sLine += other->at(row.nMicros);
        }
        sLine += '\n';
        if (fwrite(sLine.data(), 1, sLine.size(), pOut) != sLine.size()) {
            *pError = std::string("cannot write the merged rows: ") + strerror(errno);
            return false;
        }
    }
    if (fflush(pOut) != 0) {
        *pError = std::string("cannot write the merged rows: ") + strerror(errno);
        return false;
    }
    return true;
}

}  // namespace qlog
