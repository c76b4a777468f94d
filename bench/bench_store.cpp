// Store work of the helper: one poll tick (every sensor's value, one history
// point each, one save) and a purge of a week of points for every sensor.
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

#include "NSManagedObjectContext.h"

namespace {

constexpr int kSensors = 45;  // the default virtual profile's working keys and fans

struct Store {
    QTemporaryDir dir;
    std::shared_ptr<NSPersistentStoreCoordinator> coordinator;
    std::unique_ptr<NSManagedObjectContext> context;
    QList<NSManagedObject*> sensors;

    explicit Store(int pointsPerSensor)
    {
        auto model = NSManagedObjectModel::modelWithContentsOfFile(QStringLiteral(KELVARA_APP_DIR "/Contents/Resources/Database.momd"));
        coordinator = std::make_shared<NSPersistentStoreCoordinator>(model);
        coordinator->addPersistentStoreWithType(NSSQLiteStoreType, {}, dir.filePath("Database.sqlite"), {}, nullptr);
        context = std::make_unique<NSManagedObjectContext>(NSMainQueueConcurrencyType);
        context->setPersistentStoreCoordinator(coordinator);
        NSManagedObject* category = context->insertNewObjectForEntityForName("Category");
        for (int i = 0; i < kSensors; ++i) {
            NSManagedObject* sensor = context->insertNewObjectForEntityForName("Sensor");
            sensor->setValueForKey(QStringLiteral("T%1").arg(i, 3, 10, QLatin1Char('0')), "key");
            sensors.append(sensor);
        }
        category->setObjectsForRelationship(sensors, "sensors");
        for (NSManagedObject* sensor : sensors) {
            for (int p = 0; p < pointsPerSensor; ++p) {
                NSManagedObject* point = context->insertNewObjectForEntityForName("GraphPoint");
                point->setValueForKey(1.8e9 + p * 10.0, "pointX");
                point->setValueForKey(40.0, "pointY");
                point->setValueForKey(p % 3, "timeRange");
                sensor->addObjectToRelationship(point, "graphPoints");
            }
        }
        context->save();
    }
};

void BM_PollTickStoreWork(benchmark::State& state)
{
    Store store(static_cast<int>(state.range(0)));
    double t = 1.9e9;
    for (auto _ : state) {
        t += 2;
        for (NSManagedObject* sensor : store.sensors) {
            sensor->setValueForKey(40.0 + std::fmod(t, 7.0), "value");
            NSManagedObject* point = store.context->insertNewObjectForEntityForName("GraphPoint");
            point->setValueForKey(t, "pointX");
            point->setValueForKey(40.0, "pointY");
            point->setValueForKey(0, "timeRange");
            sensor->addObjectToRelationship(point, "graphPoints");
        }
        if (!store.context->save())
            state.SkipWithError("save failed");
    }
}
BENCHMARK(BM_PollTickStoreWork)->Arg(0)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_PurgeAWeekOfPoints(benchmark::State& state)
{
    const int points = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto store = std::make_unique<Store>(points);
        store->context->refreshAllObjects();
        state.ResumeTiming();
        for (NSManagedObject* sensor : store->sensors) {
            const QList<NSManagedObject*> stale = sensor->objectsForRelationship("graphPoints");
            sensor->setObjectsForRelationship({}, "graphPoints");
            for (NSManagedObject* point : stale)
                store->context->deleteObject(point);
        }
        if (!store->context->save())
            state.SkipWithError("save failed");
        state.PauseTiming();
        store.reset();
        state.ResumeTiming();
    }
    state.counters["points"] = static_cast<double>(points) * kSensors;
}
BENCHMARK(BM_PurgeAWeekOfPoints)->Arg(336)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace
