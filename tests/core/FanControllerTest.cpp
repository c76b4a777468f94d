#include <QFile>
#include <grp.h>
#include <limits>
#include <optional>
#include <gtest/gtest.h>

#include "Authorization.h"
#include "Dispatch.h"
#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLFanCondition.h"
#include "KLFanController.h"
#include "KLFanSet.h"
#include "KLSensor.h"
#include "KLPowerMonitor.h"
#include "NSBundle.h"
#include "NSDistributedNotificationCenter.h"
#include "NSKeyedArchiver.h"
#include "PrivateBus.h"
#include "QtApplication.h"
#include "RZSMC.h"
#include "TestAdministrator.h"
#include "TestHome.h"
#include "ToolRuns.h"
#include "VirtualSMC.h"

namespace {

// A controller of the helper's kind over a catalogue made by the test, on the
// default simulated Mac (fans driven through mode and target keys).
class FanControllerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testApplication();
        NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR "/Contents/Components/Kelvara Helper.app");
        temps = category(KLCategoryTypeTemperature);
        fans = category(KLCategoryTypeFan);
        fan(0, 2000, 6000);
        fan(1, 1800, 5500);
    }
    void TearDown() override { NSBundle::setMainBundlePathForTesting({}); }

    static KLCategory* category(int type)
    {
        KLCategory* made = KLCategory::categoryWithName(QString::number(type));
        made->setType(type);
        return made;
    }
    static KLSensor* add(KLCategory* owner, const QString& key, double value)
    {
        KLSensor* sensor = KLSensor::sensorWithKey(key);
        sensor->setName(key + " name");
        sensor->setValue(value);
        sensor->setCategory(owner);
        owner->setSensors(owner->sensors() << sensor);
        return sensor;
    }
    KLSensor* temp(const QString& key, double celsius) { return add(temps, key, celsius); }
    KLSensor* fan(int index, double min, double max)
    {
        KLSensor* sensor = add(fans, QString::number(index), min);
        sensor->setMinValue(min);
        sensor->setMaxValue(max);
        return sensor;
    }
    static KLFanCondition* condition(const QString& sensorKey, double threshold, int batteryState = 0,
                                     const KLFanSpeeds& speeds = {{"0", 4000}})
    {
        KLFanSet* set = KLFanSet::fanSetWithName("Set", speeds);
        auto* made = dynamic_cast<KLFanCondition*>(
            KLCoreDataHelper::sharedInstance().masterContext()->insertNewObjectForEntityForName("FanCondition"));
        made->setFanSet(set);
        made->setSensorKey(sensorKey);
        made->setThreshold(threshold);
        made->setBatteryState(batteryState);
        made->setCreated(QDateTime::currentDateTimeUtc());
        return made;
    }
    KLFanController& controller()
    {
        if (!m_controller)
            m_controller = std::make_unique<KLFanController>(true);
        return *m_controller;
    }

    // A stand-in tool that notes each command line, owned and moded as installed.
    void installRecordingTool()
    {
        QFile tool(RZSMC::smcToolPath());
        ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
        tool.write(QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1'\n").arg(log()).toUtf8());
        tool.close();
        ASSERT_TRUE(TestAdministrator::giveToAdministrator(RZSMC::smcToolPath()));
    }
    QString log() const { return home.path() + "/tool-runs.txt"; }
    // Target keys written since the last call, sorted ("F0Tg" ...); modes left out.
    QStringList takeTargetWrites()
    {
        EXPECT_TRUE(waitUntil([] { return toolRunsEnded(RZSMC::smcToolPath()); }, 30000));
        QStringList targets;
        QFile file(log());
        if (file.open(QIODevice::ReadOnly))
            for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts))
                if (line.contains("Tg"))
                    targets << line.section(' ', 1, 1);
        QFile::remove(log());
        targets.sort();
        return targets;
    }
    // An update notice applies the rules half a second later; a block queued
    // after it for the same time runs after that application.
    static void waitForTheApplication()
    {
        bool applied = false;
        dispatch_after_seconds(0.5, dispatch_get_main_queue(), [&applied] { applied = true; });
        ASSERT_TRUE(waitUntil([&applied] { return applied; }, 30000));
    }

    PrivateBus bus;
    TestHome home;
    KLCategory* temps = nullptr;
    KLCategory* fans = nullptr;
    std::unique_ptr<KLFanController> m_controller;
};

