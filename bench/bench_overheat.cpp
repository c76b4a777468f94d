// Kelvara Helper's tick with a long list of overheat rules: the poll, the save,
// the notice and, on one tick in five (2 s interval), the check of every rule.
// The notices go to a centre that only counts them. Also the reading of long
// lists in the settings. Run inside dbus-run-session.
#include <benchmark/benchmark.h>

#include "BenchHistory.h"
#include "BenchHome.h"
#include "BenchProcess.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLKelvara.h"
#include "KLNotificationsManager.h"
#include "KLSensor.h"

namespace {

struct CountingCenter : NSUserNotificationCenter {
    CountingCenter()
        : NSUserNotificationCenter(QString())
    {
    }
    void deliverNotification(const NSUserNotification&) override { ++delivered; }
    long delivered = 0;
};

struct RulesHelper {
    KLKelvara* loop = nullptr;
    CountingCenter center;
    KLNotificationsManager* manager = nullptr;
    QStringList keys;
};

RulesHelper& helper()
{
    static RulesHelper* made = [] {
        useBenchHome();
        KLDataManager& settings = KLDataManager::sharedInstance();
        settings.setUpdateFrequency(KLUpdateFrequencyHigh);
        settings.setupDatabase();
        drainMainQueue();
        KLCoreDataHelper::sharedInstance().masterContext()->reset();
        auto* h = new RulesHelper;
        h->loop = new KLKelvara();
        h->manager = new KLNotificationsManager(h->center, [] { return true; });
        for (KLSensor* sensor : KLSensor::tempSensors().value_or(QList<KLSensor*>()))
            h->keys << sensor->key();
        return h;
    }();
    return *made;
}

// count rules over the temperature sensors in turn, one of them on any sensor.
QList<KLNotification> rules(int count, double threshold, bool repeat)
{
    const QStringList& keys = helper().keys;
    QList<KLNotification> made;
    for (int i = 0; i < count; ++i) {
        KLNotification rule;
        rule.sensorKey = i == 0 ? QStringLiteral("any-sensor") : keys.at(i % keys.size());
        rule.sensorName = rule.sensorKey;
        rule.threshold = threshold;
        rule.active = true;
        rule.repeat = repeat;
        made << rule;
    }
    return made;
}

// Whole ticks with the rules stored and none hot: the average over five ticks,
// one of which checks every rule.
void BM_TickWithOverheatRules(benchmark::State& state)
{
    RulesHelper& h = helper();
    KLDataManager::sharedInstance().setOverheatNotifications(rules(int(state.range(0)), 500, true));
    drainMainQueue();
    for (auto _ : state) {
        h.loop->fireTrackingTemp();
        drainMainQueue();
    }
    state.counters["rules"] = double(state.range(0));
    state.counters["rss_MiB"] = static_cast<double>(statusKiB()) / 1024.0;
}
BENCHMARK(BM_TickWithOverheatRules)->Arg(0)->Arg(1000)->Iterations(500)->Unit(benchmark::kMicrosecond);

// The tick that checks: one check of every rule, none hot.
void BM_OverheatCheck(benchmark::State& state)
{
    RulesHelper& h = helper();
    KLDataManager::sharedInstance().setOverheatNotifications(rules(int(state.range(0)), 500, true));
    drainMainQueue();
    for (auto _ : state)
        h.manager->checkForFireOverheatNotification();
    state.counters["rules"] = double(state.range(0));
}
BENCHMARK(BM_OverheatCheck)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMicrosecond);

// The worst check: every rule hot and not repeating, so each is told once and
// all are switched off together in one write of the list.
void BM_OverheatCheckAllFireOnce(benchmark::State& state)
{
    RulesHelper& h = helper();
    const QList<KLNotification> hot = rules(int(state.range(0)), 0, false);
    for (auto _ : state) {
        state.PauseTiming();
        KLDataManager::sharedInstance().setOverheatNotifications(hot);
        drainMainQueue();
        state.ResumeTiming();
        h.manager->checkForFireOverheatNotification();
        drainMainQueue();
    }
    state.counters["rules"] = double(state.range(0));
    state.counters["told"] = double(h.center.delivered);
}
BENCHMARK(BM_OverheatCheckAllFireOnce)->Arg(1000)->Unit(benchmark::kMicrosecond);

// Reading stored lists far longer than the catalogue (repeats and unknown keys):
// menu-bar sensors, logged sensors and the dropdown layout, with range(0) entries each.
void BM_ReadLongSettingsLists(benchmark::State& state)
{
    RulesHelper& h = helper();
    KLDataManager& settings = KLDataManager::sharedInstance();
    const int count = int(state.range(0));
    QStringList keys;
    QVariantList layout{QVariantMap{{QStringLiteral("main_sensor"), true}}, QVariantMap{{QStringLiteral("fan_control"), true}}};
    for (int i = 0; i < count; ++i) {
        keys << (i % 2 ? h.keys.at(i % h.keys.size()) : QStringLiteral("X%1").arg(i));
        layout << QVariantMap{{i % 2 ? QStringLiteral("Temperature") : QStringLiteral("Gone %1").arg(i), true}};
    }
    settings.setMenuSensors(keys);
    settings.setFileLoggingSensorKeys(keys);
    settings.setDropdownItems(layout);
    drainMainQueue();
    qsizetype read = 0;
    for (auto _ : state) {
        read = settings.menuSensors().value_or(QStringList()).size() + settings.fileLoggingSensorKeys().size() +
               settings.dropdownItems().size();
        benchmark::DoNotOptimize(read);
    }
    state.counters["entries"] = double(count);
    state.counters["read"] = double(read);
}
BENCHMARK(BM_ReadLongSettingsLists)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace
