#include <QFile>
#include <QLocale>
#include <algorithm>
#include <sys/stat.h>
#include <gtest/gtest.h>

#include "KLCategory.h"
#include "KLCoreDataHelper.h"
#include "KLDataManager.h"
#include "KLFanCondition.h"
#include "KLFanSet.h"
#include "KLNotification.h"
#include "KLSensor.h"
#include "NSBundle.h"
#include "NSDistributedNotificationCenter.h"
#include "PrivateBus.h"
#include "QtApplication.h"
#include "TestHome.h"

namespace {

// Each test is its own process: the shared manager and store are new for each.
class SettingsTest : public ::testing::Test {
protected:
    PrivateBus bus;
    void SetUp() override
    {
        testApplication();
        // The helper's bundle: its settings store builds no catalogue, so each test makes its own.
        NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR "/Contents/Components/Kelvara Helper.app");
        for (const char* notice : {KLDataManagerOverheatListDidChangeNotification, KLDataManagerLanguageDidChangeNotification,
                                   KLDataManagerSettingsDidChangeNotification, KLDataManagerMenuSensorsDidChangeNotification}) {
            NSDistributedNotificationCenter::defaultCenter().addObserver(
                this, notice, [this](const NSNotification& n) { heard << n.name; });
        }
    }
    void TearDown() override
    {
        NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
        NSBundle::setMainBundlePathForTesting({});
    }
    KLDataManager& settings() { return KLDataManager::sharedInstance(); }
    NSUserDefaults& suite() { return settings().userDefaults(); }
    KLSensor* addSensor(const QString& categoryName, int type, const QString& key, const QString& name = {})
    {
        KLCategory* category = KLCategory::categoryWithName(categoryName);
        category->setType(type);
        KLSensor* sensor = KLSensor::sensorWithKey(key);
        sensor->setName(name.isEmpty() ? key : name);
        QList<KLSensor*> sensors = category->sensors();
        sensors.append(sensor);
        category->setSensors(sensors);
        return sensor;
    }
    QStringList heard;
    TestHome home;
};

TEST_F(SettingsTest, AFreshSuiteReadsItsDefaultsAndStoresOnlySome)
{
    EXPECT_TRUE(settings().tempUnitCelsius());
    EXPECT_TRUE(settings().showTempInMenu());
    EXPECT_TRUE(settings().showIconInMenu());
    EXPECT_TRUE(settings().openAtLogin());
    EXPECT_TRUE(settings().autoCheckUpdate());
    for (const char* key : {KLTempUnitCelsiusKey, KLShowTempInMenuKey, KLShowIconInMenuKey, KLOpenAtLoginKey, KLAutoCheckUpdateKey})
        EXPECT_TRUE(suite().objectForKey(key).isValid()) << key;

    EXPECT_FALSE(settings().menuSensors().has_value());  // no main sensor yet
    addSensor("Temperature", 0, "TC0P", "CPU Proximity");
    EXPECT_EQ(settings().menuSensors(), std::optional<QStringList>(QStringList{"TC0P"}));
    EXPECT_FALSE(suite().objectForKey(KLMenuSensorsKey).isValid());

    EXPECT_FALSE(settings().manualLinkEnabled());
    EXPECT_EQ(settings().fanControlMode(), 0u);
    suite().setInteger(7, KLFanControllerModeKey);  // what the fan controller drives as auto boost
    EXPECT_EQ(settings().fanControlMode(), 2u);
    suite().setInteger(1, KLFanControllerModeKey);
    EXPECT_EQ(settings().fanControlMode(), 1u);
    EXPECT_TRUE(settings().fanSetName().isNull());
    EXPECT_EQ(settings().fileLoggingPath(), home.path() + "/Documents/Kelvara Log.csv");
    EXPECT_EQ(settings().updateInterval(), 2.0);
    settings().setUpdateFrequency(1);
    EXPECT_EQ(settings().updateInterval(), 5.0);
    settings().setUpdateFrequency(2);
    EXPECT_EQ(settings().updateInterval(), 10.0);
    settings().setUpdateFrequency(5);
    EXPECT_EQ(settings().updateInterval(), 2.0);

    settings().setTempUnitCelsius(false);
    EXPECT_FALSE(settings().tempUnitCelsius());
    EXPECT_DOUBLE_EQ(KLSensor::convertedTemp(70), 158);
    drainMainQueue();
    EXPECT_EQ(heard, QStringList({KLDataManagerSettingsDidChangeNotification}));
}

// A default read is no change: a suite that cannot be written (a pipe in the
// file's place) is not written again on every read, and what failed is said once.
TEST_F(SettingsTest, DefaultsAreNotRewrittenOnEveryReadOfASuiteThatCannotBeSaved)
{
    ASSERT_EQ(::mkfifo(QFile::encodeName(suite().path()).constData(), 0600), 0);
    testing::internal::CaptureStderr();
    for (int i = 0; i < 50; ++i) {
        EXPECT_TRUE(settings().tempUnitCelsius());
        EXPECT_TRUE(settings().showTempInMenu());
        EXPECT_TRUE(settings().showIconInMenu());
        EXPECT_TRUE(settings().openAtLogin());
        EXPECT_TRUE(settings().autoCheckUpdate());
        EXPECT_FALSE(settings().currentLanguage().isEmpty());
    }
    const std::string said = testing::internal::GetCapturedStderr();
    // The unreadable file once, and the failed save once.
    EXPECT_LE(std::count(said.begin(), said.end(), '\n'), 2) << said;
}

TEST_F(SettingsTest, LoggedSensorsDefaultToTheWholeCatalogue)
{
    EXPECT_TRUE(settings().fileLoggingSensorKeys().isEmpty());
    EXPECT_FALSE(suite().objectForKey(KLFileLoggingSensorsKey).isValid());

    addSensor("Fan", 1, "0");
    addSensor("Temperature", 0, "TC0P");
    addSensor("Temperature", 0, "TG0P");
    const QStringList expected{"TC0P", "TG0P", "0"};
    EXPECT_EQ(settings().fileLoggingSensorKeys(), expected);
    EXPECT_EQ(suite().objectForKey(KLFileLoggingSensorsKey).toStringList(), expected);
    EXPECT_EQ(settings().fileLoggingSensorKeys(), expected);
}

TEST_F(SettingsTest, DropdownLayoutIsCompletedWithMissingCategories)
{
    int type = 0;
    for (const char* name : {"Temperature", "Fan", "Voltage", "Current", "Power"})
        KLCategory::categoryWithName(name)->setType(type++);
    suite().setObject(QVariantList{QVariantMap{{"fan_control", false}}, QVariantMap{{"main_sensor", true}},
                                   QVariantMap{{"Temperature", true}}},
                      KLDropdownItemsKey);
    const QVariantList items = settings().dropdownItems();
    QStringList names;
    for (const QVariant& item : items)
        names << item.toMap().firstKey();
    EXPECT_EQ(names, QStringList({"fan_control", "main_sensor", "Temperature", "Fan", "Voltage", "Current", "Power"}));
    EXPECT_FALSE(items.first().toMap().first().toBool());
    EXPECT_TRUE(items.last().toMap().first().toBool());
    EXPECT_EQ(suite().objectForKey(KLDropdownItemsKey).toList().size(), 3);  // reading stores nothing
}

// However long the stored lists, only entries of the catalogue are read, each
// once: the work follows the catalogue, not the file, which is left as it is.
TEST_F(SettingsTest, LongListsReadOnlyTheCatalogueEntriesEachOnce)
{
    addSensor("Temperature", 0, "TC0P");
    addSensor("Temperature", 0, "TA0P");
    addSensor("Fan", 1, "0");
    QVariantList keys;
    for (int i = 0; i < 20000; ++i)
        keys << (i % 4 == 0 ? QVariant("TA0P") : i % 4 == 1 ? QVariant(QStringLiteral("X%1").arg(i)) : i % 4 == 2 ? QVariant(i) : QVariant("0"));
    keys << "TC0P";
    suite().setObject(keys, KLMenuSensorsKey);
    suite().setObject(keys, KLFileLoggingSensorsKey);
    // The menu keeps keys without a sensor (they show "--"), but only a few, and
    // they never take the place of a sensor stored after them.
    EXPECT_EQ(settings().menuSensors(), std::optional<QStringList>(QStringList(
                                            {"TA0P", "X1", "0", "X5", "X9", "X13", "X17", "X21", "X25", "X29", "TC0P"})));
    EXPECT_EQ(settings().fileLoggingSensorKeys(), QStringList({"TA0P", "0", "TC0P"}));
    EXPECT_EQ(suite().objectForKey(KLMenuSensorsKey).toList().size(), 20001);
    addSensor("Temperature", 0, "X1");  // the same list read against a grown catalogue
    EXPECT_EQ(settings().fileLoggingSensorKeys(), QStringList({"TA0P", "X1", "0", "TC0P"}));

    QVariantList layout{QVariantMap{{"fan_control", true}}, QVariantMap{{"main_sensor", false}}};
    for (int i = 0; i < 50000; ++i)
        layout << (i % 2 ? QVariantMap{{"Fan", false}} : QVariantMap{{QStringLiteral("Gone %1").arg(i), true}});
    layout << QVariantMap{{"Temperature", false}};
    suite().setObject(layout, KLDropdownItemsKey);
    const QVariantList items = settings().dropdownItems();
    EXPECT_EQ(items, (QVariantList{QVariantMap{{"fan_control", true}}, QVariantMap{{"main_sensor", false}},
                                   QVariantMap{{"Fan", false}}, QVariantMap{{"Temperature", false}}}));
    EXPECT_EQ(suite().objectForKey(KLDropdownItemsKey).toList().size(), 50003);
    KLCategory::categoryWithName("Gone 0")->setType(9);
    EXPECT_EQ(settings().dropdownItems().value(2), QVariant(QVariantMap{{"Gone 0", true}}));
}

