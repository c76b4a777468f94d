#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

#include "CraftedPlist.h"
#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLFanCondition.h"
#include "KLFanSet.h"
#include "KLGraphPoint.h"
#include "KLSensor.h"
#include "NSBundle.h"
#include "QtApplication.h"
#include "StoreFixture.h"
#include "TestHome.h"

namespace {

// Each test runs in its own process, so the shared stack is new for each.
class StoredEntitiesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testApplication();
        NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR);
    }
    void TearDown() override { NSBundle::setMainBundlePathForTesting({}); }
    QString storePath() const
    {
        return home.path() + "/Library/Group Containers/group.com.orvane.kelvara/Database.sqlite";
    }
    TestHome home;
};

TEST_F(StoredEntitiesTest, StackOpensTheContainerStoreOnFirstUse)
{
    KLCoreDataHelper& helper = KLCoreDataHelper::sharedInstance();
    EXPECT_EQ(helper.applicationDocumentsDirectory(), home.path() + "/Library/Group Containers/group.com.orvane.kelvara");
    NSManagedObjectContext* master = helper.masterContext();
    ASSERT_NE(master, nullptr);
    EXPECT_EQ(master, helper.masterContext());
    EXPECT_EQ(master->concurrencyType(), NSMainQueueConcurrencyType);
    EXPECT_EQ(master->stalenessInterval(), 0);
    EXPECT_EQ(master->mergePolicy(), NSMergePolicyType::NSMergeByPropertyObjectTrumpMergePolicy);
    EXPECT_TRUE(QFile::exists(storePath()));

    const auto a = helper.newContext();
    const auto b = helper.newContext();
    EXPECT_NE(a, b);
    EXPECT_EQ(a->parentContext(), master);
    EXPECT_EQ(b->parentContext(), master);
    EXPECT_EQ(a->concurrencyType(), NSPrivateQueueConcurrencyType);
}

TEST_F(StoredEntitiesTest, SavesAreQueuedOnTheMainQueue)
{
    KLSensor* sensor = KLSensor::sensorWithKey("TC0P");
    ASSERT_NE(sensor, nullptr);
    EXPECT_EQ(KLSensor::sensorWithKey("TC0P"), sensor);  // found again, not inserted twice
    sensor->setValue(41.0);
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    EXPECT_TRUE(StoreConnection(storePath()).fetch("Sensor").isEmpty());  // only queued
    drainMainQueue();
    EXPECT_EQ(StoreConnection(storePath()).fetch("Sensor").size(), 1);
    EXPECT_FALSE(KLCoreDataHelper::sharedInstance().masterContext()->hasChanges());

    // Another program's save becomes visible after the queued refresh.
    StoreConnection other(storePath());
    other.fetch("Sensor").first()->setValueForKey(57.0, "value");
    ASSERT_TRUE(other.context->save());
    KLCoreDataHelper::sharedInstance().refreshAllObjectsInMasterContext();
    EXPECT_DOUBLE_EQ(sensor->value(), 41.0);
    drainMainQueue();
    EXPECT_DOUBLE_EQ(sensor->value(), 57.0);
}

TEST_F(StoredEntitiesTest, CategoriesAndSensors)
{
    const char* names[] = {"Power", "Fan", "Temperature", "Current", "Voltage"};
    const int types[] = {4, 1, 0, 3, 2};
    for (int i = 0; i < 5; ++i)
        KLCategory::categoryWithName(names[i])->setType(types[i]);
    EXPECT_EQ(KLCategory::categoryWithName("Fan")->type(), 1);
    EXPECT_EQ(KLCategory::getCategoryWithName("Nothing"), nullptr);
    QStringList order;
    for (KLCategory* category : KLCategory::allObjects())
        order << category->name();
    EXPECT_EQ(order, QStringList({"Temperature", "Fan", "Voltage", "Current", "Power"}));

    EXPECT_TRUE(KLSensor::fanSensors().has_value());
    EXPECT_TRUE(KLSensor::fanSensors()->isEmpty());
    KLSensor* fan = KLSensor::sensorWithKey("0");
    fan->setGroup(KLSensorGroupFan);
    KLCategory::getCategoryWithName("Fan")->setSensors({fan});
    EXPECT_EQ(fan->category()->name(), "Fan");
    ASSERT_EQ(KLSensor::fanSensors()->size(), 1);
    EXPECT_EQ(KLSensor::fanSensors()->first(), fan);
    EXPECT_TRUE(KLSensor::tempSensors()->isEmpty());
    EXPECT_EQ(KLSensor::objectsWhere(NSPredicate::withFormat("group = %d", 11)).size(), 1);

    KLGraphPoint* point = KLGraphPoint::newGraphPoint();
    point->setPointX(1800000000);
    point->setTimeRange(KLGraphTimeRangeDay);
    fan->addGraphPointsObject(point);
    EXPECT_EQ(point->sensor(), fan);
    EXPECT_EQ(fan->graphPoints().size(), 1);
    EXPECT_EQ(KLGraphPoint::allObjects().size(), 1);
}

