#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <gtest/gtest.h>

#include "Dispatch.h"
#include "HelperProcess.h"
#include "KLCategory.h"
#include "KLGraphPoint.h"
#include "KLSensor.h"
#include "ProcessMemory.h"

namespace {

class HelperPollLoopTest : public ::testing::Test {
protected:
    KLSensor* sensor(const QString& key)
    {
        const QList<KLSensor*> found = KLSensor::objectsWhere(NSPredicate::withFormat(QStringLiteral("key = %@"), key));
        return found.isEmpty() ? nullptr : found.first();
    }
    // A frequency change restarts the loop, which polls at once.
    void restartAt(unsigned frequency, KLDataManager& settings = KLDataManager::sharedInstance())
    {
        const int before = helper.ticks;
        settings.setUpdateFrequency(frequency);
        ASSERT_TRUE(helper.waitForTicks(before + 1)) << "no tick after the restart";
    }
    HelperProcess helper;
};

// With 10 s between ticks every tick is due for the hour series, so each restart
// adds one point. The test's store refreshes on each notice, as the windowed
// programs do, and must already see the tick's values.
TEST_F(HelperPollLoopTest, TicksStoreValuesPointsAndExtremesBeforeTheirNotice)
{
    helper.buildCatalogue();
    smc::VirtualSMC smc;
    ASSERT_TRUE(smc.setKeyValue("TC0P", 41.2));
    ASSERT_TRUE(smc.setKeyValue("VD0R", 12.0));
    KLDataManager::sharedInstance().setUpdateFrequency(2);
    double seenAtNotice = 0;
    NSDistributedNotificationCenter::defaultCenter().addObserver(
        this, QString::fromLatin1(KLKelvaraTempDidChangeNotification), [&](const NSNotification&) {
            // Queued behind the settings store's own refresh of this notice.
            dispatch_async(dispatch_get_main_queue(), [&] {
                if (KLSensor* cpu = sensor("TC0P"))
                    seenAtNotice = cpu->value();
            });
        });
    helper.countTicks();
    helper.start();
    ASSERT_TRUE(helper.waitForTicks(1));
    drainMainQueue();
    EXPECT_NEAR(seenAtNotice, 41.2, 0.01);  // sp78 keeps 1/256 degree

    ASSERT_TRUE(smc.setKeyValue("TC0P", 57.3));
    restartAt(1);  // 5 s: not due on its first tick
    drainMainQueue();
    EXPECT_NEAR(seenAtNotice, 57.3, 0.01);
    restartAt(2);
    drainMainQueue();

    KLSensor* cpu = sensor("TC0P");
    ASSERT_NE(cpu, nullptr);
    EXPECT_NEAR(cpu->value(), 57.3, 0.01);
    EXPECT_EQ(cpu->hourGraphPoints().size(), 2);
    EXPECT_EQ(cpu->recordedMinValue(), 41);
    EXPECT_EQ(cpu->recordedMaxValue(), 58);
    // Temperatures keep their catalogue range; voltages take the recorded one.
    EXPECT_NE(cpu->maxValue(), 58);
    KLSensor* volts = sensor("VD0R");
    ASSERT_NE(volts, nullptr);
    EXPECT_DOUBLE_EQ(volts->maxValue(), 12);
    EXPECT_DOUBLE_EQ(volts->minValue(), 10.8);
    // Every fan was read and has its history too.
    for (KLSensor* fan : KLSensor::fanSensors().value_or(QList<KLSensor*>())) {
        EXPECT_GT(fan->value(), 0) << qPrintable(fan->key());
        EXPECT_EQ(fan->hourGraphPoints().size(), 2);
    }

    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
    EXPECT_TRUE(helper.stop());
    EXPECT_EQ(helper.process.readAllStandardError(), "");
}

// The empty store (the main program never ran) is polled without complaint and
// still announces each tick; the helper never builds the catalogue itself.
TEST_F(HelperPollLoopTest, AnEmptyStoreStillTicksAndStaysEmpty)
{
    // Settings as the helper's own build has them: making them builds nothing.
    KLDataManager settings(KLDataManager::Program::Helper);
    helper.countTicks();
    helper.start();
    ASSERT_TRUE(helper.waitForTicks(1));
    restartAt(1, settings);
    EXPECT_TRUE(KLCategory::allObjects().isEmpty());
    EXPECT_TRUE(helper.stop());
}

// The helper posts through its ".notices" name once it has it; a stranger that
// took that name first is not heard for the running helper, which is.
TEST_F(HelperPollLoopTest, AStrangerHoldingTheHelpersNoticesNameIsNotHeard)
{
    KLDataManager settings(KLDataManager::Program::Helper);
    QDBusConnection stranger = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "kelvara-test-stranger");
    ASSERT_TRUE(stranger.registerService("com.orvane.kelvara.helper.notices"));
    QStringList heard;
    NSDistributedNotificationCenter::defaultCenter().addObserver(
        this, "KLTestStranger", [&](const NSNotification& n) { heard << n.object.toString(); });
    helper.countTicks();
    helper.start();
    ASSERT_TRUE(helper.waitForTicks(1));
    auto post = [&](const QString& object) {
        QDBusMessage signal = QDBusMessage::createSignal("/com/orvane/kelvara/DistributedNotifications",
                                                         "com.orvane.kelvara.DistributedNotifications", "Post");
        signal << QStringLiteral("KLTestStranger") << object << QVariant::fromValue(QMap<QString, QString>());
        ASSERT_TRUE(stranger.send(signal));
    };
    post("stranger");
    // Heard for the menu's name; the bus keeps one sender's order, so the first was taken before.
    ASSERT_TRUE(stranger.registerService("com.orvane.kelvara.menu"));
    post("menu");
    ASSERT_TRUE(waitUntil([&] { return heard.contains("menu"); }));
    EXPECT_EQ(heard, QStringList({"menu"}));

