// The cache's benchmarks on the native store, with Google Benchmark.
#include "Ratios.h"
#include "Scenarios.h"

#include "common/Allocations.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

Scenarios* scenarios = nullptr;

// Times `operation` and reports the heap allocations it makes per call.
template <typename Operation>
void Measure(benchmark::State& state, Operation operation)
{
    const std::size_t before = Allocations::Count();
    for (auto _ : state)
        benchmark::DoNotOptimize(operation());
    if (state.thread_index() == 0)
        state.counters["allocs/op"] = benchmark::Counter(
            static_cast<double>(Allocations::Count() - before) / static_cast<double>(state.iterations() * state.threads()));
}

void cached_GetIntValue(benchmark::State& state) { Measure(state, [] { return scenarios->CachedGetInt(); }); }
void cached_GetStringValue(benchmark::State& state) { Measure(state, [] { return scenarios->CachedGetString(); }); }
void floor_cached_read(benchmark::State& state) { Measure(state, [] { return scenarios->FloorRead(); }); }
void registry_GetIntValue(benchmark::State& state) { Measure(state, [] { return scenarios->RegistryGetInt(); }); }
void raw_registry_read(benchmark::State& state) { Measure(state, [] { return scenarios->RawRead(); }); }
void point_select(benchmark::State& state) { Measure(state, [] { return scenarios->PointSelect(); }); }
void SetIntValue(benchmark::State& state) { Measure(state, [] { return scenarios->SetInt(); }); }
void FindOrCreateSlot_full_table(benchmark::State& state)
{
    Measure(state, [] { return scenarios->FindSlotInFullTable(); });
}

BENCHMARK(cached_GetIntValue);
BENCHMARK(cached_GetStringValue);
BENCHMARK(floor_cached_read);
BENCHMARK(registry_GetIntValue);
BENCHMARK(raw_registry_read);
BENCHMARK(point_select);
BENCHMARK(SetIntValue);
BENCHMARK(FindOrCreateSlot_full_table);
BENCHMARK(cached_GetIntValue)->Name("cached_GetIntValue_2_threads")->Threads(2)->UseRealTime();

// The console table as usual, with each median (wall and CPU time) kept
// for the ratios.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    MedianReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.aggregate_name == "median") {
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
                cpuMedians[run.run_name.function_name] = run.GetAdjustedCPUTime();
            }
    }
    std::map<std::string, double> medians, cpuMedians;
};

} // namespace

int main(int argc, char** argv)
{
    // A store of its own, so the figures do not depend on the user's.
    std::string directory = (std::filesystem::temp_directory_path() / "vesk-bench-XXXXXX").string();
    if (!mkdtemp(directory.data()))
        return 2;
    setenv("KESTLIB_REGISTRY", (directory + "/registry.db").c_str(), 1);

    benchmark::Initialize(&argc, argv);
    int status = 0;
    {
        Scenarios prepared;
        scenarios = &prepared;
        MedianReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        PrintRatios(reporter.medians, "native store", 30);
        PrintRatio(reporter.medians, "never-cached read / one point SELECT, wall", "registry_GetIntValue",
            "point_select", "at most 2");
        PrintRatio(reporter.cpuMedians, "never-cached read / one point SELECT, CPU", "registry_GetIntValue",
            "point_select", "at most 2");
        std::printf("  never-cached read: GetIntValue of a sub-key with no cache slot, through the library: it\n"
                    "  opens the key by its path, reads one value and closes the key. One point SELECT: the\n"
                    "  value's row by folded key path and value name, one statement prepared once, on the same\n"
                    "  store file and tables, in the same run.\n");
        scenarios = nullptr;
    }
    benchmark::Shutdown();
    std::filesystem::remove_all(directory);
    return status;
}