// However small the catalogue, keys that name no sensor count on their own.
TEST_F(SettingsTest, UnknownKeysNeverPushOutRealSensors)
{
    addSensor("Temperature", 0, "TC0P");
    addSensor("Temperature", 0, "TA0P");
    QVariantList keys;
    QStringList unknown;
    for (int i = 0; i < 12; ++i)
        keys << QStringLiteral("X%1").arg(i);
    keys << "TA0P" << "X0" << "TC0P";
    for (int i = 0; i < 8; ++i)
        unknown << QStringLiteral("X%1").arg(i);
    suite().setObject(keys, KLMenuSensorsKey);
    suite().setObject(keys, KLFileLoggingSensorsKey);
    EXPECT_EQ(settings().menuSensors(), std::optional<QStringList>(unknown + QStringList{"TA0P", "TC0P"}));
    EXPECT_EQ(settings().fileLoggingSensorKeys(), QStringList({"TA0P", "TC0P"}));
    EXPECT_EQ(settings().fileLoggingSensorKeysToKeep(), unknown + QStringList({"TA0P", "TC0P"}));
}

TEST_F(SettingsTest, LanguageComesFromThePreferredLocalizationOnce)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(settings().currentLanguage(), "de");
    EXPECT_EQ(suite().stringForKey(KLCurrentLanguageKey), "de");
    settings().setCurrentLanguage("de");
    drainMainQueue();
    EXPECT_TRUE(heard.isEmpty());
    settings().setCurrentLanguage("vi");
    drainMainQueue();
    EXPECT_EQ(heard, QStringList({KLDataManagerLanguageDidChangeNotification}));
    EXPECT_EQ(settings().currentLanguage(), "vi");
}

TEST_F(SettingsTest, AnUnsupportedSystemLanguageGivesEnglish)
{
    QLocale::setDefault(QLocale(QLocale::Japanese, QLocale::Japan));
    EXPECT_EQ(settings().currentLanguage(), "en");
    EXPECT_EQ(suite().stringForKey(KLCurrentLanguageKey), "en");
}

TEST_F(SettingsTest, GraphAxesCoverTheirRange)
{
    const QDateTime now = QDateTime::fromSecsSinceEpoch(1800000000);
    const RZAxisValues day = KLDataManager::xAxisWithCurrentDate(now, 1);
    ASSERT_EQ(day.size(), 7);
    EXPECT_DOUBLE_EQ(day.first().value, 1800000000 - 86400);
    EXPECT_DOUBLE_EQ(day.last().value, 1800000000);
    for (int i = 1; i < day.size(); ++i)
        EXPECT_DOUBLE_EQ(day[i].value - day[i - 1].value, 14400);
    EXPECT_EQ(day.last().label, now.toLocalTime().toString("HH:mm"));

    const RZAxisValues week = KLDataManager::xAxisWithCurrentDate(now, 2);
    ASSERT_EQ(week.size(), 8);
    EXPECT_DOUBLE_EQ(week[1].value - week[0].value, 86400);
    EXPECT_EQ(week.last().label, now.toLocalTime().toString("M/dd"));
    EXPECT_EQ(KLDataManager::xAxisWithCurrentDate(now, 0).size(), 7);
}

