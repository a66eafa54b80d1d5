// Loading the largest system description the simulator accepts, and the memory it then holds.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <string>

#include "limit_description.h"
#include "system_description.h"

namespace {

void BM_LoadDescriptionAtTheLimits(benchmark::State& state) {
    const std::string sXml = limitDescription();
    for (auto _ : state) {
        std::string sError;
        auto system = qsim::SystemDescription::parse(sXml.data(), sXml.size(), "limits", &sError);
        if (system == nullptr) state.SkipWithError(sError.c_str());
        benchmark::DoNotOptimize(system);
    }
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    state.counters["file_bytes"] = static_cast<double>(sXml.size());
    state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_LoadDescriptionAtTheLimits)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