// With the tool owned by root and the administrators (only root can arrange that).
class InstalledToolTest : public FanControllerTest {
protected:
    void SetUp() override
    {
        FanControllerTest::SetUp();
        installRecordingTool();
    }
    // Auto boost (or another mode) from a clean start.
    static KLDataManager& inMode(unsigned mode)
    {
        KLDataManager& settings = KLDataManager::sharedInstance();
        settings.setFanControlMode(mode);
        settings.setDidAutoBoost(false);
        return settings;
    }
};

TEST_F(FanControllerTest, TheHighestHoldingThresholdWinsAndAnySensorNamesTheFirstHotOne)
{
    KLSensor* first = temp("TA0P", 61);
    temp("TC0P", 85);
    KLFanCondition* any60 = condition(KLAnySensorKey, 60);
    KLFanCondition* cpu80 = condition("TC0P", 80);
    controller().checkAutoBoostAvailable();
    EXPECT_EQ(controller().activeFanCondition(), cpu80);

    KLSensor::sensorWithKey("TC0P")->setValue(70);
    controller().checkAutoBoostAvailable();
    EXPECT_EQ(controller().activeFanCondition(), any60);
    EXPECT_EQ(controller().overheatSensor(), first);  // the first to reach 60, not the hottest

    KLSensor::sensorWithKey("TA0P")->setValue(30);
    KLSensor::sensorWithKey("TC0P")->setValue(40);
    controller().checkAutoBoostAvailable();
    EXPECT_EQ(controller().activeFanCondition(), nullptr);
    EXPECT_EQ(controller().overheatSensor(), nullptr);
}

TEST_F(FanControllerTest, EqualThresholdsKeepCreationOrderAndVanishedSensorsReadZero)
{
    temp("TC0P", 95);
    KLFanCondition* any70 = condition(KLAnySensorKey, 70);
    condition("TX9Z", 90);  // no such sensor: counts 0
    KLFanCondition* second70 = condition("TC0P", 70);
    controller().checkAutoBoostAvailable();
    EXPECT_EQ(controller().activeFanCondition(), any70);
    Q_UNUSED(second70);
    KLFanCondition* gone = condition("TX9Z", 0);
    KLSensor::sensorWithKey("TC0P")->setValue(10);
    controller().checkAutoBoostAvailable();
    EXPECT_EQ(controller().activeFanCondition(), gone);
    EXPECT_EQ(controller().overheatSensor(), nullptr);
}

TEST_F(FanControllerTest, ThePowerSourceDecidesWhichConditionsCount)
{
    temp("TC0P", 95);
    KLFanCondition* onBattery = condition("TC0P", 90, KLPowerSourceStateBattery);
    KLFanCondition* always = condition("TC0P", 80, 0);
    smc::VirtualSMC smc;
    for (unsigned ac : {KLPowerSourceStateACCharging, KLPowerSourceStateACNotCharging}) {
        smc.setPowerSourceState(ac);
        controller().checkAutoBoostAvailable();
        EXPECT_EQ(controller().activeFanCondition(), always) << ac;
    }
    smc.setPowerSourceState(KLPowerSourceStateBattery);
    controller().checkAutoBoostAvailable();
    EXPECT_EQ(controller().activeFanCondition(), onBattery);
    smc.setPowerSourceState(KLPowerSourceStateNone);  // unknown: every condition counts
    KLSensor::sensorWithKey("TC0P")->setValue(95);
    condition("TC0P", 85, KLPowerSourceStateACCharging);
    controller().checkAutoBoostAvailable();
    EXPECT_EQ(controller().activeFanCondition(), onBattery);
}

TEST_F(FanControllerTest, ThresholdsAreComparedRoundedInTheChosenUnit)
{
    KLDataManager::sharedInstance().setTempUnitCelsius(false);
    temp("TC0P", 79.8);  // 175.64 °F
    KLFanCondition* hot = condition("TC0P", 176);
    controller().checkAutoBoostAvailable();
    EXPECT_EQ(controller().activeFanCondition(), hot);
    KLSensor::sensorWithKey("TC0P")->setValue(79.7);  // 175.46 °F
    controller().checkAutoBoostAvailable();
    EXPECT_EQ(controller().activeFanCondition(), nullptr);
}