TEST_F(SettingsTest, TheDefaultRuleIsMadeOnceOnTheFirstLaunches)
{
    settings().setAppLaunchCount(1);
    // Without the main sensor nothing is stored, so the default can still come later.
    EXPECT_EQ(settings().overheatNotifications(), std::optional<QList<KLNotification>>(QList<KLNotification>()));
    EXPECT_FALSE(suite().objectForKey(KLOverheatNotificationsKey).isValid());

    addSensor("Temperature", 0, "TC0P", "CPU Proximity");
    const auto rules = settings().overheatNotifications();
    ASSERT_TRUE(rules.has_value());
    ASSERT_EQ(rules->size(), 1);
    EXPECT_EQ(rules->first().sensorKey, "TC0P");
    EXPECT_EQ(rules->first().sensorName, "CPU Proximity");
    EXPECT_EQ(rules->first().threshold, 70.0);
    EXPECT_EQ(rules->first().active, true);
    EXPECT_EQ(rules->first().repeat, true);
    drainMainQueue();
    EXPECT_EQ(heard, QStringList({KLDataManagerOverheatListDidChangeNotification}));

    heard.clear();
    EXPECT_EQ(settings().overheatNotifications()->size(), 1);
    drainMainQueue();
    EXPECT_TRUE(heard.isEmpty());
}

TEST_F(SettingsTest, LaterLaunchesMakeNoDefaultRule)
{
    addSensor("Temperature", 0, "TC0P");
    settings().setAppLaunchCount(5);
    EXPECT_FALSE(settings().overheatNotifications().has_value());
    EXPECT_FALSE(suite().objectForKey(KLOverheatNotificationsKey).isValid());
}

TEST_F(SettingsTest, RulesOfVanishedSensorsAreLeftOut)
{
    addSensor("Temperature", 0, "TC0P");
    KLNotification any;
    any.sensorKey = "any-sensor";
    any.threshold = 80;
    KLNotification gone;
    gone.sensorKey = "TZ9Z";
    KLNotification cpu;
    cpu.sensorKey = "TC0P";
    settings().setOverheatNotifications({any, gone, cpu});
    const auto rules = settings().overheatNotifications();
    ASSERT_TRUE(rules.has_value());
    ASSERT_EQ(rules->size(), 2);
    EXPECT_EQ(rules->at(0).sensorKey, "any-sensor");
    EXPECT_EQ(rules->at(1).sensorKey, "TC0P");
    // Not written back: the stored list still has all three.
    EXPECT_EQ(KLNotification::unarchive(suite().dataForKey(KLOverheatNotificationsKey)).size(), 3);
    // The sensor comes back: its rule is read again from the same stored list.
    addSensor("Temperature", 0, "TZ9Z");
    EXPECT_EQ(settings().overheatNotifications()->size(), 3);
}

// Thresholds are numbers in the unit in force: a change of unit converts every
// stored one once, rules of sensors gone from the store included, so each
// keeps the temperature it meant.
TEST_F(SettingsTest, ThresholdsKeepTheirTemperatureWhenTheUnitChanges)
{
    KLSensor* cpu = addSensor("Temperature", 0, "TC0P");
    const auto rule = [](const QString& key, std::optional<double> threshold) {
        KLNotification made;
        made.sensorKey = key;
        made.threshold = threshold;
        made.active = true;
        return made;
    };
    settings().setOverheatNotifications({rule("TC0P", 70), rule("any-sensor", 80), rule("TZ9Z", 71), rule("TG0D", std::nullopt)});
    NSManagedObjectContext* store = KLCoreDataHelper::sharedInstance().masterContext();
    KLFanSet* loud = KLFanSet::fanSetWithName("Loud", KLFanSpeeds{{"0", 6000}});
    KLFanCondition* hot = KLFanCondition::fanConditionWithFanSet(loud, cpu, 85, 0, store);
    KLFanCondition* warm = KLFanCondition::fanConditionWithFanSet(loud, cpu, 60.4, 0, store);
    KLCoreDataHelper::sharedInstance().saveMasterContext();
    drainMainQueue();
    const auto storedThresholds = [this] {
        QList<std::optional<double>> thresholds;
        for (const KLNotification& stored : KLNotification::unarchive(suite().dataForKey(KLOverheatNotificationsKey)))
            thresholds << stored.threshold;
        return thresholds;
    };
    const auto savedThresholds = [&] {
        store->refreshAllObjects();  // what the store holds, not what this context kept
        return QList<double>{hot->threshold(), warm->threshold()};
    };
    heard.clear();

    settings().setTempUnitCelsius(false);
    drainMainQueue();
    EXPECT_EQ(storedThresholds(), (QList<std::optional<double>>{158, 176, 160, std::nullopt}));
    EXPECT_FALSE(store->hasChanges());
    EXPECT_EQ(savedThresholds(), (QList<double>{185, 141}));
    EXPECT_EQ(heard.count(KLDataManagerOverheatListDidChangeNotification), 1);
    const auto read = settings().overheatNotifications();
    ASSERT_TRUE(read.has_value());
    EXPECT_EQ(read->first().active, true);

    // The same unit again changes nothing; back to Celsius gives what was entered.
    settings().setTempUnitCelsius(false);
    drainMainQueue();
    EXPECT_EQ(storedThresholds(), (QList<std::optional<double>>{158, 176, 160, std::nullopt}));
    EXPECT_EQ(heard.count(KLDataManagerOverheatListDidChangeNotification), 1);
    settings().setTempUnitCelsius(true);
    drainMainQueue();
    EXPECT_EQ(storedThresholds(), (QList<std::optional<double>>{70, 80, 71, std::nullopt}));
    EXPECT_EQ(savedThresholds(), (QList<double>{85, 61}));
    EXPECT_EQ(KLNotification::unarchive(suite().dataForKey(KLOverheatNotificationsKey)).at(2).sensorKey, "TZ9Z");
}

