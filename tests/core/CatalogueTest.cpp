#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <gtest/gtest.h>

#include "FakeSMC.h"
#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataBuilder.h"
#include "KLDataManager.h"
#include "KLFanSet.h"
#include "KLGraphPoint.h"
#include "KLSensor.h"
#include "KLSystemFiles.h"
#include "NSBundle.h"
#include "NSNotificationCenter.h"
#include "NSString+KLExtension.h"
#include "QtApplication.h"
#include "RZSMC.h"
#include "TestHome.h"
#include "VirtualSMC.h"

namespace {

// Each test is its own process: a new store, a new virtual SMC and a new SMC connection.
class CatalogueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testApplication();
        NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR);
        smc::VirtualSMC virtualSMC;
        virtualSMC.freezeClock(1800000000);
        virtualSMC.setLoad(0.4);
    }
    void TearDown() override { NSBundle::setMainBundlePathForTesting({}); }

    static QStringList keysOf(const QList<KLSensor*>& sensors)
    {
        QStringList keys;
        for (KLSensor* sensor : sensors)
            keys << sensor->key();
        return keys;
    }
    NSManagedObjectContext* master() { return KLCoreDataHelper::sharedInstance().masterContext(); }

    TestHome home;
};

TEST_F(CatalogueTest, TheDefaultMachineFillsFiveCategoriesAndTheManualSet)
{
    KLDataBuilder::generateDataSet();
    const QList<KLCategory*> categories = KLCategory::allObjects();
    QStringList names;
    for (KLCategory* category : categories)
        names << category->name();
    ASSERT_EQ(names, QStringList({"Temperature", "Fan", "Voltage", "Current", "Power"}));

    RZSMC& smc = RZSMC::smc();
    KLCategory* temperature = categories[0];
    EXPECT_EQ(keysOf(temperature->sensors()), smc.workingTempKeys());
    KLSensor* cpu = KLSensor::sensorWithKey("TC0P");
    EXPECT_EQ(cpu->name(), "CPU Proximity");
    EXPECT_EQ(cpu->fullName(), "CPU Proximity");
    EXPECT_EQ(cpu->group(), KLSensorGroupCPU);
    EXPECT_EQ(cpu->minValue(), 0);
    EXPECT_EQ(cpu->maxValue(), 110);
    EXPECT_EQ(cpu->category(), temperature);

    const QList<KLSensor*> fans = categories[1]->sensors();
    ASSERT_EQ(keysOf(fans), QStringList({"0", "1"}));
    EXPECT_EQ(fans[0]->name(), "LeftSide");
    EXPECT_EQ(fans[1]->fullName(), "RightSide");
    EXPECT_EQ(fans[0]->group(), KLSensorGroupFan);
    EXPECT_EQ(fans[0]->minValue(), 2160);
    EXPECT_EQ(fans[0]->maxValue(), 5927);
    EXPECT_EQ(keysOf(categories[2]->sensors()), smc.workingVoltageKeys());
    EXPECT_FALSE(keysOf(categories[3]->sensors()).contains("IB0R"));  // fitted but reading 0
    EXPECT_TRUE(keysOf(categories[4]->sensors()).contains("PSTR"));

    const QList<KLFanSet*> sets = KLFanSet::allObjects();
    ASSERT_EQ(sets.size(), 1);
    EXPECT_EQ(sets[0]->name(), "Manual");
    EXPECT_EQ(sets[0]->valueDict(), std::optional<KLFanSpeeds>(KLFanSpeeds{{"0", 2160.0}, {"1", 2000.0}}));

    drainMainQueue();  // the build's queued save
    EXPECT_FALSE(master()->hasChanges());
}