TEST_F(InstalledToolTest, AFanSetDrivesOnlyTheFansItListsWithinTheirRange)
{
    KLDataManager& settings = KLDataManager::sharedInstance();
    settings.setFanControlMode(KLFanControlModeFanSet);

    KLFanSet::fanSetWithName("Edge", KLFanSpeeds{{"0", 6000}, {"1", 5501}});
    settings.setFanSetName("Edge");
    controller().fireFanController();
    EXPECT_EQ(takeTargetWrites(), QStringList({"F0Tg"}));  // the maximum is allowed, one above is not

    // A fan the set leaves out keeps its speed, even one whose minimum is 0.
    KLSensor::sensorWithKey("1")->setMinValue(0);
    KLFanSet::fanSetWithName("Partial", KLFanSpeeds{{"0", 3000}});
    settings.setFanSetName("Partial");
    controller().fireFanController();
    EXPECT_EQ(takeTargetWrites(), QStringList({"F0Tg"}));

    // Speeds that are no finite number, a set whose speeds cannot be read, or
    // one that is gone, touch nothing.
    KLFanSet::fanSetWithName("Odd", KLFanSpeeds{{"0", std::nan("")}, {"1", std::numeric_limits<double>::infinity()}});
    settings.setFanSetName("Odd");
    controller().fireFanController();
    KLFanSet* broken = KLFanSet::fanSetWithName("Broken", KLFanSpeeds{{"0", 3000}});
    broken->setValue("not an archive");
    settings.setFanSetName("Broken");
    controller().fireFanController();
    settings.setFanSetName("Gone");
    controller().fireFanController();
    EXPECT_EQ(takeTargetWrites(), QStringList());
}

TEST_F(InstalledToolTest, AutoBoostIsReevaluatedEveryTenSecondsOfTicksAndOnlyActsOnChanges)
{
    KLDataManager& settings = inMode(KLFanControlModeAutoBoost);
    KLSensor* cpu = temp("TC0P", 85);
    condition("TC0P", 80);
    int announced = 0;
    NSDistributedNotificationCenter::defaultCenter().addObserver(
        this, KLFanControllerAutoBoostActiveNotification, [&](const NSNotification&) { ++announced; });

    // At 2 s, the fifth tick evaluates.
    for (int i = 0; i < 4; ++i)
        controller().kelvaraTempDidChangeNotification();
    EXPECT_EQ(takeTargetWrites(), QStringList());
    controller().kelvaraTempDidChangeNotification();
    EXPECT_EQ(takeTargetWrites(), QStringList({"F0Tg"}));
    EXPECT_TRUE(settings.didAutoBoost());
    ASSERT_TRUE(waitUntil([&] { return announced == 1; }));

    // Still holding five ticks later: nothing written, nothing announced.
    for (int i = 0; i < 5; ++i)
        controller().kelvaraTempDidChangeNotification();
    drainMainQueue();
    EXPECT_EQ(takeTargetWrites(), QStringList());
    EXPECT_EQ(announced, 1);

    // The interval grows to 10 s with the count at 3: the next tick evaluates.
    for (int i = 0; i < 3; ++i)
        controller().kelvaraTempDidChangeNotification();
    settings.setUpdateFrequency(KLUpdateFrequencyLow);
    cpu->setValue(50);
    controller().kelvaraTempDidChangeNotification();
    EXPECT_EQ(takeTargetWrites(), QStringList({"F0Tg", "F1Tg"}));  // both back to the system
    EXPECT_FALSE(settings.didAutoBoost());
    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
}

TEST_F(InstalledToolTest, AHigherConditionTakesOverWithItsSetAtOnce)
{
    KLDataManager& settings = inMode(KLFanControlModeAutoBoost);
    temp("TC0P", 85);
    KLSensor* ambient = temp("TA0P", 50);
    condition("TC0P", 80, 0, {{"0", 4000}});
    condition("TA0P", 90, 0, {{"0", 5000}, {"1", 5000}});
    int announced = 0;
    NSDistributedNotificationCenter::defaultCenter().addObserver(
        this, KLFanControllerAutoBoostActiveNotification, [&](const NSNotification&) { ++announced; });
    controller().fireFanController();
    EXPECT_EQ(takeTargetWrites(), QStringList({"F0Tg"}));
    ambient->setValue(95);
    controller().fireFanController();
    EXPECT_EQ(takeTargetWrites(), QStringList({"F0Tg", "F1Tg"}));
    EXPECT_TRUE(waitUntil([&] { return announced == 2; }));
    EXPECT_TRUE(settings.didAutoBoost());
    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
}

// Any mode past 1 boosts when applied, but only mode 2 re-evaluates on ticks.
// Any stored mode but 0 and 1 is auto boost, when applied and on ticks alike:
// a boost it started is also ended.
TEST_F(InstalledToolTest, AnUnknownModeIsAutoBoostWhenAppliedAndOnTicks)
{
    KLDataManager& settings = inMode(3);
    KLSensor* cpu = temp("TC0P", 85);
    condition("TC0P", 80);
    controller().fireFanController();
    EXPECT_EQ(takeTargetWrites(), QStringList({"F0Tg"}));
    cpu->setValue(40);
    for (int i = 0; i < 5; ++i)
        controller().kelvaraTempDidChangeNotification();
    EXPECT_EQ(takeTargetWrites(), QStringList({"F0Tg", "F1Tg"}));  // both back to the system
    EXPECT_FALSE(settings.didAutoBoost());
}

