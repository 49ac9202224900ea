// The cache's benchmarks under Wine: Google Benchmark is not built for
// Windows here, so this times the same scenarios itself, as the median of
// repeated batches, and prints one table in the same shape.
#include "Ratios.h"
#include "Scenarios.h"

#include "common/Allocations.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int Batches = 21;

// One timed operation: `threads` threads each make `callsPerBatch` calls per
// batch; a batch lasts until the slowest is done.
struct Scenario {
    const char* name;
    std::function<void()> call;
    int callsPerBatch;
    int threads;
    std::vector<double> nsPerCall;
    std::size_t allocations = 0;
};

void RunBatch(Scenario& scenario)
{
    const std::size_t before = Allocations::Count();
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int t = 1; t < scenario.threads; ++t)
        workers.emplace_back([&] {
            for (int i = 0; i < scenario.callsPerBatch; ++i)
                scenario.call();
        });
    for (int i = 0; i < scenario.callsPerBatch; ++i)
        scenario.call();
    for (std::thread& worker : workers)
        worker.join();
    const std::chrono::duration<double, std::nano> spent = std::chrono::steady_clock::now() - start;
    scenario.nsPerCall.push_back(spent.count() / scenario.callsPerBatch);
    scenario.allocations += Allocations::Count() - before;
}

double Median(std::vector<double> values)
{
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

} // namespace

int main()
{
    Scenarios scenarios;
    std::vector<Scenario> table = {
        {"cached_GetIntValue", [&] { scenarios.CachedGetInt(); }, 20000, 1, {}},
        {"cached_GetStringValue", [&] { scenarios.CachedGetString(); }, 20000, 1, {}},
        {"floor_cached_read", [&] { scenarios.FloorRead(); }, 20000, 1, {}},
        {"registry_GetIntValue", [&] { scenarios.RegistryGetInt(); }, 200, 1, {}},
        {"raw_registry_read", [&] { scenarios.RawRead(); }, 200, 1, {}},
        {"SetIntValue", [&] { scenarios.SetInt(); }, 200, 1, {}},
        {"FindOrCreateSlot_full_table", [&] { scenarios.FindSlotInFullTable(); }, 20000, 1, {}},
        {"cached_GetIntValue_2_threads", [&] { scenarios.CachedGetInt(); }, 20000, 2, {}},
    };
    // Round robin, so that the machine's drift during the run touches every
    // scenario alike and the ratios stay fair.
    for (int batch = 0; batch < Batches; ++batch)
        for (Scenario& scenario : table)
            RunBatch(scenario);

    std::printf("Wine registry, median of %d batches\n", Batches);
    std::printf("%-34s %14s %12s\n", "Benchmark", "ns per call", "allocs/call");
    std::map<std::string, double> medians;
    for (const Scenario& scenario : table) {
        medians[scenario.name] = Median(scenario.nsPerCall);
        // Starting a thread allocates too, so the contended row has no count.
        if (scenario.threads > 1) {
            std::printf("%-34s %14.1f %12s\n", scenario.name, medians[scenario.name], "-");
            continue;
        }
        const double calls = static_cast<double>(Batches) * scenario.callsPerBatch;
        std::printf("%-34s %14.1f %12.2f\n", scenario.name, medians[scenario.name],
            static_cast<double>(scenario.allocations) / calls);
    }
    PrintRatios(medians, "Wine registry", 50);
    return 0;
}