    NSDistributedNotificationCenter::defaultCenter().removeObserver(this);
    QDBusConnection::disconnectFromBus("kelvara-test-stranger");
    EXPECT_TRUE(helper.stop());
}

// The helper's ".notices" connection serves nothing, but reads and drops what
// reaches it, so that cannot pile up in the bus daemon; calls get an error. A
// message larger than any call it answers ends the connection instead of
// growing the helper.
TEST_F(HelperPollLoopTest, WhatReachesTheNoticesNameIsReadAndDropped)
{
    KLDataManager settings(KLDataManager::Program::Helper);
    helper.countTicks();
    helper.start();
    ASSERT_TRUE(helper.waitForTicks(1));
    QDBusConnection caller = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "kelvara-test-caller");
    const QString notices = QStringLiteral("com.orvane.kelvara.helper.notices");
    ASSERT_TRUE(waitUntil([&] { return caller.interface()->isServiceRegistered(notices).value(); }, 10000));
    const auto call = [&] {
        QDBusMessage message = QDBusMessage::createMethodCall(notices, "/", "com.orvane.kelvara.Test", "Take");
        return message << QByteArray(1024 * 1024, 'x');
    };
    // Sent without waiting for answers, then one that waits behind them.
    for (int i = 0; i < 31; ++i)
        ASSERT_TRUE(caller.send(call()));
    const QDBusMessage answer = caller.call(call(), QDBus::Block, 30000);
    EXPECT_EQ(answer.type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(answer.errorName().toStdString(), "org.freedesktop.DBus.Error.UnknownMethod") << qPrintable(answer.errorMessage());
    const int ticks = helper.ticks;
    EXPECT_TRUE(helper.waitForTicks(ticks + 1));

    // Large ones leave nothing behind, not even for a moment, and the helper still posts.
    const qint64 pid = helper.process.processId();
    const qint64 before = processKilobytes(pid, "VmRSS");
    const qint64 peakBefore = processKilobytes(pid, "VmHWM");
    for (int i = 0; i < 20; ++i) {
        QDBusMessage large = QDBusMessage::createMethodCall(notices, "/", "com.orvane.kelvara.Test", "Take");
        large << QByteArray(30 * 1024 * 1024, 'x');
        EXPECT_EQ(caller.call(large, QDBus::Block, 30000).type(), QDBusMessage::ErrorMessage);
    }
    EXPECT_LT(processKilobytes(pid, "VmRSS") - before, 8 * 1024);
    EXPECT_LT(processKilobytes(pid, "VmHWM") - peakBefore, 8 * 1024);
    EXPECT_TRUE(helper.waitForTicks(helper.ticks + 1));

    QDBusConnection::disconnectFromBus("kelvara-test-caller");
    EXPECT_TRUE(helper.stop());
}

}  // namespace
