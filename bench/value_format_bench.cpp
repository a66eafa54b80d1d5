// What one CSV value costs queno_log: its fixed-point formatter against snprintf("%.5f"), and a
// whole row of 16 values with its time, as the writer thread makes it.
#include <benchmark/benchmark.h>
#include <math.h>
#include <stdio.h>

#include <vector>

#include "value_text.h"

namespace {

constexpr double kScale = 150.0 / 8388607.0;
constexpr double kOffset = -50.0;

// Samples around room temperature, as an RTD channel delivers them.
std::vector<int32_t> samples() {
    std::vector<int32_t> raw(4096);
    uint32_t n = 12345;
    for (int32_t& r : raw) {
        n = n * 1664525u + 1013904223u;
        r = -1500000 + static_cast<int32_t>(n % 2000);
    }
    return raw;
}

void BM_FixedPoint(benchmark::State& state) {
    std::vector<int32_t> raw = samples();
    char sText[qlog::kMaxNumberText];
    size_t i = 0;
    for (auto _ : state) {
        char* p = qlog::writeFixed(sText, fma(raw[i++ & 4095], kScale, -kOffset), 5);
        benchmark::DoNotOptimize(p);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FixedPoint);

void BM_Snprintf(benchmark::State& state) {
    std::vector<int32_t> raw = samples();
    char sText[qlog::kMaxNumberText];
    size_t i = 0;
    for (auto _ : state) {
        int n = snprintf(sText, sizeof(sText), "%.5f", fma(raw[i++ & 4095], kScale, -kOffset));
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Snprintf);

// A row of 16 channels at 100,000 scans/s: its time, scan number and values.
void BM_Row16(benchmark::State& state) {
    std::vector<int32_t> raw = samples();
    std::vector<char> buffer(4096);
    qlog::TimeText time;
    uint64_t nScan = 0;
    for (auto _ : state) {
        char* p = time.write(buffer.data(), 1796743201123456 + static_cast<int64_t>(nScan) * 10);
        *p++ = ',';
        p = qlog::writeUnsigned(p, nScan);
        for (int c = 0; c < 16; ++c) {
            *p++ = ',';
            p = qlog::writeFixed(p, fma(raw[(nScan + c) & 4095], kScale, -kOffset), 5);
        }
        *p++ = '\n';
        ++nScan;
        benchmark::DoNotOptimize(p);
    }
    state.SetItemsProcessed(state.iterations() * 16);
    state.SetLabel("values");
}
BENCHMARK(BM_Row16);

}  // namespace

BENCHMARK_MAIN();
