// One poll's worth of SMC reads against the virtual SMC's default profile:
// the floor that a whole poll tick is compared with.
#include <benchmark/benchmark.h>

#include "BenchHome.h"
#include "RZSMC.h"

namespace {

struct PollKeys {
    QStringList keys;
    unsigned long fans = 0;
};

PollKeys& pollKeys()
{
    static PollKeys keys = [] {
        useBenchHome();
        RZSMC& smc = RZSMC::smc();
        PollKeys k;
        k.keys = smc.workingTempKeys() + smc.workingVoltageKeys() + smc.workingCurrentKeys() +
                 smc.workingPowerKeys();
        k.fans = smc.numberOfFans();
        return k;
    }();
    return keys;
}

void BM_ReadEveryWorkingKey(benchmark::State& state)
{
    const PollKeys& poll = pollKeys();
    RZSMC& smc = RZSMC::smc();
    for (auto _ : state) {
        double sum = 0;
        for (const QString& key : poll.keys)
            sum += smc.rawValueForKey(key);
        for (unsigned long fan = 0; fan < poll.fans; ++fan)
            sum += smc.speedOfFan(fan);
        benchmark::DoNotOptimize(sum);
    }
    state.counters["keys"] = static_cast<double>(poll.keys.size() + poll.fans);
}
BENCHMARK(BM_ReadEveryWorkingKey)->Unit(benchmark::kMicrosecond);

void BM_WorkingTempKeys(benchmark::State& state)
{
    pollKeys();
    RZSMC& smc = RZSMC::smc();
    for (auto _ : state)
        benchmark::DoNotOptimize(smc.workingTempKeys());
}
BENCHMARK(BM_WorkingTempKeys)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