TEST_F(SettingsTest, AnUndecodableRuleListIsReportedOncePerFailingStreak)
{
    addSensor("Temperature", 0, "TC0P");
    KLNotification cpu;
    cpu.sensorKey = "TC0P";
    const auto readThrice = [this] {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(settings().overheatNotifications(), std::optional<QList<KLNotification>>(QList<KLNotification>()));
    };
    testing::internal::CaptureStderr();
    suite().setObject(QByteArray("bplist00 not an archive"), KLOverheatNotificationsKey);
    readThrice();
    suite().setObject(QString("a text"), KLOverheatNotificationsKey);
    readThrice();
    settings().setOverheatNotifications({cpu});
    EXPECT_EQ(settings().overheatNotifications()->size(), 1);
    suite().setObject(KLNotification::archive({cpu}).left(40), KLOverheatNotificationsKey);
    readThrice();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 2) << said;
}

TEST_F(SettingsTest, ALogPathThatIsNotTextGivesTheDefaultPath)
{
    const QString fallback = home.path() + "/Documents/Kelvara Log.csv";
    suite().setInteger(42, KLFileLoggingPathKey);
    EXPECT_EQ(settings().fileLoggingPath(), fallback);
    suite().setObject(QByteArray("/tmp/log.csv"), KLFileLoggingPathKey);
    EXPECT_EQ(settings().fileLoggingPath(), fallback);
    settings().setFileLoggingPath("/var/log/kelvara.csv");
    EXPECT_EQ(settings().fileLoggingPath(), "/var/log/kelvara.csv");
}

TEST(OverheatRuleTest, ArchiveNamesTheClassAndDecodesLooseTypes)
{
    KLNotification rule;
    rule.sensorKey = "TC0P";
    rule.sensorName = "CPU Proximity";
    rule.threshold = 72.5;
    rule.active = true;  // repeat left null

    const QByteArray data = KLNotification::archive({rule});
    EXPECT_TRUE(data.contains("KLNotification"));
    const QList<KLNotification> back = KLNotification::unarchive(data);
    ASSERT_EQ(back.size(), 1);
    EXPECT_EQ(back.first().sensorName, "CPU Proximity");
    EXPECT_EQ(back.first().threshold, 72.5);
    EXPECT_EQ(back.first().active, true);
    EXPECT_FALSE(back.first().repeat.has_value());

    // Stored by another writer: threshold as an integer, flags as numbers, a text where a number belongs.
    KeyedObject loose{"KLNotification", {{"sensorKey", "TG0P"}, {"threshold", 90}, {"repeat", 1}, {"active", "yes"}}};
    const QList<KLNotification> decoded = KLNotification::unarchive(
        NSKeyedArchiver::archivedDataWithRootObject(QVariantList{QVariant::fromValue(loose)}));
    ASSERT_EQ(decoded.size(), 1);
    EXPECT_EQ(decoded.first().threshold, 90.0);
    EXPECT_EQ(decoded.first().repeat, true);
    EXPECT_FALSE(decoded.first().active.has_value());
    EXPECT_TRUE(KLNotification::unarchive("garbage").isEmpty());

    KLNotification other = rule;
    other.threshold = 10;
    EXPECT_TRUE(other == rule);
    KLNotification copy = rule.copy();
    EXPECT_TRUE(copy == rule);
    copy.threshold = 99;
    EXPECT_EQ(rule.threshold, 72.5);
}

}  // namespace
