#include <gtest/gtest.h>
#include <limits>

#include "KLCategory.h"
#include "KLDataManager.h"
#include "KLFanController.h"
#include "KLNotificationsManager.h"
#include "KLSensor.h"
#include "NSBundle.h"
#include "NSDistributedNotificationCenter.h"
#include "PrivateBus.h"
#include "QtApplication.h"
#include "TestHome.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// Keeps what the manager delivers and removes instead of showing it.
struct RecordingCenter : NSUserNotificationCenter {
    RecordingCenter()
        : NSUserNotificationCenter(QString())
    {
    }
    void deliverNotification(const NSUserNotification& notification) override { delivered.append(notification); }
    void removeDeliveredNotification(const NSUserNotification& notification) override { removed.append(notification); }
    QList<NSUserNotification> delivered, removed;
};

KLNotification rule(const QString& key, double threshold, bool repeat)
{
    KLNotification made;
    made.sensorKey = key;
    made.threshold = threshold;
    made.active = true;
    made.repeat = repeat;
    return made;
}

// Each test is its own process: the tick counter, settings and store are new in each.
class NotificationsManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testApplication();
        NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR "/Contents/Components/Kelvara Helper.app");
        settings().setCurrentLanguage("en");
        settings().setUpdateFrequency(KLUpdateFrequencyLow);
        manager = std::make_unique<KLNotificationsManager>(center, [this] { return ++launches > 0; });
    }
    void TearDown() override
    {
        manager.reset();
        NSBundle::setMainBundlePathForTesting({});
    }
    static KLDataManager& settings() { return KLDataManager::sharedInstance(); }
    static KLSensor* addSensor(const QString& key, const QString& name, double celsius)
    {
        KLCategory* category = KLCategory::categoryWithName("Temperature");
        category->setType(KLCategoryTypeTemperature);
        KLSensor* sensor = KLSensor::sensorWithKey(key);
        sensor->setName(name);
        sensor->setValue(celsius);
        sensor->setCategory(category);
        category->setSensors(category->sensors() << sensor);
        return sensor;
    }
    void tick(int count = 1)
    {
        for (int i = 0; i < count; ++i)
            manager->kelvaraTempDidChangeNotification({});
    }
    QList<bool> activeFlags()
    {
        QList<bool> flags;
        for (const KLNotification& stored : settings().overheatNotifications().value_or(QList<KLNotification>()))
            flags << stored.active.value_or(false);
        return flags;
    }
    QStringList texts() const
    {
        QStringList all;
        for (const NSUserNotification& notice : center.delivered)
            all << notice.informativeText;
        return all;
    }

    PrivateBus bus;
    TestHome home;
    RecordingCenter center;
    int launches = 0;
    std::unique_ptr<KLNotificationsManager> manager;
};

TEST_F(NotificationsManagerTest, ChecksFollowTheIntervalInForceAtEachTick)
{
    addSensor("TC0P", "CPU Proximity", 75);
    settings().setOverheatNotifications({rule("TC0P", 70, true)});
    settings().setUpdateFrequency(KLUpdateFrequencyHigh);  // 2 s: every fifth tick
    tick(4);
    EXPECT_TRUE(center.delivered.isEmpty());
    tick();
    ASSERT_EQ(center.delivered.size(), 1);
    // Three ticks into the next span the interval becomes 10 s: past the new target, so every tick checks.
    tick(3);
    settings().setUpdateFrequency(KLUpdateFrequencyLow);
    tick(2);
    EXPECT_EQ(center.delivered.size(), 3);
    settings().setUpdateFrequency(KLUpdateFrequencyMedium);  // 5 s: every second tick
    tick(3);
    EXPECT_EQ(center.delivered.size(), 4);
    // The poll loop's own tick counts; the same notice over the bus, even a program's own, does not.
    for (int i = 0; i < 4; ++i)
        NSDistributedNotificationCenter::defaultCenter().postNotificationName(KLKelvaraTempDidChangeNotification);
    drainMainQueue();
    EXPECT_EQ(center.delivered.size(), 4);
    NSNotificationCenter::defaultCenter().postNotificationName(KLKelvaraTempDidChangeNotification);
    EXPECT_EQ(center.delivered.size(), 5);

    const NSUserNotification& notice = center.delivered.first();
    EXPECT_EQ(notice.title, "Overheat Warning");
    EXPECT_EQ(notice.informativeText, "CPU Proximity has reached 75°.");
    EXPECT_EQ(notice.soundName, NSUserNotificationDefaultSoundName);
    EXPECT_TRUE(notice.hasActionButton);
    EXPECT_EQ(notice.actionButtonTitle, "Turn Off");
    EXPECT_EQ(notice.userInfo, QVariantMap({{"sensorKey", "TC0P"}}));
}