TEST_F(StoredEntitiesTest, FanSetsAndConditionsComeBackOldestFirst)
{
    KLFanSet* manual = KLFanSet::fanSetWithName("Manual", KLFanSpeeds{{"0", 2000}, {"1", 2200}});
    QThread::msleep(5);
    KLFanSet* quiet = KLFanSet::fanSetWithName("Quiet", std::nullopt);
    ASSERT_NE(manual, nullptr);
    EXPECT_EQ(manual->valueDict(), std::optional<KLFanSpeeds>(KLFanSpeeds{{"0", 2000}, {"1", 2200}}));
    EXPECT_FALSE(quiet->valueDict().has_value());  // an archive of nothing
    testing::internal::CaptureStderr();
    quiet->setValue("not an archive");
    EXPECT_FALSE(quiet->valueDict().has_value());
    // Read at every poll in fan-set mode: refused quickly and said once per archive.
    quiet->setValue(crafted::sharedChildren(30));
    EXPECT_FALSE(quiet->valueDict().has_value());
    EXPECT_FALSE(quiet->valueDict().has_value());
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;
    EXPECT_EQ(KLFanSet::allObjects(), QList<KLFanSet*>({manual, quiet}));
    EXPECT_EQ(KLFanSet::defaultMaxFanSet()->name(), "Max");
    EXPECT_EQ(KLFanSet::defaultMaxFanSet(), KLFanSet::objectsWhere(NSPredicate::withFormat("name = 'Max'")).first());

    KLSensor* cpu = KLSensor::sensorWithKey("TC0P");
    NSManagedObjectContext* master = KLCoreDataHelper::sharedInstance().masterContext();
    EXPECT_EQ(KLFanCondition::fanConditionWithFanSet(nullptr, cpu, 70, 0, master), nullptr);
    EXPECT_EQ(KLFanCondition::fanConditionWithFanSet(manual, nullptr, 70, 0, master), nullptr);
    EXPECT_TRUE(KLFanCondition::allObjects().isEmpty());

    KLFanCondition* hot = KLFanCondition::fanConditionWithFanSet(manual, cpu, 72.6, 2, master);
    QThread::msleep(5);
    KLFanCondition* warm = KLFanCondition::fanConditionWithFanSet(quiet, cpu, 60, 0, master);
    EXPECT_EQ(KLFanCondition::allObjects(), QList<KLFanCondition*>({hot, warm}));
    EXPECT_EQ(hot->sensor(), cpu);
    EXPECT_EQ(manual->fanConditions(), QList<KLFanCondition*>({hot}));
    EXPECT_EQ(hot->description(), "Fan set: Manual\nSensor: TC0P\nThreshold: 72\nBattery State: 2");
    warm->setSensorKey(KLAnySensorKey);
    EXPECT_EQ(warm->sensor(), nullptr);

    ASSERT_TRUE(master->save());
    StoreConnection reader(storePath());
    NSFetchRequest byCreation("FanCondition");
    byCreation.sortDescriptors = {{"created", true}};
    const auto stored = reader.context->executeFetchRequest(byCreation);
    ASSERT_EQ(stored.size(), 2);
    EXPECT_DOUBLE_EQ(stored.first()->valueForKey("threshold").toDouble(), 72.6);
}

TEST(StoreWithoutModelTest, EverythingReadsAsEmpty)
{
    const TestHome home;
    QTemporaryDir emptyBundle;
    NSBundle::setMainBundlePathForTesting(emptyBundle.path());
    KLCoreDataHelper helper;
    EXPECT_EQ(helper.managedObjectModel(), nullptr);
    EXPECT_EQ(helper.persistentStoreCoordinator(), nullptr);
    EXPECT_EQ(helper.masterContext(), nullptr);
    EXPECT_EQ(KLSensor::sensorWithKey("TC0P"), nullptr);
    EXPECT_TRUE(KLCategory::allObjects().isEmpty());
    EXPECT_TRUE(KLFanSet::allObjects().isEmpty());
    EXPECT_EQ(KLGraphPoint::newGraphPoint(), nullptr);
    NSBundle::setMainBundlePathForTesting({});
}

TEST(StoreCorruptTest, ReportedOnceAndTheFileIsKept)
{
    const TestHome home;
    NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR);
    KLCoreDataHelper helper;
    const QString container = helper.applicationDocumentsDirectory();
    QFile file(container + "/Database.sqlite");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, '\x5a'));
    file.close();

    testing::internal::CaptureStderr();
    ASSERT_NE(helper.masterContext(), nullptr);
    NSFetchRequest all("Sensor");
    EXPECT_TRUE(helper.masterContext()->executeFetchRequest(all).isEmpty());
    EXPECT_TRUE(helper.masterContext()->executeFetchRequest(all).isEmpty());
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("cannot be opened"), std::string::npos);
    EXPECT_EQ(printed.find("cannot be opened"), printed.rfind("cannot be opened"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray(4096, '\x5a'));
    NSBundle::setMainBundlePathForTesting({});
}

}  // namespace
