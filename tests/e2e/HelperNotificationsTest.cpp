#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

#include "FakeNotificationServer.h"
#include "HelperProcess.h"
#include "KLSensor.h"

namespace {

KLNotification hotRule(const char* key, bool repeat)
{
    KLNotification rule;
    rule.sensorKey = key;
    rule.threshold = 70;
    rule.active = true;
    rule.repeat = repeat;
    return rule;
}

// At 10 s between ticks every tick checks the rules, and a frequency change
// restarts the loop with a tick at once. The button is clicked after the
// helper that showed the notice has been restarted.
TEST(HelperNotificationsTest, RulesAreToldAtEachCheckWhileTheyRepeatAndTheButtonOfAnEarlierRunSwitchesOff)
{
    HelperProcess helper;  // first: its bus is the one the server joins
    FakeNotificationServer server;
    ASSERT_TRUE(server.registered);
    helper.buildCatalogue();
    helper.countTicks();
    smc::VirtualSMC smc;
    ASSERT_TRUE(smc.setKeyValue("TC0P", 75));
    ASSERT_TRUE(smc.setKeyValue("TG0P", 80));
    KLDataManager& settings = KLDataManager::sharedInstance();
    settings.setOverheatNotifications({hotRule("TC0P", false), hotRule("TG0P", true)});
    settings.setUpdateFrequency(KLUpdateFrequencyLow);
    const auto active = [&settings] {
        QList<bool> flags;
        for (const KLNotification& rule : settings.overheatNotifications().value_or(QList<KLNotification>()))
            flags << rule.active.value_or(false);
        return flags;
    };
    const auto waitForNotices = [&](qsizetype count) {
        return waitUntil([&] { return server.notices.size() >= count; }, 15000);
    };

    helper.start();
    ASSERT_TRUE(waitForNotices(2));
    EXPECT_EQ(server.notices.at(0).appName, "Kelvara Helper");
    EXPECT_EQ(server.notices.at(0).summary, "Overheat Warning");
    EXPECT_EQ(server.notices.at(0).body, KLSensor::sensorWithKey("TC0P")->name() + " has reached 75°.");
    EXPECT_EQ(server.notices.at(0).actions, QStringList({"default", ""}));
    EXPECT_TRUE(waitUntil([&] { return active() == QList<bool>({false, true}); }));

    // A frequency change restarts the loop, which ticks at once.
    const auto restartLoop = [&] {
        const int before = helper.ticks;
        settings.setUpdateFrequency(KLUpdateFrequencyLow);
        return helper.waitForTicks(before + 1);
    };
    ASSERT_TRUE(restartLoop());
    ASSERT_TRUE(waitForNotices(3));
    const FakeNotificationServer::Notice repeated = server.notices.last();
    EXPECT_TRUE(repeated.body.startsWith(KLSensor::sensorWithKey("TG0P")->name()));
    EXPECT_EQ(repeated.buttonTitle(), "Turn Off");

    // The server has the notice before the helper has its number; stop only once it is kept.
    const auto recorded = [&] {
        QFile record(helper.home.path() + "/.local/state/kelvara/delivered-notifications.json");
        record.open(QIODevice::ReadOnly);
        for (const QJsonValue& entry : QJsonDocument::fromJson(record.readAll())["notifications"].toArray())
            if (entry["id"].toInteger() == repeated.id)
                return true;
        return false;
    };
    ASSERT_TRUE(waitUntil(recorded));
    ASSERT_TRUE(helper.stop());
    ASSERT_TRUE(smc.setKeyValue("TG0P", 40));
    waitUntil([] { return false; }, 300);  // the last run's ticks, still on their way
    const int before = helper.ticks;
    helper.start();
    // The first tick is sent before the helper listens for clicks; the restart's comes after.
    ASSERT_TRUE(helper.waitForTicks(before + 1));
    ASSERT_TRUE(restartLoop());
    server.invokeAction(repeated.id, repeated.buttonKey());
    EXPECT_TRUE(waitUntil([&] { return active() == QList<bool>({false, false}); }));
    EXPECT_TRUE(waitUntil([&] { return server.closed.contains(repeated.id); }));
    EXPECT_EQ(server.notices.size(), 3);
    EXPECT_TRUE(helper.stop());
    EXPECT_EQ(helper.process.readAllStandardError(), "");
}

}  // namespace
