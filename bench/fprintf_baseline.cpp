// The plain way to write what queno_log writes: fprintf("%.5f") of every value, for a run of
// SCANS scans of CHANNELS channels, into FILE. logger_bench.sh measures its CPU beside queno_log's.
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: fprintf_baseline SCANS CHANNELS FILE\n");
        return 2;
    }
    const unsigned long long nScans = strtoull(argv[1], nullptr, 10);
    const int nChannels = atoi(argv[2]);
    FILE* pFile = fopen(argv[3], "w");
    if (pFile == nullptr) return 1;
    const double dScale = 200.0 / 2 / 8388607.0;
    unsigned n = 12345;
    for (unsigned long long s = 0; s < nScans; ++s) {
        fprintf(pFile, "2026-12-08T15:20:01.%06lluZ,%llu", s % 1000000, s);
        for (int c = 0; c < nChannels; ++c) {
            n = n * 1664525u + 1013904223u;
            fprintf(pFile, ",%.5f", fma(static_cast<int>(n % 2000) - 1000, dScale, 0.0));
        }
        fputc('\n', pFile);
    }
    return fclose(pFile) == 0 ? 0 : 1;
}
