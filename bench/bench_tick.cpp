// Kelvara Helper's poll tick as it runs: every sensor read and stored, history
// points on the ticks due for them, the extremes, the save and the notice,
// over a store that already holds a full week of history. Run it inside
// dbus-run-session so the notice goes out on a bus.
#include <QFile>
#include <benchmark/benchmark.h>

#include "BenchHistory.h"
#include "BenchHome.h"
#include "BenchProcess.h"
#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLKelvara.h"
#include "KLSensor.h"

namespace {

KLKelvara& loop()
{
    static KLKelvara* kelvara = [] {
        useBenchHome();
        KLDataManager::sharedInstance().setUpdateFrequency(KLUpdateFrequencyHigh);
        KLDataManager::sharedInstance().setupDatabase();
        drainMainQueue();
        seedAWeekOfHistory();
        // The helper starts with a fresh store context, as after a restart.
        KLCoreDataHelper::sharedInstance().masterContext()->reset();
        return new KLKelvara();
    }();
    return *kelvara;
}

// An hour of ticks at 2 s (1,800): each iteration is one tick and the work it
// queues; on average one tick in five adds points, one in 150 purges.
void BM_HourOfPollTicks(benchmark::State& state)
{
    KLKelvara& kelvara = loop();
    int sensors = 0;
    for (KLCategory* category : kelvara.categories())
        sensors += category->sensors().size();
    for (auto _ : state) {
        kelvara.fireTrackingTemp();
        drainMainQueue();
    }
    state.counters["sensors"] = sensors;
    state.counters["rss_MiB"] = static_cast<double>(statusKiB()) / 1024.0;
}
BENCHMARK(BM_HourOfPollTicks)->Iterations(1800)->Unit(benchmark::kMicrosecond);

// The part of a tick that is the store's: every sensor's new value written in
// one transaction, without reads, points or notice.
void BM_TickSaveOnly(benchmark::State& state)
{
    KLKelvara& kelvara = loop();
    double bump = 0;
    for (auto _ : state) {
        bump += 0.01;
        for (KLCategory* category : kelvara.categories())
            for (KLSensor* sensor : category->sensors())
                sensor->setValue(40 + bump);
        KLCoreDataHelper::sharedInstance().saveMasterContext();
        drainMainQueue();
    }
}
BENCHMARK(BM_TickSaveOnly)->Unit(benchmark::kMicrosecond);

}  // namespace
