// The merge of several boards' CSV files: each row of the first board takes another board's row
// nearest in time within half that board's row period, empty where it has none (its gaps, before
// it began, after it ended); the first board's comment lines keep their places.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "merged_rows.h"
#include "messages.h"
#include "value_text.h"

namespace {

struct Board {
    int nId;
    double dRate;  // scans per second
    int nAverage;
    double dFirstMs;                // the first row's time after 12:00:00
    std::vector<int> rows;          // row numbers written (a gap where one is missing)
    std::vector<std::string> notes; // comment lines, each before the row of the same index
};

std::string csvOf(const Board& b) {
    std::string s = "# queno_log 1.2.0\n# board " + std::to_string(b.nId) + ": QUENO-1600-UNIV, serial S" + std::to_string(b.nId) +
                    ", 24 bits\n# rate " + qacq::textf("%g", b.dRate) + " S/s, started 2026-12-09T12:00:00.000000Z (...)\n";
    if (b.nAverage > 1) s += "# each row is the mean of " + std::to_string(b.nAverage) + " scans, with the time and scan of its first\n";
    s += "time,scan,AI0 [V],AI1 [V]\n";
    for (size_t i = 0; i < b.rows.size(); ++i) {
        if (i < b.notes.size() && !b.notes[i].empty()) s += b.notes[i] + "\n";
        const int64_t nMicros = 1796817600000000 + static_cast<int64_t>((b.dFirstMs + b.rows[i] * 1000.0 * b.nAverage / b.dRate) * 1000);
        char sTime[40];
        qlog::formatUtcMicros(nMicros, sTime, sizeof(sTime));
        s += std::string(sTime) + "," + std::to_string(b.rows[i]) + "," + std::to_string(b.nId) + "." + std::to_string(b.rows[i]) + ",\n";
    }
    return s + "# end 2026-12-09T12:00:01.000000Z: ...\n";
}

TEST(MergedRows, NearestWithinHalfAPeriodAndEmptyElsewhere) {
    char sDir[] = "/tmp/queno-merge-XXXXXX";
    ASSERT_NE(mkdtemp(sDir), nullptr);
    const Board boards[] = {
        {0, 1000, 1, 0, {0, 1, 2, 3, 4, 5, 6, 7}, {"", "", "", "# gap: 1 scan lost ..."}},  // 1 ms rows
        {1, 500, 1, 0.9, {0, 1, 3}, {}},           // 2 ms rows from 0.9 ms; row 2 (4.9 ms) lost
        {2, 1000, 4, 2.6, {0, 1}, {}},             // means of 4 scans, 4 ms rows from 2.6 ms
    };
    std::vector<std::string> paths, names;
    for (const Board& b : boards) {
        paths.push_back(std::string(sDir) + "/b" + std::to_string(b.nId) + ".csv");
        names.push_back("b" + std::to_string(b.nId) + ".csv");
        std::ofstream(paths.back()) << csvOf(b);
    }
    char* pText = nullptr;
    size_t nText = 0;
    FILE* pOut = open_memstream(&pText, &nText);
    std::string sError;
    ASSERT_TRUE(qlog::mergeBoardFiles(paths, names, pOut, &sError)) << sError;
    fclose(pOut);
    const std::string sMerged(pText, nText);
    free(pText);
    const std::string sBody = sMerged.substr(sMerged.find("time,"));
    EXPECT_EQ(sBody,
              "time,0/AI0 [V],0/AI1 [V],1/AI0 [V],1/AI1 [V],2/AI0 [V],2/AI1 [V]\n"
              "2026-12-09T12:00:00.000000Z,0.0,,1.0,,,\n"  // board 2's first row is 2.6 ms off: beyond half its 4 ms
              "2026-12-09T12:00:00.001000Z,0.1,,1.0,,2.0,\n"
              "2026-12-09T12:00:00.002000Z,0.2,,1.1,,2.0,\n"
              "# gap: 1 scan lost ...\n"
              "2026-12-09T12:00:00.003000Z,0.3,,1.1,,2.0,\n"
              "2026-12-09T12:00:00.004000Z,0.4,,,,2.0,\n"  // board 1's row at 4.9 ms was lost
              "2026-12-09T12:00:00.005000Z,0.5,,,,2.1,\n"
              "2026-12-09T12:00:00.006000Z,0.6,,1.3,,2.1,\n"
              "2026-12-09T12:00:00.007000Z,0.7,,1.3,,2.1,\n"
              "# end 2026-12-09T12:00:01.000000Z: ...\n");
    EXPECT_NE(sMerged.find("# b1.csv: board 1: QUENO-1600-UNIV, serial S1, 24 bits\n"), std::string::npos);

    std::ofstream(paths[1]) << "time,scan,AI0\n1,2,3\n";
    pOut = open_memstream(&pText, &nText);
    EXPECT_FALSE(qlog::mergeBoardFiles(paths, names, pOut, &sError));
    fclose(pOut);
    free(pText);
    EXPECT_EQ(sError, paths[1] + " is not a CSV file of queno_log (no board, rate or column line)");
    for (const std::string& sPath : paths) unlink(sPath.c_str());
    rmdir(sDir);
}

}  // namespace