TEST_F(CatalogueTest, RebuildingKeepsSensorsHistoryAndTheUsersChoices)
{
    KLDataBuilder::generateDataSet();
    drainMainQueue();
    const int sensorsBefore = KLSensor::allObjects().size();
    KLSensor* cpu = KLSensor::sensorWithKey("TC0P");
    cpu->setMaxValue(95);
    KLGraphPoint* point = KLGraphPoint::newGraphPoint();
    point->setPointX(1800000000);
    cpu->addGraphPointsObject(point);
    KLSensor* fan = KLSensor::sensorWithKey("0");
    fan->setMinValue(1300);
    KLSensor* other = KLSensor::sensorWithKey("1");
    other->setMinValue(0);
    KLFanSet::allObjects().first()->setName("Mine");
    ASSERT_TRUE(master()->save());

    KLDataBuilder::generateDataSet();
    EXPECT_EQ(KLCategory::allObjects().size(), 5);
    EXPECT_EQ(KLSensor::allObjects().size(), sensorsBefore);
    EXPECT_EQ(cpu->maxValue(), 110);
    EXPECT_EQ(cpu->graphPoints(), QList<KLGraphPoint*>({point}));
    EXPECT_EQ(fan->minValue(), 1300);
    EXPECT_EQ(other->minValue(), 2000);
    ASSERT_EQ(KLFanSet::allObjects().size(), 1);  // "Manual" is not made again
    EXPECT_EQ(KLFanSet::allObjects().first()->name(), "Mine");

    master()->deleteObject(KLFanSet::allObjects().first());
    KLDataBuilder::generateFanSets();
    ASSERT_EQ(KLFanSet::allObjects().size(), 1);
    EXPECT_EQ(KLFanSet::allObjects().first()->name(), "Manual");
}

TEST_F(CatalogueTest, AMachineOffTheTargetSpeedListBuildsItsOwnCatalogue)
{
    ASSERT_TRUE(smc::VirtualSMC().setProfile("MacBookPro11,3"));
    smc::VirtualSMC().freezeClock(1800000000);
    KLDataBuilder::generateDataSet();
    const QStringList temps = keysOf(KLCategory::getCategoryWithName("Temperature")->sensors());
    EXPECT_TRUE(temps.contains("TC0D"));
    EXPECT_FALSE(temps.contains("TCXC"));
    const QList<KLSensor*> fans = KLSensor::fanSensors().value();
    ASSERT_EQ(fans.size(), 2);
    EXPECT_EQ(fans[0]->minValue(), 2000);
    EXPECT_EQ(fans[0]->maxValue(), 6000);
    EXPECT_EQ(keysOf(KLCategory::getCategoryWithName("Voltage")->sensors()), QStringList({"VC0C", "VD0R", "VP0R"}));
}

