// The cost per sample of the example's batch walk (wrap, bounds check, in-place read, raw
// conversion) against a plain strided read of the same buffer, and of the walk with its output.
#include <benchmark/benchmark.h>
#include <stdint.h>
#include <stdio.h>

#include <vector>

#include "example.h"
#include "scaling.h"

namespace {

constexpr int32_t kScans = 8192;
constexpr int32_t kBatch = 110;  // about one poll cycle at 1000 scans per second

struct Buffer {
    std::vector<uint32_t> words = std::vector<uint32_t>(kScans);
    Buffer() {
        for (int32_t i = 0; i < kScans; ++i) words[static_cast<size_t>(i)] = static_cast<uint32_t>(i) << 8;
    }
    int64_t begin() const { return static_cast<int64_t>(reinterpret_cast<uintptr_t>(words.data())); }
    int64_t end() const { return begin() + kScans * 4; }
    // The run as the example sees it after the start: one-word scans, read from the beginning.
    RunState run() const {
        RunState state = {};
        state.nBufferEnd = end();
        state.nBufferSize = kScans * 4;
        state.nScanSize = 4;
        state.nReadPos = begin();
        CalcScaling(&state.scaleInfo, 24, -100.0, 200.0);
        return state;
    }
};

void BM_PlainStridedRead(benchmark::State& state) {
    Buffer buffer;
    size_t nPos = 0;
    for (auto _ : state) {
        int64_t nSum = 0;
        for (int32_t i = 0; i < kBatch; ++i) {
            nSum += static_cast<int32_t>(buffer.words[nPos]) / 256;
            if (++nPos == buffer.words.size()) nPos = 0;
        }
        benchmark::DoNotOptimize(nSum);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_PlainStridedRead);

void BM_BatchWalk(benchmark::State& state) {
    Buffer buffer;
    RunState run = buffer.run();
    for (auto _ : state) {
        int64_t nSum = 0;
        for (int32_t i = 0; i < kBatch; ++i) {
            int32_t nRaw = 0;
            ReadNextSample(&run, &nRaw);
            nSum += nRaw;
        }
        benchmark::DoNotOptimize(nSum);
    }
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_BatchWalk);

// The walk as the example runs it, every tenth sample formatted, printed and flushed; standard
// output goes to /dev/null, so this is the formatting and the write call.
void BM_BatchWalkWithOutput(benchmark::State& state) {
    Buffer buffer;
    RunState run = buffer.run();
    FILE* pNull = fopen("/dev/null", "w");
    for (auto _ : state) {
        for (int32_t i = 0; i < kBatch; ++i) {
            int32_t nRaw = 0;
            ReadNextSample(&run, &nRaw);
            if (i % 10 == 0) {
                fprintf(pNull, "\rRaw: %8.8x --> Scaled: %4.3f[degC]", static_cast<unsigned>(nRaw),
                        nRaw * run.scaleInfo.scale - run.scaleInfo.offset);
                fflush(pNull);
            }
        }
    }
    fclose(pNull);
    state.SetItemsProcessed(state.iterations() * kBatch);
}
BENCHMARK(BM_BatchWalkWithOutput);

}  // namespace

BENCHMARK_MAIN();