TEST_F(NotificationsManagerTest, RulesFireForTheFirstHotSensorInTheChosenUnitAndOnceUnlessTheyRepeat)
{
    addSensor("TA0P", "Ambient", NaN);
    addSensor("TC0P", "CPU Proximity", 69.8);  // 157.64 °F
    addSensor("TC0D", "CPU Die", 85);
    addSensor("TG0D", "GPU Die", 95);
    settings().setTempUnitCelsius(false);
    // A later rule on the same sensor, not reached: the switch-off is the first one's.
    settings().setOverheatNotifications({rule("any-sensor", 176, true), rule("TC0P", 158, false), rule("TG0D", NaN, true),
                                         rule("TC0P", 200, true)});
    int listChanges = 0;
    NSDistributedNotificationCenter::defaultCenter().addObserver(
        this, KLDataManagerOverheatListDidChangeNotification, [&](const NSNotification&) { ++listChanges; });
    drainMainQueue();
    listChanges = 0;

    tick();
    EXPECT_EQ(texts(), QStringList({"CPU Die has reached 185°.", "CPU Proximity has reached 158°."}));
    EXPECT_EQ(center.delivered.first().userInfo.value("sensorKey").toString(), "any-sensor");
    EXPECT_FALSE(center.delivered.last().hasActionButton);
    EXPECT_EQ(activeFlags(), QList<bool>({true, false, true, true}));
    EXPECT_EQ(settings().overheatNotifications().value_or(QList<KLNotification>()).value(3).threshold.value_or(0), 200);
    drainMainQueue();
    EXPECT_EQ(listChanges, 1);
    tick();
    EXPECT_EQ(center.delivered.size(), 3);
    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
}

// A long list is decoded once, and the rules that fired once are switched off in one write.
TEST_F(NotificationsManagerTest, ALongListIsReadOnceAndTheRulesThatFiredAreSwitchedOffInOneWrite)
{
    QList<KLNotification> rules;
    QList<bool> expected;
    for (int i = 0; i < 300; ++i) {
        const QString key = QStringLiteral("T%1").arg(i, 3, 10, QLatin1Char('0'));
        addSensor(key, key, 80);
        rules << rule(key, i % 3 ? 90 : 70, false);  // every third one fires
        expected << (i % 3 != 0);
    }
    settings().setOverheatNotifications(rules);
    int listChanges = 0;
    NSDistributedNotificationCenter::defaultCenter().addObserver(
        this, KLDataManagerOverheatListDidChangeNotification, [&](const NSNotification&) { ++listChanges; });
    drainMainQueue();
    listChanges = 0;

    const int decodes = KLDataManager::overheatListDecodesForTesting();
    manager->checkForFireOverheatNotification();
    // Decoded for the check; the read before the write finds the same bytes.
    EXPECT_EQ(KLDataManager::overheatListDecodesForTesting() - decodes, 1);
    drainMainQueue();
    EXPECT_EQ(listChanges, 1);
    EXPECT_EQ(center.delivered.size(), 100);
    EXPECT_EQ(activeFlags(), expected);
    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
}

TEST_F(NotificationsManagerTest, TheButtonSwitchesOffTheRulesOfItsKeyWhileABodyClickOpensKelvara)
{
    EXPECT_EQ(center.delegate(), manager.get());  // from the start, not from the first delivery
    addSensor("TC0P", "CPU Proximity", 75);
    addSensor("TC0D", "CPU Die", 75);
    settings().setOverheatNotifications({rule("TC0P", 70, true), rule("any-sensor", 70, true), rule("TC0D", 70, true)});
    tick();
    ASSERT_EQ(center.delivered.size(), 3);
    NSUserNotification clicked = center.delivered.at(1);
    clicked.activationType = NSUserNotificationActivationTypeContentsClicked;
    manager->didActivateNotification(center, clicked);
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(activeFlags(), QList<bool>({true, true, true}));
    clicked.activationType = NSUserNotificationActivationTypeActionButtonClicked;
    manager->didActivateNotification(center, clicked);
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(activeFlags(), QList<bool>({true, false, true}));
    ASSERT_EQ(center.removed.size(), 2);
    EXPECT_EQ(center.removed.last().userInfo.value("sensorKey").toString(), "any-sensor");
}

TEST_F(NotificationsManagerTest, AutoBoostIsToldOnlyWhenTheUserWantsIt)
{
    const QMap<QString, QString> info{{"sensorName", "CPU Die"}, {"sensorValue", "95°"}, {"fanSetName", "Max"}};
    auto& distributed = NSDistributedNotificationCenter::defaultCenter();
    distributed.postNotificationName(KLFanControllerAutoBoostActiveNotification, {}, info);
    drainMainQueue();
    EXPECT_TRUE(center.delivered.isEmpty());
    settings().setAutoBoostNotificationEnabled(true);
    distributed.postNotificationName(KLFanControllerAutoBoostActiveNotification, {}, info);
    drainMainQueue();
    ASSERT_EQ(center.delivered.size(), 1);
    const NSUserNotification& notice = center.delivered.first();
    EXPECT_EQ(notice.title, "Auto Boost Activated");
    EXPECT_EQ(notice.informativeText, "CPU Die reached 95°. The fan set “Max” is now active.");
    EXPECT_TRUE(notice.soundName.isNull() && !notice.hasActionButton && notice.userInfo.isEmpty());
}

TEST(NotificationFormatTest, PlaceholdersAreFilledInTurnOrByPositionButNeverFromArguments)
{
    const auto format = &KLNotificationsManager::stringWithFormat;
    EXPECT_EQ(format("%@ has reached %@.", {"Fan %@ 100%", "80°"}), "Fan %@ 100% has reached 80°.");
    EXPECT_EQ(format("%2$@ – %1$@, 100%%", {"a", "b"}), "b – a, 100%");
    EXPECT_EQ(format("%@ %@ %d", {"a"}), "a  %d");
}

}  // namespace