TEST_F(CatalogueTest, LegacyFilesGoOnlyWithTheirDatabaseAndTheNoticeComesASecondLater)
{
    const QString container = KLCoreDataHelper::sharedInstance().applicationDocumentsDirectory();
    for (const char* name : {"db.realm", "db.realm.lock", "db.realm.note"}) {
        QFile file(container + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    bool generated = false;
    NSNotificationCenter::defaultCenter().addObserver(this, KLDataManagerDidGenerateDatasetNotification,
                                                      [&](const NSNotification&) { generated = true; });
    QElapsedTimer clock;
    clock.start();
    KLDataManager manager(KLDataManager::Program::Main);
    EXPECT_FALSE(QFile::exists(container + "/db.realm"));
    EXPECT_FALSE(QFile::exists(container + "/db.realm.lock"));
    EXPECT_FALSE(QFile::exists(container + "/db.realm.note"));
    EXPECT_EQ(KLCategory::allObjects().size(), 5);
    drainMainQueue();
    EXPECT_FALSE(generated);
    while (!generated && clock.elapsed() < 3000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(generated);
    EXPECT_GE(clock.elapsed(), 900);
    NSNotificationCenter::defaultCenter().removeObserver(this);

    // Without its database a stray lock file is none of the cleanup's business.
    QFile lock(container + "/db.realm.lock");
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.close();
    manager.setupDatabase();
    EXPECT_TRUE(QFile::exists(container + "/db.realm.lock"));
}

// Display devices of a fake machine; the test owns its system root.
void fakeGPUs(const QString& root, const QList<QPair<QString, QString>>& devices)
{
    int slot = 0;
    for (const auto& [vendor, device] : devices) {
        const QString folder = root + QStringLiteral("/sys/bus/pci/devices/0000:0%1:00.0").arg(slot++);
        QDir().mkpath(folder);
        for (const auto& [name, value] : {qMakePair(QString("class"), QString("0x030000")), qMakePair(QString("vendor"), vendor),
                                          qMakePair(QString("device"), device)}) {
            QFile file(folder + "/" + name);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(value.toLatin1() + "\n");
        }
    }
}

TEST_F(CatalogueTest, WithTwoGPUsGPUSensorsCarryTheDedicatedOnesName)
{
    fakeGPUs(home.path() + "/system", {{"0x8086", "0x3e9b"}, {"0x1002", "0x67ef"}});
    KLSystemFiles::setSystemRootForTesting(home.path() + "/system");
    KLDataBuilder::generateCategories();
    KLSystemFiles::setSystemRootForTesting({});
    EXPECT_EQ(KLSensor::sensorWithKey("TG0P")->fullName(), "AMD 0x67ef GPU Proximity");
    EXPECT_EQ(KLSensor::sensorWithKey("TGDD")->fullName(), "AMD 0x67ef GPU Radeon Die");
    // Only names that begin with "GPU" are changed.
    EXPECT_EQ(KLSensor::sensorWithKey("TCGC")->fullName(), "Intel GPU");
    EXPECT_EQ(KLSensor::sensorWithKey("TC0P")->fullName(), "CPU Proximity");
}

TEST_F(CatalogueTest, WithOneGPUOrTwoIntegratedOnesNamesStayAsTheyAre)
{
    fakeGPUs(home.path() + "/system", {{"0x8086", "0x3e9b"}, {"0x8086", "0x591b"}});
    KLSystemFiles::setSystemRootForTesting(home.path() + "/system");
    KLDataBuilder::generateCategories();
    KLSystemFiles::setSystemRootForTesting({});
    EXPECT_EQ(KLSensor::sensorWithKey("TG0P")->fullName(), "GPU Proximity");
}

TEST_F(CatalogueTest, CategoryNamesInTheChosenLanguage)
{
    KLDataBuilder::generateCategories();
    KLDataManager::sharedInstance().setCurrentLanguage("de");
    KLCategory* fans = KLCategory::getCategoryWithName("Fan");
    EXPECT_EQ(fans->localizedName(), KLExtension::localizedStringForKey("category-fan-name", "de"));
    EXPECT_NE(fans->localizedName(), KLExtension::localizedStringForKey("category-fan-name", "en"));
    KLCategory* other = KLCategory::categoryWithName("Other");
    other->setType(7);
    EXPECT_EQ(other->localizedName(), "Other");
}

TEST_F(CatalogueTest, ABadFanCountNamesNoMoreThanTwentyFans)
{
    auto fake = std::make_shared<FakeSMC>();
    fake->set("FNum", "ui8 ", {200});
    FakeSMC::install(fake);
    KLDataBuilder::generateCategories();
    EXPECT_EQ(KLSensor::fanSensors()->size(), 20);
    EXPECT_EQ(KLSensor::fanSensors()->last()->name(), "Fan 20");
    smc::setServiceProviderForTesting({});
}

TEST_F(CatalogueTest, WithoutAnSMCTheCategoriesStillExistEmpty)
{
    smc::setServiceProviderForTesting([] { return std::shared_ptr<smc::SMCBackend>(); });
    testing::internal::CaptureStdout();
    KLDataBuilder::generateDataSet();
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(KLCategory::allObjects().size(), 5);
    for (KLCategory* category : KLCategory::allObjects())
        EXPECT_TRUE(category->sensors().isEmpty()) << category->name().toStdString();
    EXPECT_TRUE(KLFanSet::allObjects().isEmpty());
    smc::setServiceProviderForTesting({});
}

}  // namespace
