// How fast the simulator makes scans: the real-time sensor model and the scripted numbering.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "scan_generator.h"
#include "scenario.h"

namespace {

qsim::ScenarioClock clockAt(double dRate) {
    qsim::ScenarioClock clock;
    clock.dRate = clock.dHostRate = dRate;
    return clock;
}

qsim::ScanGenerator rtdInputs(size_t nInputs) {
    qsim::InputEncoding rtd;
    rtd.bTemperature = true;
    rtd.dMidpoint = 50.0;
    rtd.dCountsPerUnit = 8388607.0 / 150.0;
    return qsim::ScanGenerator(qsim::SensorModel(), clockAt(1000.0), 24, std::vector<qsim::InputEncoding>(nInputs, rtd));
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

// A scenario's signals on 16 inputs (the QUENO-3200-HV at 100,000 scans/s is 1.6 M values/s):
// each kind with noise, and the open event's full-scale check on every value.
void BM_SignalValues(benchmark::State& state) {
    const auto kind = static_cast<qsim::SignalKind>(state.range(0));
    qsim::ScenarioSignal signal;
    signal.kind = kind;
    signal.dValue = 1;
    signal.dFrom = -5;
    signal.dTo = 5;
    signal.dDuration = 10;
    signal.dAmplitude = 4;
    signal.dPeriod = 0.3;
    signal.steps = {1, 2, 3};
    signal.dEvery = 0.25;
    signal.bRepeat = true;
    signal.dNoise = 0.01;
    if (kind == qsim::SignalKind::Replay) {
        auto data = std::make_shared<qsim::ReplayData>();
        data->dRate = 100000;
        for (uint64_t k = 0; k < 864000; ++k) {
            data->scans.push_back(k);
            data->values.push_back(static_cast<double>(k % 1000) * 0.01);
        }
        signal.replay = data;
        signal.bLoop = true;
    }
    qsim::InputEncoding input;
    input.dCountsPerUnit = 8388607.0 / 100.0;
    input.pSignal = &signal;
    input.fullScale.push_back(qsim::FullScaleSpan{1u << 30, (1u << 30) + 10, 1});
    std::vector<qsim::InputEncoding> inputs(16, input);
    for (int i = 0; i < 16; ++i) inputs[static_cast<size_t>(i)].nChannel = i;
    qsim::ScanGenerator generator(qsim::SensorModel(), clockAt(100000.0), 24, inputs);
    const uint64_t nChunk = 2000;  // one producer tick at 100,000 scans/s
    std::vector<uint32_t> words(nChunk * 16);
    uint64_t nFirst = 0;
    for (auto _ : state) {
        generator.fill(words.data(), nFirst, nChunk);
        nFirst += nChunk;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * nChunk * 16));
    state.SetLabel("values");
}
BENCHMARK(BM_SignalValues)->ArgName("kind")->DenseRange(0, 4);

}  // namespace

BENCHMARK_MAIN();
