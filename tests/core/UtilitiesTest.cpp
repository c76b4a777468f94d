#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

#include "BoundedRole.h"
#include "KLAnalyticsHelper.h"
#include "KLDataManager.h"
#include "MSAppCenter.h"
#include "NSBundle.h"
#include "NSDate+KLExtension.h"
#include "NSString+KLExtension.h"
#include "QtApplication.h"
#include "TestHome.h"

namespace {

using namespace KLExtension;

// With KELVARA_TEST_ANALYTICS set, this binary starts the analytics as a
// program does, logs one event and exits before any test.
class AnalyticsRole : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("KELVARA_TEST_ANALYTICS"))
            return;
        testApplication();
        MSAppCenter::start(QStringLiteral("secret"), {QStringLiteral("Analytics")});
        MSAnalytics::trackEvent(qEnvironmentVariable("KELVARA_TEST_ANALYTICS"));
        exitWithPeak();
    }
};

[[maybe_unused]] auto* const g_analyticsRole = ::testing::AddGlobalTestEnvironment(new AnalyticsRole);

class LocalizationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testApplication();
        NSBundle::setMainBundlePathForTesting(KELVARA_APP_DIR);
    }
    void TearDown() override { NSBundle::setMainBundlePathForTesting({}); }
    TestHome home;
};

TEST_F(LocalizationTest, EveryLanguageHasItsOwnTextsAndNoFallback)
{
    const QString key = "fan-control-authorization-failed-alert-title";
    QStringList texts;
    for (const char* language : {"en", "fr", "de", "es", "vi"}) {
        const QString text = localizedStringForKey(key, language);
        EXPECT_FALSE(text.isEmpty()) << language;
        EXPECT_NE(text, key) << language;
        texts << text;
    }
    texts.removeDuplicates();
    EXPECT_EQ(texts.size(), 5);
    EXPECT_EQ(localizedStringForKey("no-such-key", "fr"), "no-such-key");
    EXPECT_TRUE(localizedStringForKey(key, "ja").isNull());
    EXPECT_TRUE(localizedStringForKey(key, "../en").isNull());

    KLDataManager::sharedInstance().setCurrentLanguage("de");
    EXPECT_EQ(localizedStringForKey(key), localizedStringForKey(key, "de"));
    // A language without its folder still gives a usable text: the key.
    KLDataManager::sharedInstance().setCurrentLanguage("ja");
    EXPECT_EQ(localizedStringForKey(key), key);
    // An empty choice leaves it to the bundle's own preference.
    KLDataManager::sharedInstance().setCurrentLanguage("");
    EXPECT_FALSE(localizedStringForKey(key).isEmpty());
}

TEST_F(LocalizationTest, TablesKeepTheirPlaceholders)
{
    const QString key = "overheat-notification-informative-text";
    for (const char* language : {"en", "fr", "de", "es", "vi"})
        EXPECT_EQ(localizedStringForKey(key, language).count("%@"), 2) << language;
}

TEST(TextTest, CSVCellsAndVersions)
{
    EXPECT_EQ(formattedForCSVContent("a,b,c"), "a;b;c");
    EXPECT_EQ(ld_compareToVersion("1.2", "1.2.0"), NSOrderedSame);
    EXPECT_EQ(ld_compareToVersion("1.10", "1.9"), NSOrderedDescending);
    EXPECT_EQ(ld_compareToVersion("2", "10"), NSOrderedAscending);
    EXPECT_EQ(ld_compareToVersion("1.0b2", "1.0b10"), NSOrderedAscending);
    EXPECT_TRUE(ld_version_isLessThanOrEqualTo("1.2", "1.2.0"));
    EXPECT_TRUE(ld_version_isGreaterThan("10.0", "9.9.9"));
    EXPECT_FALSE(ld_version_isLessThan("1.2", "1.2"));
}

TEST(DateTextTest, FixedFormatsInTheLocalZone)
{
    const QDateTime date(QDate(2024, 3, 2), QTime(9, 5, 7), Qt::LocalTime);
    EXPECT_EQ(timeOnlyFormat(date), "09:05:07");
    EXPECT_EQ(dateOnlyFormat(date), "2024-03-02");
    EXPECT_EQ(dateTimeFormat(date), "2024-03-02 09:05:07");
    EXPECT_EQ(shortDateOnlyFormat(date), "3/02");
    EXPECT_EQ(shortTimeOnlyFormat(date), "09:05");
    EXPECT_EQ(dateTimeFormatForGraph(date), "3/02/2024\n09:05:07");
    EXPECT_EQ(timeOnlyFormat(QDateTime()), "");
}

TEST(AnalyticsTest, EventsGoToTheLocalLogOnceStarted)
{
    const TestHome home;
    testApplication();
    QLocale::setDefault(QLocale(QLocale::French, QLocale::Canada));
    KLAnalyticsHelper::logEvent(KLEventMenuOpenPopup);  // not started yet: dropped
    KLAnalyticsHelper::sharedInstance().initializeTracking();
    EXPECT_EQ(MSAppCenter::countryCode(), "CA");
    KLAnalyticsHelper::logEvent(KLEventMenuOpenPopup);
    KLAnalyticsHelper::logEvent(KLEventFanControlChangeSpeed, {{"value", 2400}, {"fan", "0"}});

    QFile log(MSAppCenter::eventLogPath());
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    QList<QJsonObject> events;
    for (const QByteArray& line : log.readAll().split('\n')) {
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        if (entry.contains("event"))
            events << entry;
    }
    ASSERT_EQ(events.size(), 2);
    EXPECT_EQ(events[0].value("event").toString(), "Menu Open Popup");
    EXPECT_FALSE(events[0].contains("properties"));
    EXPECT_EQ(events[1].value("properties").toObject().value("value").toInt(), 2400);
    EXPECT_EQ(events[1].value("country").toString(), "CA");
}

// The log is appended to by a program in a child with a time limit: one that
// waited on the pipe, wrote through the link or added to the huge file fails it.
TEST(AnalyticsTest, WhatIsNoLogIsSetAsideOnceAndANewOneBegun)
{
    const TestHome home;
    const std::string path = QFile::encodeName(MSAppCenter::eventLogPath()).toStdString();
    for (const char* shape : kHostileShapes) {
        SCOPED_TRACE(shape);
        expectSetAsideOnce(path, shape, "KELVARA_TEST_ANALYTICS", "Probe");
        if (testing::Test::HasFatalFailure())
            return;
        ASSERT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path)));
        QFile log(QString::fromStdString(path));
        ASSERT_TRUE(log.open(QIODevice::ReadOnly));
        const QByteArray lines = log.readAll();
        EXPECT_EQ(lines.count('\n'), 2);  // the start and the event
        EXPECT_TRUE(lines.contains("\"Probe\"")) << lines.toStdString();
    }
}

}  // namespace
