// How fast the simulator makes scans: the real-time sensor model and the scripted numbering.
#include <benchmark/benchmark.h>

#include <vector>

#include "scan_generator.h"

namespace {

qsim::ScanGenerator rtdInputs(size_t nInputs) {
    qsim::InputEncoding rtd;
    rtd.bTemperature = true;
    rtd.dMidpoint = 50.0;
    rtd.dCountsPerUnit = 8388607.0 / 150.0;
    return qsim::ScanGenerator(qsim::SensorModel(), 1000.0, 24, std::vector<qsim::InputEncoding>(nInputs, rtd));
}

void BM_SensorScans(benchmark::State& state) {
    const size_t nInputs = static_cast<size_t>(state.range(0));
    qsim::ScanGenerator generator = rtdInputs(nInputs);
    const uint64_t nChunk = 4096;
    std::vector<uint32_t> words(nChunk * nInputs);
    uint64_t nFirst = 0;
    for (auto _ : state) {
        generator.fill(words.data(), nFirst, nChunk);
        nFirst += nChunk;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * nChunk));
    state.SetLabel("scans");
}
BENCHMARK(BM_SensorScans)->Arg(1)->Arg(8);

void BM_NumberedScans(benchmark::State& state) {
    qsim::ScanGenerator generator = rtdInputs(1);
    const uint64_t nChunk = 4096;
    std::vector<uint32_t> words(nChunk);
    uint64_t nFirst = 0;
    for (auto _ : state) {
        generator.fillNumbered(words.data(), nFirst, nChunk);
        nFirst += nChunk;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * nChunk));
}
BENCHMARK(BM_NumberedScans);

}  // namespace

BENCHMARK_MAIN();
