// A windowed program's store over a week of Kelvara Helper's history,
// compressed in time: a writer connection appends and purges points as the
// helper does (10 s ticks; hour, day and week series; a purge every 5 minutes),
// and a reader connection refreshes on every tick's notice and reads the shown
// sensors' lists as a graph does. Both use the real store file; the writer lets
// go of its points once saved, as the helper does, so what grows is the reader.
//   kelvara_reader_memory [days] [sensors written] [sensors shown]
#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "BenchProcess.h"
#include "NSManagedObjectContext.h"

namespace {

struct Connection {
    std::shared_ptr<NSPersistentStoreCoordinator> coordinator;
    NSManagedObjectContext context{NSMainQueueConcurrencyType};

    Connection(const std::shared_ptr<NSManagedObjectModel>& model, const QString& path)
        : coordinator(std::make_shared<NSPersistentStoreCoordinator>(model))
    {
        const QVariantMap options{{NSMigratePersistentStoresAutomaticallyOption, true},
                                  {NSInferMappingModelAutomaticallyOption, true}};
        QString error;
        if (!coordinator->addPersistentStoreWithType(NSSQLiteStoreType, {}, path, options, &error))
            std::fprintf(stderr, "cannot open the store: %s\n", qPrintable(error));
        context.setPersistentStoreCoordinator(coordinator);
        context.setStalenessInterval(0);
        context.setMergePolicy(NSMergePolicyType::NSMergeByPropertyObjectTrumpMergePolicy);
    }
    QList<NSManagedObject*> fetch(const QString& entity, const NSPredicate& predicate = {})
    {
        NSFetchRequest request(entity);
        request.predicate = predicate;
        return context.executeFetchRequest(request);
    }
};

constexpr double kTick = 10;                              // the hour series' step
constexpr int kDayEvery = 24, kWeekEvery = 180, kPurgeEvery = 30;  // in ticks: 240 s, 1800 s, 300 s
constexpr double kWindow[3] = {3600, 86400, 604800};

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const int days = argc > 1 ? std::atoi(argv[1]) : 7;
    const int written = argc > 2 ? std::atoi(argv[2]) : 4;
    const int shown = argc > 3 ? std::min(std::atoi(argv[3]), written) : 1;
    auto model = NSManagedObjectModel::modelWithContentsOfFile(
        QStringLiteral(KELVARA_APP_DIR "/Contents/Resources/Database.momd"));
    if (!model)
        return 1;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Database.sqlite"));

    // The catalogue and a full week of history, as the helper leaves it.
    Connection writer(model, path);
    QList<NSManagedObject*> sensors;
    double now = 1.8e9;
    for (int s = 0; s < written; ++s) {
        NSManagedObject* sensor = writer.context.insertNewObjectForEntityForName(QStringLiteral("Sensor"));
        sensor->setValueForKey(QStringLiteral("T%1").arg(s), QStringLiteral("key"));
        sensors << sensor;
        const struct {
            int range, count;
            double step;
        } series[] = {{0, 360, kTick}, {1, 360, kTick * kDayEvery}, {2, 336, kTick * kWeekEvery}};
        for (const auto& serie : series) {
            for (int i = serie.count; i > 0; --i) {
                NSManagedObject* point = writer.context.insertNewObjectForEntityForName(QStringLiteral("GraphPoint"));
                point->setValueForKey(now - i * serie.step + 1, QStringLiteral("pointX"));
                point->setValueForKey(40 + i % 17, QStringLiteral("pointY"));
                point->setValueForKey(serie.range, QStringLiteral("timeRange"));
                sensor->addObjectToRelationship(point, QStringLiteral("graphPoints"));
            }
        }
    }
    writer.context.save();
    writer.context.refreshAllObjects();
    QList<NSManagedObject*> all;
    for (NSManagedObject* point : writer.fetch(QStringLiteral("GraphPoint")))
        all << point;
    writer.context.releaseObjects(all);

    Connection reader(model, path);
    QList<NSManagedObject*> shownSensors;
    for (NSManagedObject* sensor : reader.fetch(QStringLiteral("Sensor")).mid(0, shown))
        shownSensors << sensor;
    const long atStart = statusKiB("VmRSS:");
    std::printf("%d days of 10 s ticks; %d sensors written, %d shown by the reader\n", days, written, shown);
    std::printf("day  reader objects  points shown  resident MiB\n");

    double sink = 0;
    const int ticks = days * 8640;
    for (int tick = 1; tick <= ticks; ++tick) {
        now += kTick;
        QList<NSManagedObject*> added;
        for (int s = 0; s < written; ++s) {
            NSManagedObject* sensor = sensors.at(s);
            const double value = 40 + (tick + s) % 23;
            sensor->setValueForKey(value, QStringLiteral("value"));
            for (int range = 0; range < 3; ++range) {
                if ((range == 1 && tick % kDayEvery) || (range == 2 && tick % kWeekEvery))
                    continue;
                NSManagedObject* point = writer.context.insertNewObjectForEntityForName(QStringLiteral("GraphPoint"));
                point->setValueForKey(now, QStringLiteral("pointX"));
                point->setValueForKey(value, QStringLiteral("pointY"));
                point->setValueForKey(range, QStringLiteral("timeRange"));
                sensor->addObjectToRelationship(point, QStringLiteral("graphPoints"));
                added << point;
            }
        }
        if (tick % kPurgeEvery == 0) {
            const auto stale = writer.fetch(
                QStringLiteral("GraphPoint"),
                NSPredicate::withFormat(QStringLiteral("(timeRange == 0 AND pointX < %@) OR "
                                                       "(timeRange == 1 AND pointX < %@) OR "
                                                       "(timeRange == 2 AND pointX < %@)"),
                                        now - kWindow[0], now - kWindow[1], now - kWindow[2]));
            for (NSManagedObject* point : stale)
                writer.context.deleteObject(point);
        }
        writer.context.save();
        writer.context.releaseObjects(added);

        // The notice: the reader refreshes and redraws its graphs.
        reader.context.refreshAllObjects();
        int points = 0;
        for (NSManagedObject* sensor : std::as_const(shownSensors)) {
            for (NSManagedObject* point : sensor->objectsForRelationship(QStringLiteral("graphPoints"))) {
                sink += point->valueForKey(QStringLiteral("pointY")).toDouble();
                ++points;
            }
        }
        if (tick % 8640 == 0 || tick == 360)
            std::printf("%4.2f %15d %13d %13.1f\n", tick / 8640.0, reader.context.registeredObjectCount(), points,
                        statusKiB("VmRSS:") / 1024.0);
    }
    std::printf("resident at start: %.1f MiB, peak: %.1f MiB\n", atStart / 1024.0, statusKiB("VmHWM:") / 1024.0);
    return sink < 0 ? 1 : 0;
}
