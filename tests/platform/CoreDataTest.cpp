#include <QFile>
#include <QTemporaryDir>
#include <SQLiteCpp/SQLiteCpp.h>
#include <gtest/gtest.h>
#include <cmath>
#include <limits>

#include "StoreFixture.h"

namespace {

class CoreDataTest : public ::testing::Test {
protected:
    QString path() const { return dir.filePath("Database.sqlite"); }
    NSManagedObject* sensor(StoreConnection& store, const QString& key, double value = 0)
    {
        NSManagedObject* s = store.insert("Sensor");
        s->setValueForKey(key, "key");
        s->setValueForKey(value, "value");
        return s;
    }
    QTemporaryDir dir;
};

TEST_F(CoreDataTest, SavedRowsReachAnotherConnectionAndEachRowIsOneObject)
{
    StoreConnection a(path());
    ASSERT_TRUE(a.opened) << a.error.toStdString();
    sensor(a, "TC0P", 42.5);
    EXPECT_TRUE(a.context->hasChanges());
    ASSERT_TRUE(a.context->save());
    EXPECT_FALSE(a.context->hasChanges());

    StoreConnection b(path());
    const auto found = b.fetch("Sensor", NSPredicate::withFormat("key = %@", QString("TC0P")));
    ASSERT_EQ(found.size(), 1);
    EXPECT_DOUBLE_EQ(found.first()->valueForKey("value").toDouble(), 42.5);
    EXPECT_EQ(b.fetch("Sensor").first(), found.first());
    EXPECT_EQ(b.context->registeredObjectCount(), 1);
}

TEST_F(CoreDataTest, WritersOfDifferentAttributesNeverUndoEachOther)
{
    StoreConnection helper(path());
    sensor(helper, "TC0P", 40)->setValueForKey("CPU", "name");
    ASSERT_TRUE(helper.context->save());

    StoreConnection app(path());
    NSManagedObject* mine = app.fetch("Sensor").first();
    NSManagedObject* theirs = helper.fetch("Sensor").first();
    ASSERT_DOUBLE_EQ(mine->valueForKey("value").toDouble(), 40);

    theirs->setValueForKey(55.0, "value");
    ASSERT_TRUE(helper.context->save());
    mine->setValueForKey("CPU Proximity", "name");
    mine->setValueForKey(110.0, "maxValue");
    ASSERT_TRUE(app.context->save());

    StoreConnection reader(path());
    NSManagedObject* stored = reader.fetch("Sensor").first();
    EXPECT_DOUBLE_EQ(stored->valueForKey("value").toDouble(), 55);
    EXPECT_EQ(stored->valueForKey("name").toString(), "CPU Proximity");
    EXPECT_DOUBLE_EQ(stored->valueForKey("maxValue").toDouble(), 110);
}

TEST_F(CoreDataTest, RefreshShowsAnotherWritersValueAndKeepsUnsavedChanges)
{
    StoreConnection helper(path());
    sensor(helper, "TC0P", 40);
    ASSERT_TRUE(helper.context->save());

    StoreConnection app(path());
    NSManagedObject* seen = app.fetch("Sensor").first();
    EXPECT_DOUBLE_EQ(seen->valueForKey("value").toDouble(), 40);
    seen->setValueForKey("renamed", "name");

    helper.fetch("Sensor").first()->setValueForKey(61.0, "value");
    ASSERT_TRUE(helper.context->save());
    EXPECT_DOUBLE_EQ(seen->valueForKey("value").toDouble(), 40);  // cached until refreshed

    app.context->refreshAllObjects();
    EXPECT_TRUE(seen->isFault());
    EXPECT_DOUBLE_EQ(seen->valueForKey("value").toDouble(), 61);
    EXPECT_EQ(seen->valueForKey("name").toString(), "renamed");
    EXPECT_TRUE(app.context->hasChanges());
}

TEST_F(CoreDataTest, FetchesSeeUnsavedInsertsAndChanges)
{
    StoreConnection store(path());
    sensor(store, "TC0P", 30);
    sensor(store, "TG0P", 50);
    ASSERT_TRUE(store.context->save());

    sensor(store, "TM0P", 20);  // unsaved
    store.fetch("Sensor", NSPredicate::withFormat("key = %@", QString("TG0P"))).first()->setValueForKey(10.0, "value");
    const auto warm = store.fetch("Sensor", NSPredicate::withFormat("value > %f", 25.0));
    ASSERT_EQ(warm.size(), 1);
    EXPECT_EQ(warm.first()->valueForKey("key").toString(), "TC0P");
    EXPECT_EQ(store.fetch("Sensor", NSPredicate::withFormat("value < %d AND key != 'TC0P'", 25)).size(), 2);

    NSFetchRequest sorted("Sensor");
    sorted.sortDescriptors = {{"value", false}};
    QStringList keys;
    for (NSManagedObject* s : store.context->executeFetchRequest(sorted))
        keys << s->valueForKey("key").toString();
    EXPECT_EQ(keys, QStringList({"TC0P", "TM0P", "TG0P"}));

    store.context->deleteObject(warm.first());
    EXPECT_EQ(store.fetch("Sensor").size(), 2);
    QString error;
    NSFetchRequest bad("Sensor");
    bad.predicate = NSPredicate::withFormat("nosuchkey = 1");
    EXPECT_TRUE(store.context->executeFetchRequest(bad, &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(CoreDataTest, OrderedRelationshipsKeepTheirOrderInTheFile)
{
    {
        StoreConnection store(path());
        NSManagedObject* category = store.insert("Category");
        category->setValueForKey("Temperature", "name");
        QList<NSManagedObject*> sensors{sensor(store, "C"), sensor(store, "A"), sensor(store, "B")};
        category->setObjectsForRelationship(sensors, "sensors");
        NSManagedObject* s = sensors.first();
        for (int i = 0; i < 5; ++i) {
            NSManagedObject* point = store.insert("GraphPoint");
            point->setValueForKey(double(i), "pointX");
            s->addObjectToRelationship(point, "graphPoints");
            if (i == 2) {
                ASSERT_TRUE(store.context->save());  // appends across saves
            }
        }
        ASSERT_TRUE(store.context->save());
    }
    StoreConnection store(path());
    NSManagedObject* category = store.fetch("Category").first();
    QStringList keys;
    for (NSManagedObject* s : category->objectsForRelationship("sensors"))
        keys << s->valueForKey("key").toString();
    EXPECT_EQ(keys, QStringList({"C", "A", "B"}));

    NSManagedObject* s = store.fetch("Sensor", NSPredicate::withFormat("key = 'C'")).first();
    QList<NSManagedObject*> points = s->objectsForRelationship("graphPoints");
    ASSERT_EQ(points.size(), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_DOUBLE_EQ(points[i]->valueForKey("pointX").toDouble(), i);
    EXPECT_EQ(points[0]->objectForRelationship("sensor"), s);

    // Dropping the oldest points keeps the rest where they are, and deleting them
    // leaves the owner consistent.
    s->setObjectsForRelationship(points.mid(2), "graphPoints");
    store.context->deleteObject(points[0]);
    store.context->deleteObject(points[1]);
    ASSERT_TRUE(store.context->save());
    // Reversing writes new places.
    QList<NSManagedObject*> reversed = s->objectsForRelationship("graphPoints");
    std::reverse(reversed.begin(), reversed.end());
    s->setObjectsForRelationship(reversed, "graphPoints");
    ASSERT_TRUE(store.context->save());

    StoreConnection again(path());
    QList<double> xs;
    for (NSManagedObject* p : again.fetch("Sensor", NSPredicate::withFormat("key = 'C'")).first()->objectsForRelationship("graphPoints"))
        xs << p->valueForKey("pointX").toDouble();
    EXPECT_EQ(xs, QList<double>({4, 3, 2}));
    EXPECT_EQ(again.fetch("GraphPoint").size(), 3);
}

TEST_F(CoreDataTest, ChildContextReachesTheFileOnlyThroughItsParent)
{
    StoreConnection master(path());
    NSManagedObjectContext child(NSPrivateQueueConcurrencyType);
    child.setParentContext(master.context.get());
    NSManagedObjectContext other(NSPrivateQueueConcurrencyType);
    other.setParentContext(master.context.get());

    NSManagedObject* set = child.insertNewObjectForEntityForName("FanSet");
    set->setValueForKey("Quiet", "name");
    NSManagedObject* condition = child.insertNewObjectForEntityForName("FanCondition");
    condition->setValueForKey("TC0P", "sensorKey");
    condition->setObjectForRelationship(set, "fanSet");
    EXPECT_TRUE(master.fetch("FanSet").isEmpty());
    EXPECT_TRUE(other.executeFetchRequest(NSFetchRequest("FanSet")).isEmpty());

    ASSERT_TRUE(child.save());
    ASSERT_EQ(master.fetch("FanSet").size(), 1);
    EXPECT_EQ(master.fetch("FanSet").first()->objectsForRelationship("fanConditions").size(), 1);
    EXPECT_EQ(StoreConnection(path()).fetch("FanSet").size(), 0);  // not in the file yet
    ASSERT_TRUE(master.context->save());
    StoreConnection reader(path());
    ASSERT_EQ(reader.fetch("FanCondition").size(), 1);
    EXPECT_EQ(reader.fetch("FanCondition").first()->objectForRelationship("fanSet")->valueForKey("name").toString(),
              "Quiet");

    // Edits thrown away with a reset never reach the parent.
    NSManagedObject* mine = child.executeFetchRequest(NSFetchRequest("FanSet")).first();
    mine->setValueForKey("Loud", "name");
    child.reset();
    EXPECT_FALSE(child.hasChanges());
    EXPECT_EQ(master.fetch("FanSet").first()->valueForKey("name").toString(), "Quiet");

    // A deletion in the child deletes in the parent on save, conditions with it.
    child.deleteObject(child.executeFetchRequest(NSFetchRequest("FanSet")).first());
    ASSERT_TRUE(child.save());
    EXPECT_TRUE(master.fetch("FanSet").isEmpty());
    EXPECT_TRUE(master.fetch("FanCondition").isEmpty());
}

TEST_F(CoreDataTest, OlderStoresGainWhatTheModelAdded)
{
    QVariantMap old{{"version", "0"},
                    {"entities", QVariantList{QVariantMap{
                                     {"name", "Sensor"},
                                     {"class", "KLSensor"},
                                     {"attributes", QVariantList{QVariantMap{{"name", "key"}, {"type", "string"}},
                                                                 QVariantMap{{"name", "value"}, {"type", "double"}}}}}}}};
    {
        StoreConnection v0(path(), NSManagedObjectModel::modelWithDescription(old));
        ASSERT_TRUE(v0.opened) << v0.error.toStdString();
        sensor(v0, "TC0P", 33);
        ASSERT_TRUE(v0.context->save());
    }
    StoreConnection v1(path());
    ASSERT_TRUE(v1.opened) << v1.error.toStdString();
    NSManagedObject* s = v1.fetch("Sensor").first();
    EXPECT_DOUBLE_EQ(s->valueForKey("value").toDouble(), 33);
    EXPECT_TRUE(s->valueForKey("fullName").isNull());
    EXPECT_EQ(s->valueForKey("group").toInt(), 0);  // the model's default
    NSManagedObject* category = v1.insert("Category");
    s->setObjectForRelationship(category, "category");
    EXPECT_TRUE(v1.context->save());
}

TEST_F(CoreDataTest, AFileThatIsNotAStoreIsLeftAloneAndNothingIsLost)
{
    const QByteArray garbage("this is someone's notes, not a database\n");
    {
        QFile file(path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    StoreConnection store(path());
    EXPECT_FALSE(store.opened);
    EXPECT_FALSE(store.error.isEmpty());
    EXPECT_TRUE(store.fetch("Sensor").isEmpty());
    NSManagedObject* s = sensor(store, "TC0P");
    EXPECT_FALSE(store.context->save());
    EXPECT_TRUE(s->isInserted());
    QFile file(path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), garbage);
    EXPECT_FALSE(QFile::exists(path() + "-wal"));
}

TEST_F(CoreDataTest, AFailedSaveKeepsItsChangesForTheNextOne)
{
    StoreConnection store(path());
    sensor(store, "TC0P", 1);
    ASSERT_TRUE(store.context->save());
    {
        SQLite::Database db(path().toStdString(), SQLite::OPEN_READWRITE);
        db.exec("CREATE TRIGGER full BEFORE INSERT ON GraphPoint BEGIN SELECT RAISE(ABORT, 'disk full'); END");
    }
    NSManagedObject* s = store.fetch("Sensor").first();
    s->setValueForKey(2.0, "value");
    NSManagedObject* point = store.insert("GraphPoint");
    s->addObjectToRelationship(point, "graphPoints");
    QString error;
    EXPECT_FALSE(store.context->save(&error));
    EXPECT_TRUE(error.contains("disk full"));
    EXPECT_TRUE(store.context->hasChanges());
    EXPECT_DOUBLE_EQ(StoreConnection(path()).fetch("Sensor").first()->valueForKey("value").toDouble(), 1);
    {
        SQLite::Database db(path().toStdString(), SQLite::OPEN_READWRITE);
        db.exec("DROP TRIGGER full");
    }
    ASSERT_TRUE(store.context->save(&error)) << error.toStdString();
    StoreConnection reader(path());
    EXPECT_DOUBLE_EQ(reader.fetch("Sensor").first()->valueForKey("value").toDouble(), 2);
    EXPECT_EQ(reader.fetch("Sensor").first()->objectsForRelationship("graphPoints").size(), 1);
}

TEST_F(CoreDataTest, ObjectsNeverKeepPointersToDeletedObjects)
{
    StoreConnection app(path());
    NSManagedObject* first = app.insert("Category");
    NSManagedObject* second = app.insert("Category");
    NSManagedObject* s = sensor(app, "TC0P");
    first->setObjectsForRelationship({s}, "sensors");
    second->setObjectsForRelationship({s}, "sensors");  // moved, not shared
    EXPECT_TRUE(first->objectsForRelationship("sensors").isEmpty());
    EXPECT_EQ(s->objectForRelationship("category"), second);
    ASSERT_TRUE(app.context->save());

    // Another program moves the sensor back; after a refresh this one deletes
    // the category it last saw the sensor in.
    StoreConnection other(path());
    NSManagedObject* theirs = other.fetch("Sensor").first();
    NSManagedObject* theirFirst = other.context->executeFetchRequest(NSFetchRequest("Category")).first();
    theirs->setObjectForRelationship(theirFirst, "category");
    ASSERT_TRUE(other.context->save());
    app.context->refreshAllObjects();
    app.context->deleteObject(second);
    ASSERT_TRUE(app.context->save());
    EXPECT_EQ(s->objectForRelationship("category"), first);
    EXPECT_EQ(first->objectsForRelationship("sensors"), QList<NSManagedObject*>({s}));
}

TEST_F(CoreDataTest, SortsUseUnsavedValuesAndVanishedRowsDoNotBlockSaves)
{
    StoreConnection app(path());
    sensor(app, "A", 1);
    sensor(app, "B", 2);
    NSManagedObject* category = app.insert("Category");
    ASSERT_TRUE(app.context->save());
    app.fetch("Sensor", NSPredicate::withFormat("key = 'A'")).first()->setValueForKey(5.0, "value");
    NSFetchRequest lowest("Sensor");
    lowest.sortDescriptors = {{"value", true}};
    lowest.fetchLimit = 1;
    EXPECT_EQ(app.context->executeFetchRequest(lowest).first()->valueForKey("key").toString(), "B");

    // A category deleted elsewhere while a new sensor here points at it.
    StoreConnection other(path());
    other.context->deleteObject(other.context->executeFetchRequest(NSFetchRequest("Category")).first());
    ASSERT_TRUE(other.context->save());
    NSManagedObject* late = sensor(app, "C", 3);
    late->setObjectForRelationship(category, "category");
    QString error;
    EXPECT_TRUE(app.context->save(&error)) << error.toStdString();
    EXPECT_EQ(late->objectForRelationship("category"), nullptr);
    EXPECT_EQ(StoreConnection(path()).fetch("Sensor").size(), 3);
}

// The history range comes from the index, sees unsaved points and changes,
// and never loads the points it measures.
TEST_F(CoreDataTest, RangesOfAListCountUnsavedMembersWithoutLoadingSavedOnes)
{
    {
        StoreConnection writer(path());
        NSManagedObject* cpu = sensor(writer, "TC0P");
        for (double y : {41.2, -1.0, 57.3}) {
            NSManagedObject* point = writer.insert("GraphPoint");
            point->setValueForKey(y, "pointY");
            cpu->addObjectToRelationship(point, "graphPoints");
        }
        sensor(writer, "TB0T");
        ASSERT_TRUE(writer.context->save());
    }
    SQLite::Database file(path().toStdString());
    SQLite::Statement plan(file, "EXPLAIN QUERY PLAN SELECT MAX(\"pointY\") FROM \"GraphPoint\" WHERE \"sensor\" = 1");
    ASSERT_TRUE(plan.executeStep());
    EXPECT_NE(plan.getColumn(3).getString().find("COVERING INDEX"), std::string::npos) << plan.getColumn(3).getString();

    StoreConnection store(path());
    NSManagedObject* cpu = store.fetch("Sensor", NSPredicate::withFormat("key = %@", QString("TC0P"))).first();
    NSManagedObject* battery = store.fetch("Sensor", NSPredicate::withFormat("key = %@", QString("TB0T"))).first();
    const int before = store.context->registeredObjectCount();
    EXPECT_EQ(store.context->rangeOfRelationship(cpu, "graphPoints", "pointY"), std::make_pair(-1.0, 57.3));
    EXPECT_EQ(store.context->rangeOfRelationship(battery, "graphPoints", "pointY"), std::nullopt);
    EXPECT_EQ(store.context->registeredObjectCount(), before);

    NSManagedObject* hot = store.insert("GraphPoint");
    hot->setValueForKey(90.0, "pointY");
    cpu->addObjectToRelationship(hot, "graphPoints");
    EXPECT_EQ(store.context->rangeOfRelationship(cpu, "graphPoints", "pointY"), std::make_pair(-1.0, 90.0));
    // A saved point moved elsewhere, unsaved: it counts for its new owner only.
    NSManagedObject* coldest = store.fetch("GraphPoint", NSPredicate::withFormat("pointY < %@", 0.0)).first();
    battery->addObjectToRelationship(coldest, "graphPoints");
    EXPECT_EQ(store.context->rangeOfRelationship(cpu, "graphPoints", "pointY"), std::make_pair(41.2, 90.0));
    EXPECT_EQ(store.context->rangeOfRelationship(battery, "graphPoints", "pointY"), std::make_pair(-1.0, -1.0));
}

// Released rows leave memory; whoever referred to them finds them again in the store.
TEST_F(CoreDataTest, ReleasedObjectsAreReadAgainAndUnsavedOnesStay)
{
    StoreConnection store(path());
    NSManagedObject* cpu = sensor(store, "TC0P");
    QList<NSManagedObject*> points;
    for (double y : {40.0, 50.0}) {
        NSManagedObject* point = store.insert("GraphPoint");
        point->setValueForKey(y, "pointY");
        cpu->addObjectToRelationship(point, "graphPoints");
        points << point;
    }
    EXPECT_EQ(store.context->releaseObjects(points), points);  // unsaved: they stay
    ASSERT_TRUE(store.context->save());
    ASSERT_EQ(cpu->objectsForRelationship("graphPoints").size(), 2);  // a loaded list that holds them

    const int before = store.context->registeredObjectCount();
    EXPECT_TRUE(store.context->releaseObjects(points).isEmpty());
    EXPECT_EQ(store.context->registeredObjectCount(), before - 2);
    const QList<NSManagedObject*> again = cpu->objectsForRelationship("graphPoints");
    ASSERT_EQ(again.size(), 2);
    EXPECT_DOUBLE_EQ(again.last()->valueForKey("pointY").toDouble(), 50);
    EXPECT_EQ(again.first()->objectForRelationship("sensor"), cpu);

    // A changed one stays, and its change is saved later.
    again.first()->setValueForKey(45.0, "pointY");
    EXPECT_EQ(store.context->releaseObjects(again), QList<NSManagedObject*>({again.first()}));
    ASSERT_TRUE(store.context->save());
    StoreConnection reader(path());
    EXPECT_EQ(reader.fetch("GraphPoint", NSPredicate::withFormat("pointY == %@", 45.0)).size(), 1);
}

// A reader that refreshes on every notice holds what the store still has,
// however long another program appends and purges.
TEST_F(CoreDataTest, RefreshesForgetObjectsWhoseRowsAnotherProgramDeleted)
{
    StoreConnection writer(path());
    NSManagedObject* cpu = sensor(writer, "TC0P");
    double next = 0;
    const auto append = [&] {
        NSManagedObject* point = writer.insert("GraphPoint");
        point->setValueForKey(++next, "pointY");
        cpu->addObjectToRelationship(point, "graphPoints");
    };
    for (int i = 0; i < 4; ++i)
        append();
    ASSERT_TRUE(writer.context->save());

    StoreConnection reader(path());
    NSManagedObject* seen = reader.fetch("Sensor").first();
    const QList<NSManagedObject*> first = seen->objectsForRelationship("graphPoints");
    ASSERT_EQ(first.size(), 4);
    NSManagedObject* oldest = first.at(0);
    first.at(1)->setValueForKey(-5.0, "pointY");  // unsaved here: it stays
    for (int poll = 1; poll <= 10; ++poll) {
        append();
        writer.context->deleteObject(writer.context->executeFetchRequest(NSFetchRequest("GraphPoint")).first());
        ASSERT_TRUE(writer.context->save());
        reader.context->refreshAllObjects();
        const QList<NSManagedObject*> points = seen->objectsForRelationship("graphPoints");
        ASSERT_EQ(points.size(), 4);
        EXPECT_DOUBLE_EQ(points.last()->valueForKey("pointY").toDouble(), next);
        EXPECT_EQ(points.first()->objectForRelationship("sensor"), seen);
        if (poll == 2) {
            // Forgotten, but a pointer kept from before still reads its last values.
            EXPECT_EQ(oldest->managedObjectContext(), nullptr);
            EXPECT_DOUBLE_EQ(oldest->valueForKey("pointY").toDouble(), 1);
        }
    }
    // The sensor, its four points, the changed one, and this poll's departed one.
    EXPECT_EQ(reader.context->registeredObjectCount(), 7);
    EXPECT_DOUBLE_EQ(first.at(1)->valueForKey("pointY").toDouble(), -5);
    EXPECT_TRUE(reader.context->hasChanges());
}

// SQLite keeps a NaN as NULL; every program must read it as NaN, not 0.
TEST_F(CoreDataTest, NotANumberReachesOtherProgramsAsNotANumber)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    StoreConnection writer(path());
    NSManagedObject* cpu = sensor(writer, "TC0P", nan);
    cpu->setValueForKey(inf, "maxValue");
    cpu->setValueForKey(-inf, "minValue");
    for (double y : {nan, 40.0}) {
        NSManagedObject* point = writer.insert("GraphPoint");
        point->setValueForKey(y, "pointY");
        cpu->addObjectToRelationship(point, "graphPoints");
    }
    ASSERT_TRUE(writer.context->save());

    StoreConnection reader(path());
    NSManagedObject* seen = reader.fetch("Sensor").first();
    EXPECT_TRUE(std::isnan(seen->valueForKey("value").toDouble()));
    EXPECT_EQ(seen->valueForKey("maxValue").toDouble(), inf);
    EXPECT_EQ(seen->valueForKey("minValue").toDouble(), -inf);
    EXPECT_DOUBLE_EQ(seen->valueForKey("recordedMaxValue").toDouble(), 0);  // never written: the default
    const QList<NSManagedObject*> points = seen->objectsForRelationship("graphPoints");
    ASSERT_EQ(points.size(), 2);
    EXPECT_TRUE(std::isnan(points.first()->valueForKey("pointY").toDouble()));
    // Ranges skip it, from loaded points as from the store's index.
    EXPECT_EQ(reader.context->rangeOfRelationship(seen, "graphPoints", "pointY"), std::make_pair(40.0, 40.0));

    // A number written later replaces it, and NaN written over a number comes back.
    writer.fetch("Sensor").first()->setValueForKey(51.0, "value");
    ASSERT_TRUE(writer.context->save());
    reader.context->refreshAllObjects();
    EXPECT_DOUBLE_EQ(seen->valueForKey("value").toDouble(), 51);
    writer.fetch("Sensor").first()->setValueForKey(nan, "value");
    ASSERT_TRUE(writer.context->save());
    reader.context->refreshAllObjects();
    EXPECT_TRUE(std::isnan(seen->valueForKey("value").toDouble()));
}

TEST_F(CoreDataTest, ManyRowsInsertedInOneSaveKeepTheirOwnValuesTypesAndPlaces)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    StoreConnection store(path());
    NSManagedObject* owner = sensor(store, "S00");
    for (int i = 0; i < 2; ++i)
        owner->addObjectToRelationship(store.insert("GraphPoint"), "graphPoints");
    ASSERT_TRUE(store.context->save());

    // Fractions, whole numbers and no reading, each row its own.
    for (int i = 1; i < 45; ++i) {
        sensor(store, QString("S%1").arg(i, 2, 10, QChar('0')), i % 3 == 0 ? i + 0.5 : i % 3 == 1 ? i * 2 : nan)
            ->setValueForKey(i * 10, "group");
    }
    // A place given explicitly, then one taken at the end of the same list.
    QList<NSManagedObject*> points = owner->objectsForRelationship("graphPoints");
    points << store.insert("GraphPoint");
    owner->setObjectsForRelationship(points, "graphPoints");
    owner->addObjectToRelationship(store.insert("GraphPoint"), "graphPoints");
    ASSERT_TRUE(store.context->save());

    SQLite::Database file(path().toStdString());
    SQLite::Statement rows(file, "SELECT \"key\", \"value\", typeof(\"value\"), \"group\", typeof(\"group\") "
                                 "FROM \"Sensor\" WHERE \"id\" > 1 ORDER BY \"id\"");
    for (int i = 1; i < 45; ++i) {
        ASSERT_TRUE(rows.executeStep());
        EXPECT_EQ(rows.getColumn(0).getString(), QString("S%1").arg(i, 2, 10, QChar('0')).toStdString());
        if (i % 3 == 2) {
            EXPECT_EQ(rows.getColumn(2).getString(), "null") << i;
        } else {
            EXPECT_EQ(rows.getColumn(2).getString(), "real") << i;
            EXPECT_DOUBLE_EQ(rows.getColumn(1).getDouble(), i % 3 == 0 ? i + 0.5 : i * 2) << i;
        }
        EXPECT_EQ(rows.getColumn(4).getString(), "integer") << i;
        EXPECT_EQ(rows.getColumn(3).getInt64(), i * 10) << i;
    }
    EXPECT_FALSE(rows.executeStep());
    SQLite::Statement places(file, "SELECT \"sensor_order\" FROM \"GraphPoint\" ORDER BY \"id\"");
    std::vector<double> orders;
    while (places.executeStep())
        orders.push_back(places.getColumn(0).getDouble());
    EXPECT_EQ(orders, std::vector<double>({1, 2, 3, 4}));
}

TEST(PredicateTest, MemoryAndSQLAgree)
{
    const QVariantMap object{{"key", "TC0P"}, {"type", 1}, {"value", 42.5}, {"name", QVariant()}};
    struct Case {
        NSPredicate predicate;
        bool expected;
        const char* sql;
    } cases[] = {
        {NSPredicate::withFormat("key = %@", QString("TC0P")), true, "(\"key\" = ?)"},
        {NSPredicate::withFormat("key == 'TC0P'"), true, nullptr},
        {NSPredicate::withFormat("type = %d", 1), true, nullptr},
        {NSPredicate::withFormat("type = %d AND key = %@", 2, QString("TC0P")), false, nullptr},
        {NSPredicate::withFormat("type = 2 OR (value >= 42.5 AND NOT key = 'X')"), true, nullptr},
        {NSPredicate::withFormat("%K == %@", QString("key"), QString("TC0P")), true, nullptr},
        {NSPredicate::withFormat("name = nil"), true, "\"name\" IS NULL"},
        {NSPredicate::withFormat("name != 'x'"), true, nullptr},
        {NSPredicate::withFormat("value < 0"), false, nullptr},
        {NSPredicate::withFormat("SELF.key != \"TC0P\""), false, nullptr},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(c.predicate.isValid()) << c.predicate.error().toStdString();
        EXPECT_EQ(c.predicate.evaluateWithObject(object), c.expected);
        QString sql;
        QVariantList bindings;
        ASSERT_TRUE(c.predicate.sqlCondition([](const QString& k) { return std::optional<QString>('"' + k + '"'); },
                                             sql, bindings));
        if (c.sql) {
            EXPECT_EQ(sql, c.sql);
        }
    }
    for (const char* bad : {"key =", "key = %@", "= 3", "(key = 1", "key ~ 1", "1 = 2"})
        EXPECT_FALSE(NSPredicate::predicateWithFormat(bad).isValid()) << bad;
    EXPECT_FALSE(NSPredicate::withFormat("key = %@", QString("a"), QString("b")).isValid());
}

}  // namespace