// Other programs' saves are read again, and the rules are applied half a second later.
TEST_F(InstalledToolTest, AnUpdateNoticeAppliesTheRulesHalfASecondLater)
{
    KLDataManager& settings = inMode(KLFanControlModeAutoBoost);
    temp("TC0P", 85);
    condition("TC0P", 80);
    controller().fanControllerShouldUpdateNotification();
    // Queued work runs ahead of timers, however late the loop gets to both.
    std::optional<bool> queuedSees;
    dispatch_async(dispatch_get_main_queue(), [&] { queuedSees = settings.didAutoBoost(); });
    ASSERT_TRUE(waitUntil([&] { return queuedSees.has_value(); }, 30000));
    EXPECT_FALSE(*queuedSees);
    EXPECT_TRUE(waitUntil([&] { return settings.didAutoBoost(); }, 30000));
}

TEST_F(InstalledToolTest, TheAnnouncementSaysDashesForWhatIsMissing)
{
    KLDataManager::sharedInstance().setFanControlMode(KLFanControlModeAutoBoost);
    KLSensor* cpu = temp("TC0P", 85);
    cpu->setName(QString());
    KLFanCondition* hot = condition("TC0P", 80);
    hot->fanSet()->setName(QString());
    QVariantMap info;
    NSDistributedNotificationCenter::defaultCenter().addObserver(
        this, KLFanControllerAutoBoostActiveNotification, [&](const NSNotification& notice) { info = notice.userInfo; });
    controller().fireFanController();
    ASSERT_TRUE(waitUntil([&] { return !info.isEmpty(); }));
    EXPECT_EQ(info.value("sensorName").toString(), "--");
    EXPECT_EQ(info.value("fanSetName").toString(), "--");
    EXPECT_EQ(info.value("sensorValue").toString(), QStringLiteral("85°"));
    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
}

}  // namespace

// Anyone may flood the update notice; the tool runs once per fan and speed.
TEST_F(InstalledToolTest, ABurstOfUpdateNoticesRunsTheToolOncePerFanAndSpeed)
{
    KLDataManager& settings = inMode(KLFanControlModeFanSet);
    KLFanSet* set = KLFanSet::fanSetWithName("Loud", KLFanSpeeds{{"0", 5000}, {"1", 5000}});
    settings.setFanSetName("Loud");
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    drainMainQueue();
    // Three bursts, each applied once, all within the time a repeated write is merged.
    for (int burst = 0; burst < 3; ++burst) {
        for (int i = 0; i < 100; ++i)
            controller().fanControllerShouldUpdateNotification();
        waitForTheApplication();
    }
    EXPECT_EQ(takeTargetWrites(), QStringList({"F0Tg", "F1Tg"}));

    // A new speed is applied at once.
    set->setValue(NSKeyedArchiver::archivedDataWithRootObject(QVariant(KLFanSpeeds{{"0", 4000}, {"1", 5000}})));
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    drainMainQueue();
    controller().fanControllerShouldUpdateNotification();
    waitForTheApplication();
    EXPECT_EQ(takeTargetWrites(), QStringList({"F0Tg"}));
}

// A write that could not start is not taken for one: the same speed asked for
// again (the tool mended, another mode) reaches the fan.
TEST_F(InstalledToolTest, AFailedWriteIsNotMergedWithTheNextRequest)
{
    KLDataManager& settings = inMode(KLFanControlModeAutoBoost);
    temp("TC0P", 85);
    condition("TC0P", 80);  // the set "Set": fan 0 at 4000
    // Installed as before, but nothing the system can start.
    QFile tool(RZSMC::smcToolPath());
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly | QIODevice::Truncate));
    tool.write(QByteArray(64, '\x7f'));
    tool.close();
    ASSERT_EQ(::chmod(QFile::encodeName(tool.fileName()).constData(), 06555), 0);
    controller().fanControllerShouldUpdateNotification();
    ASSERT_TRUE(waitUntil([&] { return settings.didAutoBoost(); }, 30000));
    installRecordingTool();

    settings.setFanControlMode(KLFanControlModeFanSet);
    settings.setFanSetName("Set");
    controller().fanControllerShouldUpdateNotification();
    waitForTheApplication();
    EXPECT_EQ(takeTargetWrites(), QStringList({"F0Tg"}));
}
